#pragma once

#include "run/network.h"
#include "support/fake_clock.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"

#include <gtest/gtest.h>

#include <string>

namespace bv {

// A run on the fake clock over the given host lines, for the tests of the
// sweep, the receiver and the schedule: nothing runs unless a test calls it.
class FakeClockRun : public testing::Test {
protected:
    explicit FakeClockRun(const std::string& lines, platform::CalendarTime start = 1108980907,
        const RunSettings& settings = {});

    Network& network() { return *test.network; }
    Address& host(std::size_t position) { return *network().host(position); }
    // What the sender does once due: a count, then the request.
    void send(Address& record);

    ExitFlagReset exitFlag;
    RecordingDesktop desktop;
    FakeClock clock;
    TestNetwork test;
};

}  // namespace bv
