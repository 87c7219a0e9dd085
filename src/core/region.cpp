#include "core/region.h"

namespace bv {

Region::Region(const std::string& name, std::int32_t interval, std::int32_t ttl, std::int32_t timeOut,
    std::int32_t packetSize, CalendarTime now)
    : Address(name, std::string(), name, interval, ttl, now)
    , pingTtl_(ttl)
    , packetSize_(packetSize)
    , statusTime_(now)
{
    setTimeOut(timeOut);
}

Region::~Region()
{
    destroyHosts();
}

bool Region::addAddress(std::unique_ptr<Address>& record)
{
    const std::string& key = record->getKey();
    auto found = hostIndex_.lower_bound(key);
    if (found != hostIndex_.end() && found->first == key)
        return false;
    // Room first, so that the index never names a record the list failed to
    // take; grown by doubling, as growing by one moved every pointer on every
    // add and made loading quadratic in the number of hosts.
    if (hosts_.size() == hosts_.capacity())
        hosts_.reserve(hosts_.capacity() < 16 ? 16 : hosts_.capacity() * 2);
    hostIndex_.emplace_hint(found, key, record.get());
    hosts_.push_back(std::move(record));
    return true;
}

Address* Region::findHost(const std::string& key) const
{
    auto found = hostIndex_.find(key);
    return found == hostIndex_.end() ? nullptr : found->second;
}

Address* Region::findHost(const platform::IpAddress& address) const
{
    return findHost(platform::addressText(address));
}

void Region::addIpv6Twins(const std::function<bool(const Address&)>& hasBoth)
{
    std::vector<std::unique_ptr<Address>> listed;
    listed.reserve(hosts_.size());
    for (auto& record : hosts_) {
        const bool twinned = !record->getNumericAddress() && !record->isIpv6Twin() && hasBoth(*record);
        Address* original = record.get();
        listed.push_back(std::move(record));
        if (!twinned)
            continue;
        auto twin = std::make_unique<Address>(*original);
        twin->makeIpv6Twin();
        if (hostIndex_.count(twin->getKey()) != 0)
            continue;
        original->setFamily(HostFamily::V4);
        hostIndex_.emplace(twin->getKey(), twin.get());
        listed.push_back(std::move(twin));
    }
    hosts_ = std::move(listed);
}

std::vector<std::unique_ptr<Address>> Region::adoptHosts(Region& fresh, std::vector<Address*>& added)
{
    std::map<std::string, std::unique_ptr<Address>> listed;
    std::vector<std::string> oldOrder;
    oldOrder.reserve(hosts_.size());
    for (auto& record : hosts_) {
        oldOrder.push_back(record->getKey());
        listed.emplace(oldOrder.back(), std::move(record));
    }
    hosts_.clear();
    hostIndex_.clear();
    hosts_.reserve(fresh.hosts_.size());
    for (auto& record : fresh.hosts_) {
        // The sender reads the host text and the family without the lock, so
        // a record keeps them: one written anew is a new host.
        auto kept = listed.find(record->getKey());
        if (kept != listed.end() && kept->second->getHostText() == record->getHostText()
            && kept->second->getFamily() == record->getFamily()) {
            kept->second->setName(record->getName());
            kept->second->setComment(record->getComment());
            hosts_.push_back(std::move(kept->second));
            listed.erase(kept);
        } else {
            added.push_back(record.get());
            hosts_.push_back(std::move(record));
        }
        hostIndex_.emplace(hosts_.back()->getKey(), hosts_.back().get());
    }
    hasNamedHosts_ = fresh.hasNamedHosts_;
    fresh.hosts_.clear();
    fresh.hostIndex_.clear();

    std::vector<std::unique_ptr<Address>> removed;
    for (const std::string& text : oldOrder) {
        if (auto left = listed.find(text); left != listed.end())
            removed.push_back(std::move(left->second));
    }
    return removed;
}

void Region::setCounts(std::int32_t red, std::int32_t yellow, std::int32_t green)
{
    redCount_.store(red, std::memory_order_relaxed);
    yellowCount_.store(yellow, std::memory_order_relaxed);
    greenCount_.store(green, std::memory_order_relaxed);
}

void Region::setStatusTime(CalendarTime value)
{
    statusTime_.store(value, std::memory_order_relaxed);
    setLastSendTime(value);
}

std::string Region::getText() const
{
    std::string text;
    for (const auto& record : hosts_) {
        text += record->getText();
        text += "\r\n";
    }
    return text;
}

void Region::destroyHosts()
{
    for (auto& record : hosts_)
        record.reset();
    hosts_.clear();
    hostIndex_.clear();
}

}  // namespace bv
