#include "core/round_trips.h"

#include <algorithm>
#include <array>

namespace bv {

RoundTripWindow::SendMoment RoundTripWindow::Request::sent() const
{
    return { sentAt, kernelSentAt == kNoStamp ? std::nullopt : std::optional<std::int64_t>(kernelSentAt) };
}

RoundTripWindow::RoundTripWindow(int size)
    : requests_(static_cast<std::size_t>(std::clamp(size, 1, kLargestSize)))
{
}

void RoundTripWindow::requestSent(std::uint16_t sequence, SendMoment moment)
{
    requests_[next_] = Request { moment.sentAt, moment.kernelSentAt.value_or(Request::kNoStamp), -1, sequence };
    next_ = (next_ + 1) % requests_.size();
    held_ = std::min(held_ + 1, requests_.size());
    ++sentEver_;
}

const RoundTripWindow::Request* RoundTripWindow::find(std::uint16_t sequence) const
{
    // Newest first: a reply is nearly always to the latest request.
    for (std::size_t back = 1; back <= held_; ++back) {
        const Request& request = requests_[(next_ + requests_.size() - back) % requests_.size()];
        if (request.sequence == sequence)
            return &request;
    }
    return nullptr;
}

void RoundTripWindow::stampSend(std::uint16_t sequence, std::int64_t kernelSentAt)
{
    if (auto* request = const_cast<Request*>(find(sequence)))
        request->kernelSentAt = kernelSentAt;
}

bool RoundTripWindow::replyCame(std::uint16_t sequence, std::int64_t roundTrip)
{
    auto* request = const_cast<Request*>(find(sequence));
    if (!request || request->roundTrip >= 0)
        return false;
    request->roundTrip = static_cast<std::int32_t>(std::clamp<std::int64_t>(roundTrip, 0, INT32_MAX));
    latest_ = request->roundTrip;
    return true;
}

std::optional<RoundTripWindow::SendMoment> RoundTripWindow::unanswered(std::uint16_t sequence) const
{
    const Request* request = find(sequence);
    if (!request || request->roundTrip >= 0)
        return std::nullopt;
    return request->sent();
}

RoundTripFigures RoundTripWindow::figures(std::int64_t now, std::int64_t timeOut) const
{
    RoundTripFigures figures;
    // On the stack: the windows of thousands of hosts need no room of their own for it.
    std::array<std::int32_t, kLargestSize> replies;
    std::size_t count = 0;
    std::int64_t sum = 0;
    std::int64_t differences = 0;
    std::optional<std::int64_t> previous;
    // Oldest first, so that the jitter follows the order of the requests.
    for (std::size_t back = held_; back >= 1; --back) {
        const Request& request = requests_[(next_ + requests_.size() - back) % requests_.size()];
        if (request.roundTrip < 0) {
            if (now - request.sentAt >= timeOut) {
                ++figures.requests;
                ++figures.lost;
            }
            continue;
        }
        ++figures.requests;
        ++figures.replies;
        const std::int64_t roundTrip = request.roundTrip;
        sum += roundTrip;
        if (previous)
            differences += roundTrip > *previous ? roundTrip - *previous : *previous - roundTrip;
        previous = roundTrip;
        replies[count++] = request.roundTrip;
    }
    // A request that left the window undecided counts as decided.
    figures.decidedEver = sentEver_ - (held_ - static_cast<std::size_t>(figures.requests));
    if (count == 0)
        return figures;
    figures.latest = latest_;
    const auto begin = replies.begin();
    const auto end = replies.begin() + static_cast<std::ptrdiff_t>(count);
    const auto [lowest, highest] = std::minmax_element(begin, end);
    figures.minimum = *lowest;
    figures.maximum = *highest;
    figures.mean = sum / static_cast<std::int64_t>(count);
    figures.jitter = count > 1 ? differences / static_cast<std::int64_t>(count - 1) : 0;
    const auto middle = begin + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(begin, middle, end);
    figures.median = *middle;
    if (count % 2 == 0)
        figures.median = (*std::max_element(begin, middle) + figures.median) / 2;
    return figures;
}

}  // namespace bv
