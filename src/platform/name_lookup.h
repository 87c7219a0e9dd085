#pragma once

#include "platform/ipv4.h"

#include <string>

namespace bv {

// Host name look-ups through the system's resolver (hosts file included).
// Both are safe to call from several threads at once.
namespace platform {

// The first IPv4 address of a name; false when it has none.
bool lookUpName(const std::string& name, Ipv4Address& address);

// The official name of an address as the resolver has it; false when the
// address has no name.
bool lookUpAddress(Ipv4Address address, std::string& name);

}  // namespace platform

}  // namespace bv
