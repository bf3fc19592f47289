#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace moravel {

// Why work the core was given did not end as asked, told in the words a person
// reads ("The file could not be created. ...\n/media/usb/Film.ts: Permission
// denied"). The core never shows it: a front end decides where it goes (a
// message box, the error stream) and how loud it is.
struct Error {
    enum class Weight {
        Warning,  // the work went as far as it could; what it made is kept
        Stop,     // the work could not begin, or nothing of it is of use
    };
    std::string reason;
    Weight weight = Weight::Warning;
};

// Every failure that work met, in the order met: work that goes on past a
// failure (a folder listed without its unreadable sectors) may meet several, and
// some failures are told in more than one message.
using Errors = std::vector<Error>;

// A value, or the Error (or Errors) that kept it from being had.
template <typename T, typename E = Error>
class Result {
public:
    // A value, or what converts to one (a file of a kind, for a file).
    template <typename U = T>
    requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::decay_t<U>, E> &&
             !std::is_same_v<std::decay_t<U>, Result>) Result(U&& value)
        : m_held(std::in_place_index<0>, std::forward<U>(value)) {}        // NOLINT
    Result(E error) : m_held(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    explicit operator bool() const { return m_held.index() == 0; }
    T& operator*() { return std::get<0>(m_held); }
    const T& operator*() const { return std::get<0>(m_held); }
    T* operator->() { return &std::get<0>(m_held); }
    const T* operator->() const { return &std::get<0>(m_held); }
    const E& error() const { return std::get<1>(m_held); }

private:
    std::variant<T, E> m_held;
};

// What work that yields nothing returns: nothing when it was done, else the
// Error that kept it from being done.
using Failure = std::optional<Error>;

}  // namespace moravel
