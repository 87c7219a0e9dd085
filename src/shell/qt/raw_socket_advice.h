#pragma once

#include <string>

namespace bv {

// A desktop program started by a user who may open neither a raw ICMP socket
// nor an ICMP datagram socket would fail every host without telling why; the
// user is told the two ways to let the program ping.

// The text of the error box for refused sockets, naming `program`.
std::string rawSocketAdvice(const std::string& program);

// Opens and closes the run's ICMP socket; when the system refuses both kinds
// for want of rights, shows the error box and returns true.
bool adviseWhenRawSocketRefused(const std::string& program);

}  // namespace bv
