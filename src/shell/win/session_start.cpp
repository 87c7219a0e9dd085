#include "shell/win/session_start.h"

#include "shell/win/program_path.h"
#include "shell/win/registry_key.h"

#include <windows.h>

namespace bv {

std::string sessionStartCommand()
{
    const std::string arguments = programArguments(::GetCommandLineA());
    return "\"" + programPath() + "\"" + (arguments.empty() ? "" : " " + arguments);
}

bool startsWithSession()
{
    return RegistryKey::open(kRunKey).hasValue(kRunValue);
}

bool setStartWithSession(bool start)
{
    if (start)
        return RegistryKey::create(kRunKey).writeString(kRunValue, sessionStartCommand());
    const RegistryKey key = RegistryKey::open(kRunKey);
    return !key.hasValue(kRunValue) || key.deleteValue(kRunValue);
}

}  // namespace bv
