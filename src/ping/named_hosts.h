#pragma once

#include "core/address.h"
#include "platform/ip_address.h"

#include <unordered_map>
#include <vector>

namespace bv {

// Hosts listed by name, under the address each last resolved to: a reply
// from that address answers them whatever name the address itself has.
// Guarded by the run's vector mutex.
class NamedHosts {
public:
    // The sender resolved the host's name to `address`.
    void place(Address& host, const platform::IpAddress& address);
    // The host left the list.
    void forget(const Address& host);
    const std::vector<Address*>& at(const platform::IpAddress& address) const;

private:
    std::unordered_map<platform::IpAddress, std::vector<Address*>, platform::IpAddressHash> byAddress_;
    std::unordered_map<const Address*, platform::IpAddress> placed_;
};

}  // namespace bv
