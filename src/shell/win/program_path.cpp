#include "shell/win/program_path.h"

#include <windows.h>

#include <vector>

namespace bv {

std::string programPath()
{
    // Long install paths exceed MAX_PATH; the buffer grows until the name fits.
    std::vector<char> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            break;
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
    return std::string();
}

std::string programArguments(const std::string& commandLine)
{
    // The name ends at its closing quote or, unquoted, at the first blank,
    // as the runtime splits it.
    std::size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        const std::size_t closing = commandLine.find('"', 1);
        at = closing == std::string::npos ? commandLine.size() : closing + 1;
    } else {
        at = commandLine.find_first_of(" \t");
        if (at == std::string::npos)
            at = commandLine.size();
    }
    at = commandLine.find_first_not_of(" \t", at);
    return at == std::string::npos ? std::string() : commandLine.substr(at);
}

}  // namespace bv
