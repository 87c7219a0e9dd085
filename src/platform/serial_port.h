#pragma once

#include <cstddef>
#include <string>

#include "platform/error_or.h"
#include "platform/serial_line_state.h"

namespace bv {

namespace platform {

// A serial device held for writing by nobody else.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;

    // Closes any port held first. Fails when the device is absent or in use.
    ErrorOr<void> open(const std::string& deviceName);
#ifdef _WIN32
    bool isOpen() const { return handle_ != nullptr; }
#else
    bool isOpen() const { return fd_ >= 0; }
#endif

    ErrorOr<SerialLineState> readLineState() const;
    // Succeeds only when the line took every setting; what differs from the
    // current line is changed, the rest is left alone.
    ErrorOr<void> applyLineState(const SerialLineState& state);

    // Applies port settings in the mode-command syntax to the current line,
    // with the system's own reader where it has one; what the text does not
    // name keeps its value. Fails when the state cannot be read, the text is
    // rejected or the line refuses the result.
    ErrorOr<void> applySettingsText(const std::string& text);

    // Blocks until the system has taken the bytes: the count taken, fewer
    // only when the line failed part-way; an error when nothing was written.
    ErrorOr<std::size_t> write(const char* bytes, std::size_t count);

    void close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace platform

}  // namespace bv
