#include "output/cereal.h"

#include <cstdio>

#include "platform/last_system_error.h"

namespace bv {

Cereal::~Cereal()
{
    close();
}

namespace {

// The port's callers read the reason as the thread's last system error.
template<typename T>
bool succeeded(const platform::ErrorOr<T>& result)
{
    if (!result.is_error())
        return true;
    platform::setLastSystemError(result.error().code());
    return false;
}

}  // namespace

bool Cereal::open(const std::string& portName)
{
    return succeeded(port.open(portName));
}

bool Cereal::configure(const std::string& settingsText)
{
    return succeeded(port.applySettingsText(settingsText));
}

int Cereal::write(const char* bytes, int count)
{
    if (count < 0) {
        platform::setInvalidArgumentError();
        return -1;
    }
    const auto written = port.write(bytes, static_cast<std::size_t>(count));
    return succeeded(written) ? static_cast<int>(written.value()) : -1;
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
        if (const auto state = port.readLineState(); !state.is_error()) {
            char settings[128];
            std::snprintf(settings, sizeof settings, "Your current settings: Baud rate=%d parity=%d stop=%d",
                static_cast<int>(state.value().baudRate), state.value().parity, state.value().stopBits);
            text += settings;
        }
    }
    platform::setLastSystemError(code);
    return text;
}

}  // namespace bv
