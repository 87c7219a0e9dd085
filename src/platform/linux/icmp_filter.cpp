#include "platform/posix/icmp_filter.h"

#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace bv {

namespace platform::detail {

void dropUnwantedIcmpTypes(int socket)
{
    icmp_filter unwanted {};
    unwanted.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_TIME_EXCEEDED));
    (void)setsockopt(socket, SOL_RAW, ICMP_FILTER, &unwanted, sizeof unwanted);
}

}  // namespace platform::detail

}  // namespace bv
