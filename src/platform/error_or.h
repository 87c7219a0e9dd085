#pragma once

#include "platform/last_system_error.h"

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace bv {

// One way for the platform layer to report failure: a value or an Error,
// never a side channel the caller must remember to read.
namespace platform {

class Error {
public:
    // The code is the system's (errno; GetLastError() or the sockets
    // layer's on Windows), 0 when the failure has none. The text is short
    // and names what failed ("open", "rename").
    Error(int code, std::string text) : code_(code), text_(std::move(text)) { }

    static Error fromLastSystemError(std::string text) { return Error(lastSystemError(), std::move(text)); }

    int code() const { return code_; }
    const std::string& text() const { return text_; }
    // For people: the text and the system's words for the code.
    std::string message() const { return code_ == 0 ? text_ : text_ + ": " + systemErrorText(code_); }

private:
    int code_;
    std::string text_;
};

template<typename T>
class [[nodiscard]] ErrorOr {
public:
    ErrorOr(T value) : state_(std::in_place_index<0>, std::move(value)) { }
    ErrorOr(Error error) : state_(std::in_place_index<1>, std::move(error)) { }

    bool is_error() const { return state_.index() == 1; }
    const Error& error() const { return std::get<1>(state_); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T release_value() { return std::move(std::get<0>(state_)); }

private:
    std::variant<T, Error> state_;
};

template<>
class [[nodiscard]] ErrorOr<void> {
public:
    ErrorOr() = default;
    ErrorOr(Error error) : error_(std::move(error)) { }

    bool is_error() const { return error_.has_value(); }
    const Error& error() const { return error_.value(); }

private:
    std::optional<Error> error_;
};

}  // namespace platform

}  // namespace bv
