#include "platform/posix/icmp_filter.h"

#include "platform/icmp_numbers.h"

#include <linux/icmp.h>
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

}  // namespace platform::detail

}  // namespace bv
