#include "ping/round_trip_timing.h"

#include <algorithm>

namespace bv {

RoundTrip roundTripOf(
    const RoundTripWindow::SendMoment& sent, std::optional<std::int64_t> kernelArrival, std::int64_t receivedAt)
{
    const std::int64_t bracket = std::max<std::int64_t>(receivedAt - sent.sentAt, 0);
    if (sent.kernelSentAt && kernelArrival) {
        // The kernel's stamps lie between the program's two readings, which
        // bound the figure; both clocks run at one rate.
        const std::int64_t kernel = *kernelArrival - *sent.kernelSentAt;
        if (kernel >= 0 && kernel <= bracket)
            return { kernel, true };
    }
    return { bracket, false };
}

}  // namespace bv
