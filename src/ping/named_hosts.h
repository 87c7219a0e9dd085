#pragma once

#include "core/address.h"
#include "platform/ipv4.h"

#include <unordered_map>
#include <vector>

namespace bv {

// Hosts listed by name, under the address each last resolved to: a reply
// from that address answers them whatever name the address itself has.
// Guarded by the run's vector mutex.
class NamedHosts {
public:
    // The sender resolved the host's name to `address`.
    void place(Address& host, platform::Ipv4Address address);
    // The host left the list.
    void forget(const Address& host);
    const std::vector<Address*>& at(platform::Ipv4Address address) const;

private:
    std::unordered_map<platform::Ipv4Address, std::vector<Address*>> byAddress_;
    std::unordered_map<const Address*, platform::Ipv4Address> placed_;
};

}  // namespace bv
