#pragma once

#include "platform/last_system_error.h"

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace bv {

// The platform layer's one way to report failure: a value or an Error,
// never a side channel the caller must remember to read.
namespace platform {

// What a caller may need to tell apart; the rest is Other and only shown.
enum class ErrorKind {
    Other,
    // The file or device could not be opened or created, so nothing changed.
    CouldNotOpen,
    // A datagram longer than the caller's buffer (its first bytes are there).
    MessageTooLong,
};

class Error {
public:
    // The code is the system's (errno; GetLastError() or the sockets
    // layer's on Windows), 0 when the failure has none. The text is short
    // and names what failed ("open", "rename").
    Error(int code, std::string text, ErrorKind kind = ErrorKind::Other)
        : code_(code)
        , text_(std::move(text))
        , kind_(kind)
    {
    }

    static Error fromLastSystemError(std::string text, ErrorKind kind = ErrorKind::Other)
    {
        return Error(lastSystemError(), std::move(text), kind);
    }

    int code() const { return code_; }
    const std::string& text() const { return text_; }
    ErrorKind kind() const { return kind_; }
    bool is(ErrorKind kind) const { return kind_ == kind; }
    // For people: the text and the system's words for the code.
    std::string message() const { return code_ == 0 ? text_ : text_ + ": " + systemErrorText(code_); }

private:
    int code_;
    std::string text_;
    ErrorKind kind_;
};

template<typename T, typename E = Error>
class [[nodiscard]] ErrorOr {
public:
    using ErrorType = E;

    ErrorOr(T value)
        : state_(std::in_place_index<0>, std::move(value))
    {
    }
    ErrorOr(E error)
        : state_(std::in_place_index<1>, std::move(error))
    {
    }

    bool is_error() const { return state_.index() == 1; }
    const E& error() const { return std::get<1>(state_); }
    E release_error() { return std::move(std::get<1>(state_)); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T release_value() { return std::move(std::get<0>(state_)); }

private:
    std::variant<T, E> state_;
};

template<typename E>
class [[nodiscard]] ErrorOr<void, E> {
public:
    using ErrorType = E;

    ErrorOr() = default;
    ErrorOr(E error)
        : error_(std::move(error))
    {
    }

    bool is_error() const { return error_.has_value(); }
    const E& error() const { return error_.value(); }
    E release_error() { return std::move(error_.value()); }
    void release_value() { }

private:
    std::optional<E> error_;
};

}  // namespace platform

}  // namespace bv

// Passes an error up unchanged, or gives the value: `auto size = TRY(fileSize(name));`.
// A statement expression, as GCC and Clang both have.
#define TRY(expression)                                        \
    ({                                                         \
        auto _bv_try_result = (expression);                    \
        if (_bv_try_result.is_error())                         \
            return _bv_try_result.release_error();             \
        _bv_try_result.release_value();                        \
    })
