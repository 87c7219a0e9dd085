#include "core/address.h"

#include "support/recording_desktop.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

using namespace bv;

namespace {

constexpr CalendarTime kLoaded = 1108980907;  // Mon Feb 21 10:15:07 2005 UTC

PingResult miss(const std::string& text)
{
    return PingResult { {}, text, 0 };
}

PingResult answer()
{
    return PingResult { platform::IpAddress::fromIpv4(0x0100007f), "", 1 };
}

class AddressTest : public testing::Test {
protected:
    void SetUp() override { useUtcTimeZone(); }
    RecordingDesktop desktop;
    Address host { "router-2", "10.0.0.2", "core switch", 30000, 20, kLoaded };
};

}  // namespace

TEST_F(AddressTest, FreshRecord)
{
    EXPECT_EQ(host.getStatus(), HostStatus::Green);
    EXPECT_EQ(host.getPingState(), PingState::Idle);
    EXPECT_EQ(host.getDownSince(), 0);
    EXPECT_EQ(host.getErrorText(), "");
    EXPECT_EQ(host.getTimeOut(), 10);
    EXPECT_EQ(host.getLastSendTime(), kLoaded);
    EXPECT_EQ(host.getLastReplyTime(), kLoaded);
    EXPECT_EQ(host.getInterval(), 30000);
    EXPECT_EQ(host.getTtl(), 20);
    EXPECT_EQ(host.getNumericAddress(), platform::IpAddress::fromIpv4(0x0200000au));
    EXPECT_EQ(host.getKey(), "10.0.0.2");

    Address named("mail", "mailhost", "", 30000, 20, kLoaded);
    EXPECT_FALSE(named.getNumericAddress());
    EXPECT_EQ(named.getKey(), "mailhost");
    named.setStatus(HostStatus::Red);
    named.setErrorText("Timed out");
    named.setFamily(HostFamily::V6);
    Address copy(named);
    EXPECT_FALSE(copy.getNumericAddress());
    EXPECT_EQ(copy.getFamily(), HostFamily::V6);
    EXPECT_EQ(copy.getText(), named.getText());
    Address hostCopy(host);
    EXPECT_EQ(hostCopy.getNumericAddress(), host.getNumericAddress());

    // An IPv6 host keeps its text as written and is keyed by its compact text.
    Address six("six", "2001:2:0:0::A", "", 30000, 20, kLoaded);
    EXPECT_EQ(six.getHostText(), "2001:2:0:0::A");
    EXPECT_EQ(six.getKey(), "2001:2::a");
    EXPECT_EQ(six.getStatusFields(), "GREEN\tsix\t2001:2:0:0::A\t\t1108980907.000000");
    // A name's twin: its own name and key, the same host text; copies keep it.
    Address twin(named);
    twin.makeIpv6Twin();
    const Address twinCopy(twin);
    EXPECT_EQ(twinCopy.getName(), "mail (IPv6)");
    EXPECT_EQ(twinCopy.getHostText(), "mailhost");
    EXPECT_EQ(twinCopy.getKey(), "mailhost (IPv6)");
    EXPECT_TRUE(twinCopy.isIpv6Twin());
    EXPECT_EQ(twinCopy.getFamily(), HostFamily::V6);
}

TEST_F(AddressTest, MissMissTurnsRedWithTheSecondError)
{
    host.setLastSendTime(kLoaded + 30);
    EXPECT_EQ(host.recordResult(miss("Timed out")), PingState::Idle);
    EXPECT_EQ(host.getStatus(), HostStatus::Yellow);
    EXPECT_EQ(host.getDownSince(), kLoaded + 30);
    EXPECT_EQ(host.getErrorText(), "Timed out");

    host.setLastSendTime(kLoaded + 60);
    EXPECT_EQ(host.recordResult(miss("TTL expired")), PingState::ChangePending);
    EXPECT_EQ(host.getStatus(), HostStatus::Red);
    EXPECT_EQ(host.getDownSince(), kLoaded + 30);
    EXPECT_EQ(host.getErrorText(), "TTL expired");

    auto notices = desktop.notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_FALSE(notices[0].stillRed);
    EXPECT_EQ(notices[0].status, HostStatus::Yellow);
    EXPECT_FALSE(notices[1].stillRed);
    EXPECT_EQ(notices[1].status, HostStatus::Red);
    EXPECT_EQ(notices[1].address, &host);

    EXPECT_EQ(host.getText(), "Mon Feb 21 10:16:07 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTTL expired");
    EXPECT_EQ(host.getDownText(), "Mon Feb 21 10:15:37 2005\tRED\trouter-2\t10.0.0.2\tcore switch\t\tTTL expired");
}

TEST_F(AddressTest, MissThenAnswerIsQuiet)
{
    host.setLastSendTime(kLoaded + 30);
    host.recordResult(miss("Timed out"));
    EXPECT_EQ(host.getText(), "Mon Feb 21 10:15:37 2005\tYELLOW\trouter-2\t10.0.0.2\tcore switch\t");
    host.setLastSendTime(kLoaded + 60);
    EXPECT_EQ(host.recordResult(answer()), PingState::Idle);
    EXPECT_EQ(host.getStatus(), HostStatus::Green);
    EXPECT_EQ(host.getDownSince(), kLoaded + 30);
    EXPECT_EQ(host.getLastReplyTime(), kLoaded + 60);
    EXPECT_EQ(host.getErrorText(), "Timed out");
    EXPECT_EQ(desktop.notices().size(), 2u);
}

TEST_F(AddressTest, AnswerWhileRedIsLoggedWithTheOutage)
{
    host.setLastSendTime(kLoaded + 30);
    host.recordResult(miss("Timed out"));
    host.setLastSendTime(kLoaded + 60);
    host.recordResult(miss("Timed out"));
    desktop.clear();

    host.setLastSendTime(kLoaded + 150);
    EXPECT_EQ(host.recordResult(answer()), PingState::ChangePending);
    EXPECT_EQ(host.getStatus(), HostStatus::Green);
    EXPECT_EQ(host.getLastReplyTime(), kLoaded + 150);
    EXPECT_EQ(host.getText(), "Mon Feb 21 10:17:37 2005\tGREEN\trouter-2\t10.0.0.2\tcore switch\t120.000000");
    ASSERT_EQ(desktop.notices().size(), 1u);
    EXPECT_EQ(desktop.notices()[0].status, HostStatus::Green);
}

TEST_F(AddressTest, MissWhileRedAndAnswerWhileGreen)
{
    host.setStatus(HostStatus::Red);
    host.setErrorText("Timed out");
    EXPECT_EQ(host.recordResult(miss("Destination unreachable")), PingState::Idle);
    EXPECT_EQ(host.getStatus(), HostStatus::Red);
    EXPECT_EQ(host.getErrorText(), "Destination unreachable");
    ASSERT_EQ(desktop.notices().size(), 1u);
    EXPECT_TRUE(desktop.notices()[0].stillRed);

    desktop.clear();
    Address green("a", "10.0.0.9", "", 30000, 20, kLoaded);
    green.setLastSendTime(kLoaded + 5);
    EXPECT_EQ(green.recordResult(answer()), PingState::Idle);
    EXPECT_TRUE(desktop.notices().empty());
    // Never missed: the fifth field is the reply time itself.
    EXPECT_EQ(green.getStatusFields(), "GREEN\ta\t10.0.0.9\t\t1108980912.000000");
}

TEST_F(AddressTest, UnknownStatusReadsRed)
{
    host.setStatus(static_cast<HostStatus>(7));
    host.setErrorText("x");
    EXPECT_EQ(host.getStatusText(), "RED");
    EXPECT_EQ(host.getStatusFields(), "RED\trouter-2\t10.0.0.2\tcore switch\t\tx");
    host.setStatus(static_cast<HostStatus>(-1));
    EXPECT_EQ(host.getStatusText(), "RED");
}

TEST_F(AddressTest, FormatTimeLayout)
{
    EXPECT_EQ(formatTime(kLoaded), "Mon Feb 21 10:15:07 2005");
    EXPECT_EQ(formatTime(0), "Thu Jan  1 00:00:00 1970");
    // Past January 2038, where 32-bit times end.
    EXPECT_EQ(formatTime(2147483648LL), "Tue Jan 19 03:14:08 2038");
    EXPECT_EQ(formatTime(kLoaded).size(), 24u);
}
