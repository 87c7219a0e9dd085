#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

namespace bv {

// The figures of a host's latest requests, in microseconds. The reply
// figures are there only when the window holds a reply.
struct RoundTripFigures {
    std::int32_t requests = 0;  // requests of the window whose fate is known: answered, or timed out
    std::int32_t replies = 0;   // requests of the window that were answered
    std::int32_t lost = 0;      // requests of the window not answered within the time-out
    std::optional<std::int64_t> latest;  // the newest reply's round trip
    std::int64_t minimum = 0;
    std::int64_t median = 0;
    std::int64_t mean = 0;
    std::int64_t maximum = 0;
    // Mean absolute difference of consecutive round trips; 0 below two replies.
    std::int64_t jitter = 0;
    // Requests whose fate is known since the window was made, those that
    // left it included: the alarms count newly decided requests by it.
    std::uint64_t decidedEver = 0;

    bool hasReplies() const { return replies > 0; }
    // Lost over requests; 0 while no request's fate is known.
    double lossRatio() const { return requests > 0 ? static_cast<double>(lost) / requests : 0.0; }
};

// The last N requests to one host and their round trips. Its memory is taken
// once, when it is made: a reply costs no allocation.
class RoundTripWindow {
public:
    static constexpr int kDefaultSize = 20;
    static constexpr int kLargestSize = 1000;

    explicit RoundTripWindow(int size = kDefaultSize);

    int size() const { return static_cast<int>(requests_.size()); }

    // When a request went out: on the caller's monotonic clock, and on the
    // kernel's clock when the kernel stamped it (microseconds both).
    struct SendMoment {
        std::int64_t sentAt = 0;
        std::optional<std::int64_t> kernelSentAt;
    };

    // A request with this echo sequence number went out; the oldest leaves
    // the window.
    void requestSent(std::uint16_t sequence, SendMoment moment);
    // The kernel's stamp of the request's send, once it has it.
    void stampSend(std::uint16_t sequence, std::int64_t kernelSentAt);
    // The round trip of a request of the window that has no reply yet; false
    // for a sequence the window does not hold or a request already answered,
    // which then changes nothing.
    bool replyCame(std::uint16_t sequence, std::int64_t roundTrip);
    // The send moment of a request of the window that is still unanswered.
    std::optional<SendMoment> unanswered(std::uint16_t sequence) const;

    // The window's figures at `now` (the clock of requestSent): a request
    // unanswered `timeOut` after it went out counts as lost; one younger
    // than that counts as neither answered nor lost yet.
    RoundTripFigures figures(std::int64_t now, std::int64_t timeOut) const;

private:
    // Kept small: a window per host, by the ten thousand.
    struct Request {
        static constexpr std::int64_t kNoStamp = INT64_MIN;
        std::int64_t sentAt = 0;
        std::int64_t kernelSentAt = kNoStamp;
        std::int32_t roundTrip = -1;  // -1 while unanswered; clamped to about 35 minutes
        std::uint16_t sequence = 0;

        SendMoment sent() const;
    };
    const Request* find(std::uint16_t sequence) const;

    std::vector<Request> requests_;  // a ring: `next_` is where the next request goes
    std::size_t next_ = 0;
    std::size_t held_ = 0;
    std::uint64_t sentEver_ = 0;
    std::optional<std::int64_t> latest_;  // the round trip of the reply that came last
};

}  // namespace bv
