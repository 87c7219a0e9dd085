#pragma once

#include "platform/error_or.h"
#include "platform/ipv4.h"

#include <string>

namespace bv {

// Host name look-ups through the system's resolver (hosts file included).
// Both are safe to call from several threads at once.
namespace platform {

// The first IPv4 address of a name.
ErrorOr<Ipv4Address> lookUpName(const std::string& name);

// The official name of an address as the resolver has it.
ErrorOr<std::string> lookUpAddress(Ipv4Address address);

}  // namespace platform

}  // namespace bv
