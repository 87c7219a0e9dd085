#pragma once

#include "core/monitor_events.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace bv {

// Message boxes are counted, not written: the fuzzer runs them by the million.
class CountingDesktop final : public MonitorListener {
public:
    void setTrayState(TrayState) override {}
    void addressChanged(Address&) override {}
    void addressStillRed(Address&) override {}
    void showMessageBox(const std::string&, const std::string&, MessageIcon) override { ++boxes; }
    void quit() override {}

    int boxes = 0;
};

// An invariant that does not hold ends the run the way a sanitizer finding
// does, so that libFuzzer keeps the input.
[[noreturn]] void invariantBroken(const char* what, const std::string& detail = {});

#define FUZZ_CHECK(condition, detail)                                                                                 \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            invariantBroken(#condition, detail);                                                                       \
    } while (0)

std::string bytesAsText(const std::uint8_t* data, std::size_t size);

// Where a target writes the file it reads back: BV_FUZZ_SCRATCH, which
// scripts/fuzz.sh sets and removes afterwards, or else /tmp.
std::string scratchDirectory();

}  // namespace bv
