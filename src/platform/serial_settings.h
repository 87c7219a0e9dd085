#pragma once

#include <string>

#include "platform/serial_line_state.h"

namespace bv {

namespace platform {

// Reads port settings in the mode-command syntax, either the key form
// ("baud=9600 parity=N data=8 stop=1 octs=on") or the comma form
// ("9600,n,8,1" with an optional ",x" or ",p"), and applies them to `state`.
// What the text does not name keeps its value. A text that cannot be read
// in full leaves `state` untouched and gives false.
bool applySerialSettingsText(const std::string& text, SerialLineState& state);

// True for the rates a serial line can be set to here.
bool isSupportedBaudRate(std::uint32_t baudRate);

}  // namespace platform

}  // namespace bv
