#include "run/dual_stack_names.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace bv {

namespace {

constexpr std::size_t kLookUpsAtOnce = 16;

}  // namespace

void twinDualStackNames(Region& region, const NameResolver& resolve)
{
    std::vector<std::string> names;
    for (std::size_t position = 0; position < region.hostCount(); ++position) {
        const Address& host = *region.host(position);
        if (!host.getNumericAddress() && !host.isIpv6Twin())
            names.push_back(host.getHostText());
    }
    if (names.empty())
        return;
    std::vector<char> hasBoth(names.size(), 0);
    std::atomic<std::size_t> next { 0 };
    auto lookUp = [&] {
        for (std::size_t index; (index = next.fetch_add(1)) < names.size();) {
            const auto found = resolve(names[index]);
            hasBoth[index] = !found.is_error() && found.value().v4 && found.value().v6;
        }
    };
    {
        std::vector<std::jthread> workers;
        for (std::size_t worker = 1; worker < std::min(kLookUpsAtOnce, names.size()); ++worker)
            workers.emplace_back(lookUp);
        lookUp();
    }
    std::set<std::string> dualStack;
    for (std::size_t index = 0; index < names.size(); ++index) {
        if (hasBoth[index])
            dualStack.insert(names[index]);
    }
    region.addIpv6Twins([&dualStack](const Address& host) { return dualStack.count(host.getHostText()) != 0; });
}

}  // namespace bv
