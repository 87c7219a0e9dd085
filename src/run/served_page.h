#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bv {

// Where the run's HTTP server listens, for the shells: published by the
// server for its lifetime, so that nothing offers a page no one serves.
struct ServedPlace {
    std::string address;
    std::uint16_t port = 0;
};

std::optional<ServedPlace> currentServedPlace();

class ServedPlacePublication {
public:
    explicit ServedPlacePublication(ServedPlace place);
    ~ServedPlacePublication();
    ServedPlacePublication(const ServedPlacePublication&) = delete;
    ServedPlacePublication& operator=(const ServedPlacePublication&) = delete;
};

}  // namespace bv
