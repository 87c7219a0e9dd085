#include "support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace bv {

void invariantBroken(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string bytesAsText(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::string scratchDirectory()
{
    const char* directory = std::getenv("BV_FUZZ_SCRATCH");
    return directory && *directory ? directory : "/tmp";
}

}  // namespace bv
