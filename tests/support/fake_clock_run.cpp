#include "support/fake_clock_run.h"

namespace bv {

FakeClockRun::FakeClockRun(const std::string& lines, platform::CalendarTime start, const RunSettings& settings)
    : clock(start)
    , test(lines, clock, settings)
{
}

void FakeClockRun::send(Address& record)
{
    ASSERT_EQ(network().pingSemaphore().wait(), platform::WaitResult::Signalled);
    startRequest(network().engine(), record);
}

}  // namespace bv
