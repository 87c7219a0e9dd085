#include "core/round_trips.h"

#include <algorithm>

namespace bv {

RoundTripWindow::RoundTripWindow(int size)
    : requests_(static_cast<std::size_t>(std::clamp(size, 1, kLargestSize)))
{
    sorted_.reserve(requests_.size());
}

void RoundTripWindow::requestSent(std::uint16_t sequence, SendMoment moment)
{
    requests_[next_] = Request { moment, -1, sequence };
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
        request->sent.kernelSentAt = kernelSentAt;
}

bool RoundTripWindow::replyCame(std::uint16_t sequence, std::int64_t roundTrip)
{
    auto* request = const_cast<Request*>(find(sequence));
    if (!request || request->roundTrip >= 0)
        return false;
    request->roundTrip = std::max<std::int64_t>(roundTrip, 0);
    latest_ = request->roundTrip;
    return true;
}

std::optional<RoundTripWindow::SendMoment> RoundTripWindow::unanswered(std::uint16_t sequence) const
{
    const Request* request = find(sequence);
    if (!request || request->roundTrip >= 0)
        return std::nullopt;
    return request->sent;
}

RoundTripFigures RoundTripWindow::figures(std::int64_t now, std::int64_t timeOut) const
{
    RoundTripFigures figures;
    sorted_.clear();
    std::int64_t sum = 0;
    std::int64_t differences = 0;
    std::optional<std::int64_t> previous;
    // Oldest first, so that the jitter follows the order of the requests.
    for (std::size_t back = held_; back >= 1; --back) {
        const Request& request = requests_[(next_ + requests_.size() - back) % requests_.size()];
        if (request.roundTrip < 0) {
            if (now - request.sent.sentAt >= timeOut) {
                ++figures.requests;
                ++figures.lost;
            }
            continue;
        }
        ++figures.requests;
        ++figures.replies;
        sum += request.roundTrip;
        if (previous)
            differences += request.roundTrip > *previous ? request.roundTrip - *previous : *previous - request.roundTrip;
        previous = request.roundTrip;
        sorted_.push_back(request.roundTrip);
    }
    // A request that left the window undecided counts as decided.
    figures.decidedEver = sentEver_ - (held_ - static_cast<std::size_t>(figures.requests));
    if (sorted_.empty())
        return figures;
    figures.latest = latest_;
    const auto [lowest, highest] = std::minmax_element(sorted_.begin(), sorted_.end());
    figures.minimum = *lowest;
    figures.maximum = *highest;
    figures.mean = sum / static_cast<std::int64_t>(sorted_.size());
    figures.jitter = sorted_.size() > 1 ? differences / static_cast<std::int64_t>(sorted_.size() - 1) : 0;
    const std::size_t middle = sorted_.size() / 2;
    std::nth_element(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(middle), sorted_.end());
    figures.median = sorted_[middle];
    if (sorted_.size() % 2 == 0) {
        const std::int64_t below = *std::max_element(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(middle));
        figures.median = (below + figures.median) / 2;
    }
    return figures;
}

}  // namespace bv
