#pragma once

#include "core/round_trip_histogram.h"
#include "core/host_history.h"
#include "core/round_trips.h"
#include "platform/clock.h"
#include "platform/ip_address.h"

#include <atomic>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>

namespace bv {

using platform::CalendarTime;

// The numbers are the ones the files and the summary have always used; any
// status other than green or yellow reads as red.
enum class HostStatus : std::int32_t { Green = 0, Yellow = 1, Red = 2 };
enum class PingState : std::int32_t { Idle = 0, AwaitingReply = 1, ChangePending = 2 };

// Which of a name's addresses a host pings; a numeric host pings its own.
enum class HostFamily : std::uint8_t {
    Either,  // the IPv4 address when the name has one, else the IPv6 one
    V4,
    V6,
};

// The name a dual-stack host's IPv6 twin is listed under: its line's name
// and this.
inline constexpr const char* kIpv6TwinSuffix = " (IPv6)";

// One ping result as recordResult takes it.
struct PingResult {
    platform::IpAddress address;  // where the reply came from; not read by recordResult
    std::string errorText;              // empty for a good reply
    std::int32_t ok = 0;                // non-zero when the request was answered
    std::int64_t roundTrip = -1;        // microseconds, when the answer was timed
};

// A host's alarms for a slow or lossy window, each with its hysteresis:
// how many of the latest requests in a row found the figure back below 80 %
// of its threshold, and how many of the window's requests were decided when
// the alarms were last judged.
struct RoundTripAlarms {
    bool slow = false;
    bool loss = false;
    std::int32_t slowCalmRequests = 0;
    std::int32_t lossCalmRequests = 0;
    std::uint64_t decidedSeen = 0;
};

// The ctime text of a time in local time, without the trailing newline:
// Www Mmm dd hh:mm:ss yyyy.
std::string formatTime(CalendarTime time);

// The record of one monitored host. It has no lock of its own: its ping
// fields are guarded by the run's vector mutex.
class Address {
public:
    // The host constructor; `now` is the time of construction.
    Address(const std::string& name, const std::string& hostText, const std::string& comment,
        std::int32_t interval, std::int32_t ttl, CalendarTime now);
    Address(const Address& other);
    Address& operator=(const Address& other);
    virtual ~Address() = default;

    PingState recordResult(const PingResult& result);

    std::string getStatusText() const;
    std::string getStatusFields() const;
    virtual std::string getText() const;
    std::string getDownText() const;

    std::string getName() const { return name_; }
    std::string getHostText() const { return hostText_; }
    std::string getComment() const { return comment_; }
    std::string getErrorText() const { return errorText_; }
    CalendarTime getLastReplyTime() const { return lastReplyTime_; }
    CalendarTime getDownSince() const { return downSince_; }
    CalendarTime getLastSendTime() const { return lastSendTime_; }
    std::int32_t getInterval() const { return interval_; }
    std::int32_t getTtl() const { return ttl_; }
    // Read by the sender without the lock, to send answering hosts first.
    HostStatus getStatus() const { return status_.load(std::memory_order_relaxed); }
    PingState getPingState() const;
    // The host text's own address; nothing for a name.
    const std::optional<platform::IpAddress>& getNumericAddress() const { return numericAddress_; }
    // For a name: which of its addresses the host pings. Set before the
    // record is listed: the sender reads it without the lock.
    HostFamily getFamily() const { return family_; }
    void setFamily(HostFamily value) { family_ = value; }
    // What tells the host apart in the list: the compact text of a numeric
    // host's address, so that two texts of one address are one host; the
    // text of a name; for a name's IPv6 twin, the text and kIpv6TwinSuffix.
    const std::string& getKey() const { return key_; }
    // Turns a name's record into its IPv6 twin: it pings the name's IPv6
    // address and is listed and keyed with kIpv6TwinSuffix.
    void makeIpv6Twin();
    bool isIpv6Twin() const { return ipv6Twin_; }
    std::int32_t getTimeOut() const { return timeOut_; }
    // The engine's own accounting: requests that went out to the host and
    // good replies matched to them. Guarded by the run's vector mutex.
    std::uint32_t getRequestsSent() const { return requestsSent_; }
    std::uint32_t getRepliesMatched() const { return repliesMatched_; }
    void countRequestSent() { ++requestsSent_; }
    void countReplyMatched() { ++repliesMatched_; }
    // The round trips of the host's latest requests; none before its first
    // request. A copy of the record has none: the log's copies do not need
    // them. Guarded by the run's vector mutex.
    const RoundTripWindow* getRoundTrips() const { return roundTrips_.get(); }
    RoundTripWindow& roundTrips(int windowSize);
    RoundTripWindow* roundTripsIfAny() { return roundTrips_.get(); }
    // The window's figures now (`now` on the monotonic clock in
    // microseconds); all zero before the first request.
    RoundTripFigures getRoundTripFigures(std::int64_t now) const;
    // Every reply's round trip since the host was listed, for the metrics;
    // none before its first reply, and a copy has none. Guarded by the
    // run's vector mutex.
    const RoundTripHistogram* getRoundTripHistogram() const { return histogram_.get(); }
    RoundTripHistogram& roundTripHistogram();
    // The slow and loss alarms (-slow, -loss) the status sweep keeps; they
    // never change the status. Guarded by the run's vector mutex.
    const RoundTripAlarms& getAlarms() const { return alarms_; }
    RoundTripAlarms& alarms() { return alarms_; }
    // What the status page shows of the host's past: kept only from
    // keepHistory on (1.8 KB a host, for a page that may never be served),
    // and none in a copy. Guarded by the run's vector mutex.
    const HostHistory* getHistory() const { return history_.get(); }
    HostHistory* keptHistory() { return history_.get(); }
    void keepHistory();
    // When the record was made, from which its history counts.
    CalendarTime getListedAt() const { return listedAt_; }
    // The echo sequence number of the host's next request; its requests
    // count from 0 and wrap. The sender alone takes them, under the lock.
    std::uint16_t takeSequence() { return awaitedSequence_ = nextSequence_++; }
    // The sequence number of the latest request, which a reply must carry to
    // answer it.
    std::uint16_t getAwaitedSequence() const { return awaitedSequence_; }
    // The address and time to live of the host's latest good reply, for
    // the path watch: a name's address is known only from its replies.
    // Guarded by the run's vector mutex.
    const std::optional<platform::IpAddress>& getRepliedFrom() const { return repliedFrom_; }
    int getReplyTimeToLive() const { return replyTimeToLive_; }
    void setReplied(const platform::IpAddress& from, int timeToLive)
    {
        repliedFrom_ = from;
        replyTimeToLive_ = timeToLive;
    }
    // Turns to red so far. Guarded by the run's vector mutex.
    std::uint32_t getOutages() const { return outages_; }
    // The schedule's own view of the latest request: when it went out on the
    // monotonic clock (milliseconds), and whether it still holds one of the
    // counts of requests in flight. Guarded by the run's vector mutex; the
    // sender, which alone writes the send time, also reads it without.
    std::int64_t getSentAt() const { return sentAt_; }
    void setSentAt(std::int64_t value) { sentAt_ = value; }
    bool getHoldsCount() const { return holdsCount_; }
    void setHoldsCount(bool value) { holdsCount_ = value; }

    // The host text is the source of the numeric address and of the key,
    // and the sender reads it without the lock, so it is fixed once the
    // record exists.
    void setName(const std::string& value) { name_ = value; }
    void setComment(const std::string& value) { comment_ = value; }
    void setErrorText(const std::string& value) { errorText_ = value; }
    void setLastReplyTime(CalendarTime value) { lastReplyTime_ = value; }
    void setDownSince(CalendarTime value) { downSince_ = value; }
    void setLastSendTime(CalendarTime value) { lastSendTime_ = value; }
    void setInterval(std::int32_t value) { interval_ = value; }
    void setTtl(std::int32_t value) { ttl_ = value; }
    void setStatus(HostStatus value) { status_.store(value, std::memory_order_relaxed); }
    void setPingState(PingState value);
    void setTimeOut(std::int32_t value) { timeOut_ = value; }

private:
    void initialise(const std::string& name, const std::string& hostText, const std::string& comment,
        std::int32_t interval, std::int32_t ttl, HostStatus status, PingState pingState,
        CalendarTime lastReplyTime, CalendarTime downSince, CalendarTime lastSendTime,
        const std::string& errorText, std::int32_t timeOut);

    std::string name_;
    std::string hostText_;
    std::string comment_;
    std::string errorText_;
    CalendarTime lastReplyTime_ = 0;
    CalendarTime downSince_ = 0;
    CalendarTime lastSendTime_ = 0;
    std::int32_t interval_ = 0;
    std::int32_t ttl_ = 0;
    std::atomic<HostStatus> status_ { HostStatus::Green };
    // The sender reads it without the lock to decide whether a host is due,
    // so it is kept atomically; every change still happens under the lock.
    std::atomic<PingState> pingState_ { PingState::Idle };
    std::optional<platform::IpAddress> numericAddress_;
    std::string key_;
    HostFamily family_ = HostFamily::Either;
    bool ipv6Twin_ = false;
    std::int32_t timeOut_ = 10;
    std::uint32_t requestsSent_ = 0;
    std::uint32_t repliesMatched_ = 0;
    std::uint32_t outages_ = 0;
    std::int64_t sentAt_ = 0;
    bool holdsCount_ = false;
    std::unique_ptr<RoundTripWindow> roundTrips_;
    std::unique_ptr<RoundTripHistogram> histogram_;
    RoundTripAlarms alarms_;
    std::unique_ptr<HostHistory> history_;
    CalendarTime listedAt_ = 0;
    std::optional<platform::IpAddress> repliedFrom_;
    int replyTimeToLive_ = -1;
    std::uint16_t nextSequence_ = 0;
    std::uint16_t awaitedSequence_ = 0;
};

}  // namespace bv
