#pragma once

#include <string>

namespace bv {

// The user's Run key, where a value starts a program when the user logs in.
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValue = "BeaconVigilor";

// The running program's quoted path and its arguments: what starts it again
// as it runs now.
std::string sessionStartCommand();

bool startsWithSession();
// Writes or removes the Run value; false when the registry refused.
bool setStartWithSession(bool start);

}  // namespace bv
