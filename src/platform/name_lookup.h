#pragma once

#include "platform/error_or.h"
#include "platform/ip_address.h"

#include <optional>

#include <string>

namespace bv {

// Host name look-ups through the system's resolver (hosts file included).
// Both are safe to call from several threads at once.
namespace platform {

// The first address of each family that a name has; at least one of them.
struct NameAddresses {
    std::optional<IpAddress> v4;
    std::optional<IpAddress> v6;
};
ErrorOr<NameAddresses> lookUpName(const std::string& name);

// The official name of an address as the resolver has it.
ErrorOr<std::string> lookUpAddress(const IpAddress& address);

}  // namespace platform

}  // namespace bv
