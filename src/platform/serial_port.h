#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/serial_line_state.h"

namespace platform {

// A serial device held for writing only and by nobody else. Every failing
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
    bool isOpen() const { return fd_ >= 0; }

    std::optional<SerialLineState> readLineState() const;
    // True only when the line took every setting; what differs from the
    // current line is changed, the rest is left alone.
    bool applyLineState(const SerialLineState& state);

    // Blocks until the system has taken the bytes. Returns the count taken,
    // or -1 when nothing could be written.
    long write(const char* bytes, std::size_t count);

    void close();

private:
    int fd_ = -1;
};

}  // namespace platform
