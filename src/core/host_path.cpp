#include "core/host_path.h"

namespace bv {

std::optional<int> hopsAway(int receivedTimeToLive)
{
    if (receivedTimeToLive <= 0 || receivedTimeToLive > 255)
        return std::nullopt;
    const int initial = receivedTimeToLive <= 64 ? 64 : receivedTimeToLive <= 128 ? 128 : 255;
    return initial - receivedTimeToLive + 1;
}

}  // namespace bv
