#include "ping/named_hosts.h"

#include <algorithm>

namespace bv {

void NamedHosts::place(Address& host, const platform::IpAddress& address)
{
    const auto placed = placed_.find(&host);
    if (placed != placed_.end()) {
        if (placed->second == address)
            return;
        std::vector<Address*>& old = byAddress_[placed->second];
        old.erase(std::remove(old.begin(), old.end(), &host), old.end());
    }
    placed_[&host] = address;
    byAddress_[address].push_back(&host);
}

void NamedHosts::forget(const Address& host)
{
    const auto placed = placed_.find(&host);
    if (placed == placed_.end())
        return;
    std::vector<Address*>& there = byAddress_[placed->second];
    there.erase(std::remove(there.begin(), there.end(), &host), there.end());
    if (there.empty())
        byAddress_.erase(placed->second);
    placed_.erase(placed);
}

const std::vector<Address*>& NamedHosts::at(const platform::IpAddress& address) const
{
    static const std::vector<Address*> none;
    const auto found = byAddress_.find(address);
    return found == byAddress_.end() ? none : found->second;
}

}  // namespace bv
