#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/serial_line_state.h"

namespace bv {

namespace platform {

// A serial device held for writing by nobody else. Every failing
// operation leaves its reason in the calling thread's last system error.
class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;

    // Closes any port held first. Fails when the device is absent or in use.
    bool open(const std::string& deviceName);
#ifdef _WIN32
    bool isOpen() const { return handle_ != nullptr; }
#else
    bool isOpen() const { return fd_ >= 0; }
#endif

    std::optional<SerialLineState> readLineState() const;
    // True only when the line took every setting; what differs from the
    // current line is changed, the rest is left alone.
    bool applyLineState(const SerialLineState& state);

    // Applies port settings in the mode-command syntax to the current line,
    // with the system's own reader where it has one; what the text does not
    // name keeps its value. False when the state cannot be read, the text is
    // rejected or the line refuses the result.
    bool applySettingsText(const std::string& text);

    // Blocks until the system has taken the bytes. Returns the count taken,
    // or -1 when nothing could be written.
    long write(const char* bytes, std::size_t count);

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
