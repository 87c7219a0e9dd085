#include "shell/win/session_start.h"

#include "run/command_line.h"
#include "shell/win/program_path.h"
#include "shell/win/registry_key.h"

#include <windows.h>

#include <string>
#include <vector>

namespace bv {

std::string sessionStartCommand()
{
    // Started at logon, the program runs in another directory: its files are
    // named as they are found from here.
    std::vector<std::string> arguments = splitCommandLine(programArguments(::GetCommandLineA()));
    arguments.insert(arguments.begin(), programPath());
    char directory[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryA(MAX_PATH, directory);
    arguments = argumentsForAnotherStart(arguments, length > 0 && length < MAX_PATH ? directory : "");
    std::string command;
    for (const std::string& argument : arguments) {
        const bool first = command.empty();
        if (!first)
            command += ' ';
        const bool quoted = first || argument.empty() || argument.find_first_of(" \t") != std::string::npos;
        command += quoted ? "\"" + argument + "\"" : argument;
    }
    return command;
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
