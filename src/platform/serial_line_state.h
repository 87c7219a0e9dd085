#pragma once

#include <cstdint>

namespace bv {

namespace platform {

// Codes kept as the Windows communications layer numbers them, since they are
// shown to the user in that form.
enum SerialParity : int { kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3, kParitySpace = 4 };
enum SerialStopBits : int { kStopOne = 0, kStopOneAndHalf = 1, kStopTwo = 2 };
enum SerialDtrControl : int { kDtrOff = 0, kDtrOn = 1, kDtrHandshake = 2 };
enum SerialRtsControl : int { kRtsOff = 0, kRtsOn = 1, kRtsHandshake = 2, kRtsToggle = 3 };

// One serial line's settings, independent of how the system stores them.
struct SerialLineState {
    std::uint32_t baudRate = 9600;
    int parity = kParityNone;
    int dataBits = 8;
    int stopBits = kStopOne;
    bool ctsOutputFlow = false;
    bool dsrOutputFlow = false;
    int dtrControl = kDtrOn;
    int rtsControl = kRtsOn;
    bool dsrSensitivity = false;
    bool xonXoff = false;
    bool timeouts = false;

    bool operator==(const SerialLineState&) const = default;
};

}  // namespace platform

}  // namespace bv
