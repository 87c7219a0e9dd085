#pragma once

#include <string>

namespace bv {

// The full path of the running program's file.
std::string programPath();

// The program's own arguments as the process got them, without its name.
std::string programArguments(const std::string& commandLine);

}  // namespace bv
