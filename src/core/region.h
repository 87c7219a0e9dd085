#pragma once

#include "core/address.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bv {

// The registry of a run: every host record in load order, and an index by
// key (see Address::getKey). Its own Address fields hold run-wide values.
class Region : public Address {
public:
    Region(const std::string& name, std::int32_t interval, std::int32_t ttl, std::int32_t timeOut,
        std::int32_t packetSize, CalendarTime now);
    ~Region() override;
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    // Takes the record when its key is new; otherwise leaves it with the
    // caller and returns false.
    bool addAddress(std::unique_ptr<Address>& record);
    Address* findHost(const std::string& key) const;
    // The host listed with that address as its host text.
    Address* findHost(const platform::IpAddress& address) const;

    // Gives every name whose record `hasBoth` says has addresses of both
    // families an IPv6 twin right after it; the name's own record then pings
    // its IPv4 address.
    void addIpv6Twins(const std::function<bool(const Address&)>& hasBoth);

    // Makes the hosts of `fresh` (just loaded, with this registry's
    // settings) the list, in their order. A host whose text was listed
    // already keeps its record, so its status, times, counts and a request
    // in flight, and takes the new line's name and comment; another text of
    // the same address is a new record. `added` gets
    // the records that are new; the records that left the list are handed
    // back in their old order. `fresh` is left empty.
    std::vector<std::unique_ptr<Address>> adoptHosts(Region& fresh, std::vector<Address*>& added);

    std::size_t hostCount() const { return hosts_.size(); }
    Address* host(std::size_t position) const { return hosts_[position].get(); }

    std::int32_t getPingTtl() const { return pingTtl_; }
    std::int32_t getPacketSize() const { return packetSize_; }
    // How many of each host's latest requests its round-trip figures cover.
    std::int32_t getWindowSize() const { return windowSize_; }
    void setWindowSize(std::int32_t value) { windowSize_ = value; }
    bool getHasNamedHosts() const { return hasNamedHosts_; }
    void setHasNamedHosts(bool value) { hasNamedHosts_ = value; }
    // Which addresses of a name its host pings; `-family both` loads names
    // as Either and then adds their twins.
    HostFamily getNameFamily() const { return nameFamily_; }
    void setNameFamily(HostFamily value) { nameFamily_ = value; }

    // Written by the sweep at the end of each pass, read by the summary from
    // another thread without a lock.
    std::int32_t getRedCount() const { return redCount_.load(std::memory_order_relaxed); }
    std::int32_t getYellowCount() const { return yellowCount_.load(std::memory_order_relaxed); }
    std::int32_t getGreenCount() const { return greenCount_.load(std::memory_order_relaxed); }
    void setCounts(std::int32_t red, std::int32_t yellow, std::int32_t green);
    // When the latest sweep pass ended (the run's own latest "send" time).
    CalendarTime getStatusTime() const { return statusTime_.load(std::memory_order_relaxed); }
    void setStatusTime(CalendarTime value);

    std::string getText() const override;

protected:
    // Destroys every record in load order and empties the registry.
    void destroyHosts();

private:
    std::map<std::string, Address*> hostIndex_;
    std::vector<std::unique_ptr<Address>> hosts_;
    std::int32_t pingTtl_;
    std::int32_t packetSize_;
    std::int32_t windowSize_ = RoundTripWindow::kDefaultSize;
    bool hasNamedHosts_ = false;
    HostFamily nameFamily_ = HostFamily::Either;
    std::atomic<std::int32_t> redCount_ { 0 };
    std::atomic<std::int32_t> yellowCount_ { 0 };
    std::atomic<std::int32_t> greenCount_ { 0 };
    std::atomic<CalendarTime> statusTime_;
};

}  // namespace bv
