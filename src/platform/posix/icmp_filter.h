#pragma once

namespace bv {

namespace platform::detail {

// Each Unix system: has the kernel drop, on a raw ICMP socket, every message
// type the receiver would only throw away (its own requests seen on
// loopback, other programs' pings), so they cost no wake-up, read or error
// note. Best effort: without the filter all still works.
void dropUnwantedIcmpTypes(int socket);

// The same for a raw ICMPv6 socket: echo replies and the errors the decoder
// reads pass, the rest (neighbour discovery, router adverts, requests) not.
void dropUnwantedIcmpv6Types(int socket);

}  // namespace platform::detail

}  // namespace bv
