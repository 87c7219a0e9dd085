#pragma once

#include <string>

namespace bv {

// The help page installed beside the program (the ZIP and the MSI carry it),
// so that it opens without a network.
std::string helpPagePath();

}  // namespace bv
