#pragma once

#include <optional>
#include <string>
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
    Result(T value) : m_held(std::move(value)) {}      // NOLINT: a value is a result
    Result(Error error) : m_held(std::move(error)) {}  // NOLINT: so is an error

    explicit operator bool() const { return std::holds_alternative<T>(m_held); }
    T& operator*() { return std::get<T>(m_held); }
    const T& operator*() const { return std::get<T>(m_held); }
    T* operator->() { return &std::get<T>(m_held); }
    const T* operator->() const { return &std::get<T>(m_held); }
    const Error& error() const { return std::get<Error>(m_held); }

private:
    std::variant<T, Error> m_held;
};

// Work that yields nothing but may fail: nothing, or the Error.
using Outcome = std::optional<Error>;

}  // namespace moravel
