#pragma once

#include "ping/icmp_message.h"
#include "ping/icmp_socket.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace bv {

// The length of a received IPv4 datagram's header, in bytes.
inline int headerLength(const std::vector<std::uint8_t>& datagram)
{
    return (datagram[0] & 15) * 4;
}

// Reads datagrams until `done` accepts one or five seconds pass. Other
// programs' ICMP reaches every raw socket too, so each test picks its own.
inline bool receiveUntil(const platform::IcmpEndpoint& socket,
    const std::function<bool(const std::vector<std::uint8_t>&, int, const MessageSource&)>& done)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::vector<std::uint8_t> buffer(65536);
    for (int round = 0; round < 10000 && Clock::now() < deadline; ++round) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const auto readable = platform::waitForReadable(socket, static_cast<unsigned>(left > 0 ? left : 0));
        if (readable.is_error())
            return false;
        if (!readable.value())
            continue;
        MessageSource sender;
        const int count = receiveMessage(socket, sender, buffer.data(), static_cast<int>(buffer.size()));
        if (count > 0 && done(buffer, count, sender))
            return true;
    }
    return false;
}

}  // namespace bv
