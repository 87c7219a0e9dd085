#pragma once

#include <string>

#include "platform/serial_port.h"

namespace bv {

// Writes the log text to a serial port. The port is held only between open
// and close, and nobody else may hold it meanwhile.
class Cereal {
public:
    Cereal() = default;
    virtual ~Cereal();
    Cereal(const Cereal&) = delete;
    Cereal& operator=(const Cereal&) = delete;

    bool open(const std::string& portName);
    // Settings the text does not name keep the port's current values.
    bool configure(const std::string& settingsText);
    // The count written, or -1 on failure.
    int write(const char* bytes, int count);
    void close();
    // The calling thread's last system error, and the port's settings when
    // they can be read.
    std::string errorDescription() const;

private:
    platform::SerialPort port;
};

}  // namespace bv
