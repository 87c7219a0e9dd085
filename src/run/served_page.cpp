#include "run/served_page.h"

#include <mutex>

namespace bv {

namespace {

std::mutex placeGuard;
std::optional<ServedPlace> place;

}  // namespace

std::optional<ServedPlace> currentServedPlace()
{
    std::lock_guard lock(placeGuard);
    return place;
}

ServedPlacePublication::ServedPlacePublication(ServedPlace served)
{
    std::lock_guard lock(placeGuard);
    place = std::move(served);
}

ServedPlacePublication::~ServedPlacePublication()
{
    std::lock_guard lock(placeGuard);
    place.reset();
}

}  // namespace bv
