#include "output/cereal.h"

#include <cstdio>

#include "platform/last_system_error.h"

namespace bv {

Cereal::~Cereal()
{
    close();
}

bool Cereal::open(const std::string& portName)
{
    return port.open(portName);
}

bool Cereal::configure(const std::string& settingsText)
{
    return port.applySettingsText(settingsText);
}

int Cereal::write(const char* bytes, int count)
{
    if (count < 0) {
        platform::setInvalidArgumentError();
        return -1;
    }
    const long written = port.write(bytes, static_cast<std::size_t>(count));
    return written < 0 ? -1 : static_cast<int>(written);
}

void Cereal::close()
{
    port.close();
}

std::string Cereal::errorDescription() const
{
    // First, before anything below can overwrite it.
    const int code = platform::lastSystemError();
    std::string text = platform::systemErrorText(code);
    if (port.isOpen()) {
        if (const auto state = port.readLineState()) {
            char settings[128];
            std::snprintf(settings, sizeof settings, "Your current settings: Baud rate=%d parity=%d stop=%d",
                          static_cast<int>(state->baudRate), state->parity, state->stopBits);
            text += settings;
        }
    }
    platform::setLastSystemError(code);
    return text;
}

}  // namespace bv
