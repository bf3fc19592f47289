#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

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

// A value, or the Error that kept it from being had.
template <typename T>
class Result {
public:
    // A value, or what converts to one (a file of a kind, for a file).
    template <typename U = T>
    requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::decay_t<U>, Error> &&
             !std::is_same_v<std::decay_t<U>, Result>) Result(U&& value)
        : m_held(std::in_place_index<0>, std::forward<U>(value)) {}            // NOLINT
    Result(Error error) : m_held(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    explicit operator bool() const { return std::holds_alternative<T>(m_held); }
    T& operator*() { return std::get<T>(m_held); }
    const T& operator*() const { return std::get<T>(m_held); }
    T* operator->() { return &std::get<T>(m_held); }
    const T* operator->() const { return &std::get<T>(m_held); }
    const Error& error() const { return std::get<Error>(m_held); }

private:
    std::variant<T, Error> m_held;
};

// What work that yields nothing returns: nothing when it was done, else the
// Error that kept it from being done.
using Failure = std::optional<Error>;

}  // namespace moravel
