#pragma once

#include <string>

namespace bv {

// A desktop program started by a user without the right to raw sockets would
// fail every host without telling why; the user is told the one command
// that gives the program that right.

// The text of the error box for a refused raw socket, naming `program`.
std::string rawSocketAdvice(const std::string& program);

// Opens and closes a raw ICMP socket; when the system refuses it for want of
// rights, shows the error box and returns true.
bool adviseWhenRawSocketRefused(const std::string& program);

}  // namespace bv
