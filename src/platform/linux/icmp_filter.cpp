#include "platform/posix/icmp_filter.h"

#include "platform/icmp_numbers.h"

#include <initializer_list>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace bv {

namespace platform::detail {

void dropUnwantedIcmpTypes(int socket)
{
    icmp_filter unwanted {};
    unwanted.data = ~((1u << kIcmpEchoReply) | (1u << kIcmpDestinationUnreachable) | (1u << kIcmpTimeExceeded));
    (void)setsockopt(socket, SOL_RAW, ICMP_FILTER, &unwanted, sizeof unwanted);
}

void dropUnwantedIcmpv6Types(int socket)
{
    icmp6_filter wanted;
    ICMP6_FILTER_SETBLOCKALL(&wanted);
    for (const std::uint8_t type :
        { kIcmpv6EchoReply, kIcmpv6DestinationUnreachable, kIcmpv6PacketTooBig, kIcmpv6TimeExceeded })
        ICMP6_FILTER_SETPASS(type, &wanted);
    (void)setsockopt(socket, IPPROTO_ICMPV6, ICMP6_FILTER, &wanted, sizeof wanted);
}

}  // namespace platform::detail

}  // namespace bv
