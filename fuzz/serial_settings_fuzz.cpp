// The serial port settings text of "-spp", applied to a port's state.

#include "platform/serial_settings.h"
#include "support/fuzz_support.h"

using namespace bv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = bytesAsText(data, size);
    platform::SerialLineState state;
    state.baudRate = 19200;
    state.stopBits = platform::kStopTwo;
    const platform::SerialLineState before = state;

    if (!platform::applySerialSettingsText(text, state)) {
        FUZZ_CHECK(state == before, text);
        return 0;
    }
    FUZZ_CHECK(platform::isSupportedBaudRate(state.baudRate), text + " baud " + std::to_string(state.baudRate));
    FUZZ_CHECK(state.parity >= platform::kParityNone && state.parity <= platform::kParitySpace, text);
    FUZZ_CHECK(state.dataBits >= 5 && state.dataBits <= 8, text + " data " + std::to_string(state.dataBits));
    FUZZ_CHECK(state.stopBits >= platform::kStopOne && state.stopBits <= platform::kStopTwo, text);
    FUZZ_CHECK(state.dtrControl >= platform::kDtrOff && state.dtrControl <= platform::kDtrHandshake, text);
    FUZZ_CHECK(state.rtsControl >= platform::kRtsOff && state.rtsControl <= platform::kRtsToggle, text);

    // Reading the same text again changes nothing more.
    platform::SerialLineState again = state;
    FUZZ_CHECK(platform::applySerialSettingsText(text, again), text);
    FUZZ_CHECK(again == state, text);
    return 0;
}
