#include "core/address.h"

#include "platform/local_time.h"
#include "core/monitor_events.h"

#include <algorithm>
#include <cstdio>

namespace bv {

std::string formatTime(CalendarTime time)
{
    static const char* const weekdays[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    static const char* const months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep",
        "Oct", "Nov", "Dec" };
    const platform::LocalTime local = platform::localTimeOf(time);
    const int weekday = local.weekday >= 0 && local.weekday < 7 ? local.weekday : 0;
    const int month = local.month >= 1 && local.month <= 12 ? local.month - 1 : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", weekdays[weekday], months[month], local.day,
        local.hour, local.minute, local.second, local.year);
    return text;
}

Address::Address(const std::string& name, const std::string& hostText, const std::string& comment,
    std::int32_t interval, std::int32_t ttl, CalendarTime now)
{
    initialise(name, hostText, comment, interval, ttl, HostStatus::Green, PingState::Idle, now, 0, now, std::string(), 10);
    listedAt_ = now;
}

Address::Address(const Address& other)
{
    *this = other;
}

Address& Address::operator=(const Address& other)
{
    if (this != &other) {
        initialise(other.name_, other.hostText_, other.comment_, other.interval_, other.ttl_, other.getStatus(),
            other.getPingState(), other.lastReplyTime_, other.downSince_, other.lastSendTime_, other.errorText_,
            other.timeOut_);
        family_ = other.family_;
        ipv6Twin_ = other.ipv6Twin_;
        key_ = other.key_;
        requestsSent_ = other.requestsSent_;
        repliesMatched_ = other.repliesMatched_;
        outages_ = other.outages_;
        listedAt_ = other.listedAt_;
        sentAt_ = other.sentAt_;
        holdsCount_ = other.holdsCount_;
    }
    return *this;
}

void Address::initialise(const std::string& name, const std::string& hostText, const std::string& comment,
    std::int32_t interval, std::int32_t ttl, HostStatus status, PingState pingState, CalendarTime lastReplyTime,
    CalendarTime downSince, CalendarTime lastSendTime, const std::string& errorText, std::int32_t timeOut)
{
    name_ = name;
    hostText_ = hostText;
    comment_ = comment;
    interval_ = interval;
    ttl_ = ttl;
    status_ = status;
    setPingState(pingState);
    lastReplyTime_ = lastReplyTime;
    downSince_ = downSince;
    lastSendTime_ = lastSendTime;
    errorText_ = errorText;
    timeOut_ = timeOut;
    // A malformed IPv6 text never gets this far: the host list refuses it.
    const auto numeric = platform::parseHostAddress(hostText_);
    numericAddress_ = numeric.is_error() ? std::nullopt : numeric.value();
    key_ = numericAddress_ ? platform::addressText(*numericAddress_) : hostText_;
}

RoundTripWindow& Address::roundTrips(int windowSize)
{
    if (!roundTrips_)
        roundTrips_ = std::make_unique<RoundTripWindow>(windowSize);
    return *roundTrips_;
}

RoundTripHistogram& Address::roundTripHistogram()
{
    if (!histogram_)
        histogram_ = std::make_unique<RoundTripHistogram>();
    return *histogram_;
}

RoundTripFigures Address::getRoundTripFigures(std::int64_t now) const
{
    if (!roundTrips_)
        return {};
    return roundTrips_->figures(now, std::int64_t(timeOut_) * 1000000);
}

void Address::makeIpv6Twin()
{
    family_ = HostFamily::V6;
    ipv6Twin_ = true;
    name_ += kIpv6TwinSuffix;
    key_ = hostText_ + kIpv6TwinSuffix;
}

PingState Address::getPingState() const
{
    return pingState_.load(std::memory_order_acquire);
}

void Address::setPingState(PingState value)
{
    pingState_.store(value, std::memory_order_release);
}

void Address::keepHistory()
{
    if (!history_)
        history_ = std::make_unique<HostHistory>(listedAt_);
}

PingState Address::recordResult(const PingResult& result)
{
    // The strip has a cell per request, at the moment it went out.
    if (history_ && result.ok != 0)
        history_->answered(lastSendTime_, std::max<std::int64_t>(result.roundTrip, 0));
    else if (history_)
        history_->unanswered(lastSendTime_);
    const HostStatus oldStatus = getStatus();
    if (result.ok != 0)
        lastReplyTime_ = lastSendTime_;

    HostStatus newStatus = oldStatus;
    PingState pending = PingState::Idle;
    if (oldStatus == HostStatus::Green) {
        if (result.ok == 0) {
            newStatus = HostStatus::Yellow;
            downSince_ = lastSendTime_;
            errorText_ = result.errorText;
        }
    } else if (oldStatus == HostStatus::Yellow) {
        if (result.ok != 0) {
            newStatus = HostStatus::Green;
        } else {
            newStatus = HostStatus::Red;
            errorText_ = result.errorText;
            pending = PingState::ChangePending;
            ++outages_;
        }
    } else {  // red, and any value that reads as red
        if (result.ok != 0) {
            newStatus = HostStatus::Green;
            pending = PingState::ChangePending;
        } else {
            newStatus = HostStatus::Red;
            errorText_ = result.errorText;
        }
    }
    status_ = newStatus;

    if (newStatus != oldStatus)
        notifyAddressChanged(this);
    else if (newStatus == HostStatus::Red)
        notifyAddressStillRed(this);
    return pending;
}

std::string Address::getStatusText() const
{
    switch (getStatus()) {
    case HostStatus::Green:
        return "GREEN";
    case HostStatus::Yellow:
        return "YELLOW";
    default:
        return "RED";
    }
}

std::string Address::getStatusFields() const
{
    std::string fields = getStatusText();
    fields += '\t';
    fields += name_;
    fields += '\t';
    fields += hostText_;
    fields += '\t';
    fields += comment_;
    fields += '\t';
    if (getStatus() == HostStatus::Green) {
        char duration[64];
        std::snprintf(duration, sizeof duration, "%f", static_cast<double>(lastReplyTime_ - downSince_));
        fields += duration;
    } else if (getStatus() != HostStatus::Yellow) {
        fields += '\t';
        fields += errorText_;
    }
    return fields;
}

std::string Address::getText() const
{
    return formatTime(lastSendTime_) + '\t' + getStatusFields();
}

std::string Address::getDownText() const
{
    return formatTime(downSince_) + '\t' + getStatusFields();
}

}  // namespace bv
