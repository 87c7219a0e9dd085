// The input file: the bytes are written to a file and loaded as a run does.

#include "core/input_file.h"
#include "core/startup_failure.h"
#include "platform/ipv4.h"
#include "support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <unistd.h>

using namespace bv;

namespace {

bool holdsWhiteSpace(const std::string& text)
{
    for (char c : text)
        if (isWhiteSpace(c))
            return true;
    return false;
}

const std::string& fileName()
{
    static const std::string name = [] {
        std::atexit([] { std::remove(fileName().c_str()); });
        return scratchDirectory() + "/bv-input-fuzz-" + std::to_string(getpid()) + ".txt";
    }();
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream file(fileName(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CountingDesktop desktop;
    ListenerRegistration installed(desktop);
    Region region("fuzz", 5000, 20, 1000, 44, 1000000);
    try {
        loadInputFile(region, fileName(), 1000000);
    } catch (const StartupFailure& failure) {
        invariantBroken("the written file could not be loaded", failure.what());
    }

    std::set<std::string> seen;
    bool named = false;
    for (std::size_t position = 0; position < region.hostCount(); ++position) {
        const Address& host = *region.host(position);
        const std::string& text = host.getHostText();
        FUZZ_CHECK(!text.empty(), "");
        FUZZ_CHECK(!host.getName().empty(), text);
        FUZZ_CHECK(seen.insert(host.getKey()).second, text);
        FUZZ_CHECK(region.findHost(host.getKey()) == &host, text);
        FUZZ_CHECK(!holdsWhiteSpace(text) && !holdsWhiteSpace(host.getName()), text);
        FUZZ_CHECK(text.size() <= kMaxFieldLength && host.getName().size() <= kMaxFieldLength, text);
        const std::string& comment = host.getComment();
        FUZZ_CHECK(comment.size() <= kMaxCommentLength, comment);
        FUZZ_CHECK(comment.empty() || (!isWhiteSpace(comment.front()) && !isWhiteSpace(comment.back())), comment);
        FUZZ_CHECK(host.getStatus() == HostStatus::Green, text);
        const auto numeric = platform::parseHostAddress(text);
        FUZZ_CHECK(!numeric.is_error(), text);
        if (!numeric.value())
            named = true;
    }
    if (named)
        FUZZ_CHECK(region.getHasNamedHosts(), "");
    // Every line is either loaded or reported, except comments, empty lines
    // and a line that repeats an earlier host.
    std::size_t lines = 0;
    for (std::size_t at = 0; at < size; ++at)
        if (data[at] == '\n')
            ++lines;
    if (size > 0 && data[size - 1] != '\n')
        ++lines;
    FUZZ_CHECK(region.hostCount() + static_cast<std::size_t>(desktop.boxes) <= lines, "");
    return 0;
}
