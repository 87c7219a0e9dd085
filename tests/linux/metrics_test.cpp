// The Prometheus metrics: the exposition of a run on the fake clock, and the
// server that hands it out on loopback.

#include "run/metrics_exposition.h"
#include "run/metrics_server.h"

#include "core/startup_failure.h"
#include "ping/icmp_message.h"
#include "ping/receiver.h"
#include "support/addresses.h"
#include "support/fake_clock.h"
#include "support/fake_clock_run.h"
#include "support/http_exchange.h"
#include "support/recording_desktop.h"
#include "support/test_network.h"
#include "bv_version.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace bv;
using bv::test::ip;

namespace {

constexpr CalendarTime kStart = 1108980907;

class Metrics : public FakeClockRun {
protected:
    Metrics() : FakeClockRun("green 10.0.0.1\nyel\"low\\ 10.0.0.2\nred 10.0.0.3\n", kStart) {}

    // As the sender counts a request that went out.
    void sendCounted(Address& record)
    {
        send(record);
        record.countRequestSent();
    }
};

}  // namespace

TEST(MetricsLabels, EscapedAsTheFormatSays)
{
    EXPECT_EQ(escapeLabelValue("plain 10.0.0.1"), "plain 10.0.0.1");
    EXPECT_EQ(escapeLabelValue("a\\b\"c\nd\te"), "a\\\\b\\\"c\\nd\te");
}

TEST_F(Metrics, GreenYellowAndRedHostsAndTheRunsCounts)
{
    for (std::size_t position = 0; position < 3; ++position)
        sendCounted(host(position));
    ReplyInfo good;
    int owed = 0;
    ASSERT_EQ(applyReply(ip("10.0.0.1"), network().engine(), good, owed), ReplyMatch::Applied);
    releaseOwedCounts(network().engine(), owed);
    clock.advance(10);
    network().sweepPass();  // the silent two turn yellow
    sendCounted(host(2));
    clock.advance(10);
    network().sweepPass();  // and the one asked again red
    sendCounted(host(0));   // left in flight
    ASSERT_EQ(host(2).getStatus(), HostStatus::Red);

    const std::string expected = R"(# HELP beaconvigilor_host_status Host status: 0 green, 1 yellow, 2 red.
# TYPE beaconvigilor_host_status gauge
beaconvigilor_host_status{name="green",address="10.0.0.1"} 0
beaconvigilor_host_status{name="yel\"low\\",address="10.0.0.2"} 1
beaconvigilor_host_status{name="red",address="10.0.0.3"} 2
# HELP beaconvigilor_host_last_reply_time_seconds Unix time of the host's last reply; 0 if it never replied.
# TYPE beaconvigilor_host_last_reply_time_seconds gauge
beaconvigilor_host_last_reply_time_seconds{name="green",address="10.0.0.1"} 1108980907
beaconvigilor_host_last_reply_time_seconds{name="yel\"low\\",address="10.0.0.2"} 0
beaconvigilor_host_last_reply_time_seconds{name="red",address="10.0.0.3"} 0
# HELP beaconvigilor_host_down_since_time_seconds Unix time the host stopped replying; 0 while it is green.
# TYPE beaconvigilor_host_down_since_time_seconds gauge
beaconvigilor_host_down_since_time_seconds{name="green",address="10.0.0.1"} 0
beaconvigilor_host_down_since_time_seconds{name="yel\"low\\",address="10.0.0.2"} 1108980907
beaconvigilor_host_down_since_time_seconds{name="red",address="10.0.0.3"} 1108980907
# HELP beaconvigilor_host_requests_sent_total Echo requests sent to the host.
# TYPE beaconvigilor_host_requests_sent_total counter
beaconvigilor_host_requests_sent_total{name="green",address="10.0.0.1"} 2
beaconvigilor_host_requests_sent_total{name="yel\"low\\",address="10.0.0.2"} 1
beaconvigilor_host_requests_sent_total{name="red",address="10.0.0.3"} 2
# HELP beaconvigilor_host_replies_matched_total Echo replies matched to the host's requests.
# TYPE beaconvigilor_host_replies_matched_total counter
beaconvigilor_host_replies_matched_total{name="green",address="10.0.0.1"} 1
beaconvigilor_host_replies_matched_total{name="yel\"low\\",address="10.0.0.2"} 0
beaconvigilor_host_replies_matched_total{name="red",address="10.0.0.3"} 0
# HELP beaconvigilor_host_outages_total Turns of the host to red.
# TYPE beaconvigilor_host_outages_total counter
beaconvigilor_host_outages_total{name="green",address="10.0.0.1"} 0
beaconvigilor_host_outages_total{name="yel\"low\\",address="10.0.0.2"} 0
beaconvigilor_host_outages_total{name="red",address="10.0.0.3"} 1
# HELP beaconvigilor_host_rtt_seconds Round trips of the host's replies.
# TYPE beaconvigilor_host_rtt_seconds histogram
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.00005"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0001"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0002"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0004"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0008"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0016"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0032"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0064"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0128"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0256"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.0512"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.1024"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.2048"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.4096"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="0.8192"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="1.6384"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="3.2768"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="6.5536"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="13.1072"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="26.2144"} 1
beaconvigilor_host_rtt_seconds_bucket{name="green",address="10.0.0.1",le="+Inf"} 1
beaconvigilor_host_rtt_seconds_sum{name="green",address="10.0.0.1"} 0
beaconvigilor_host_rtt_seconds_count{name="green",address="10.0.0.1"} 1
# HELP beaconvigilor_host_last_rtt_seconds Round trip of the host's latest reply in its window.
# TYPE beaconvigilor_host_last_rtt_seconds gauge
beaconvigilor_host_last_rtt_seconds{name="green",address="10.0.0.1"} 0
# HELP beaconvigilor_host_rtt_median_seconds Median round trip over the host's window.
# TYPE beaconvigilor_host_rtt_median_seconds gauge
beaconvigilor_host_rtt_median_seconds{name="green",address="10.0.0.1"} 0
# HELP beaconvigilor_host_loss_ratio Requests of the host's window left unanswered, 0 to 1.
# TYPE beaconvigilor_host_loss_ratio gauge
beaconvigilor_host_loss_ratio{name="green",address="10.0.0.1"} 0
beaconvigilor_host_loss_ratio{name="yel\"low\\",address="10.0.0.2"} 1
beaconvigilor_host_loss_ratio{name="red",address="10.0.0.3"} 1
# HELP beaconvigilor_host_jitter_seconds Mean difference of consecutive round trips over the host's window.
# TYPE beaconvigilor_host_jitter_seconds gauge
beaconvigilor_host_jitter_seconds{name="green",address="10.0.0.1"} 0
# HELP beaconvigilor_requests_in_flight Echo requests awaiting a reply.
# TYPE beaconvigilor_requests_in_flight gauge
beaconvigilor_requests_in_flight 1
# HELP beaconvigilor_hosts_overdue Idle hosts whose next request is more than a second late.
# TYPE beaconvigilor_hosts_overdue gauge
beaconvigilor_hosts_overdue 0
# HELP beaconvigilor_sweep_passes_total Passes of the status sweep.
# TYPE beaconvigilor_sweep_passes_total counter
beaconvigilor_sweep_passes_total 2
# HELP beaconvigilor_build_info The program's version.
# TYPE beaconvigilor_build_info gauge
beaconvigilor_build_info{version=")" BV_VERSION R"("} 1
)";
    EXPECT_EQ(metricsExposition(network()), expected);

    // A return to green ends the down time; the outage stays counted.
    sendCounted(host(2));
    good.sequence = host(2).getAwaitedSequence();
    ASSERT_EQ(applyReply(ip("10.0.0.3"), network().engine(), good, owed), ReplyMatch::Applied);
    const std::string after = metricsExposition(network());
    EXPECT_THAT(after, testing::HasSubstr("\nbeaconvigilor_host_down_since_time_seconds{name=\"red\",address=\"10.0.0.3\"} 0\n"));
    EXPECT_THAT(after, testing::HasSubstr("\nbeaconvigilor_host_outages_total{name=\"red\",address=\"10.0.0.3\"} 1\n"));
}

TEST_F(Metrics, ServedOnLoopbackAtOnePath)
{
    MetricsServer server("127.0.0.1", 0, network());
    ASSERT_NE(server.port(), 0);

    const std::string get = exchange(server.port(), "GET /metrics HTTP/1.0\r\n\r\n");
    EXPECT_EQ(get.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << get;
    EXPECT_THAT(get, testing::HasSubstr("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
    EXPECT_EQ(bodyOf(get), metricsExposition(network()));

    const std::string head = exchange(server.port(), "HEAD /metrics HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
    EXPECT_EQ(bodyOf(head), "");

    const std::string other = exchange(server.port(), "GET /metrics/x HTTP/1.0\r\n\r\n");
    EXPECT_EQ(other.rfind("HTTP/1.1 404 ", 0), 0u) << other;
    const std::string post
        = exchange(server.port(), "POST /metrics HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(post.rfind("HTTP/1.1 405 ", 0), 0u) << post;
    EXPECT_THAT(post, testing::HasSubstr("\r\nAllow: GET, HEAD\r\n"));
    const std::string garbage = exchange(server.port(), "\x01\x02 nonsense\r\n\r\n");
    EXPECT_THAT(garbage, testing::StartsWith("HTTP/1.1 400 ")) << garbage;

    // The server still answers after all of that.
    EXPECT_EQ(exchange(server.port(), "GET /metrics HTTP/1.0\r\n\r\n").rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

    try {
        MetricsServer second("127.0.0.1", server.port(), network());
        ADD_FAILURE() << "a second server on the same port";
    } catch (const StartupFailure& failure) {
        EXPECT_EQ(std::string(failure.what()),
            "Could not serve metrics on 127.0.0.1:" + std::to_string(server.port()) + ": Address already in use");
    }
}

// The round trips: the histogram of every reply, the window's gauges for a
// host with replies in it and none for a host without, and the alarms.
TEST(MetricsRoundTrips, HistogramWindowGaugesAndAlarms)
{
    RecordingDesktop desktop;
    FakeClock clock { kStart };
    RunSettings settings;
    settings.slowMilliseconds = 100;
    settings.lossPercent = 10;
    TestNetwork test { "db1 10.0.0.1\nquiet 10.0.0.2\n", clock, settings };
    Network& network = *test.network;
    Address& db1 = *network.host(0);
    RoundTripHistogram& histogram = db1.roundTripHistogram();
    for (const std::int64_t roundTrip : { 40, 100, 250000, 30000000 })
        histogram.record(roundTrip);
    RoundTripWindow& window = db1.roundTrips(network.getWindowSize());
    const std::int64_t now = clock.monotonicMicroseconds();
    // Answered in 200 ms, 300 ms and 412 µs, and one lost: jitter (100000 +
    // 299588) / 2 µs.
    const std::int64_t roundTrips[] = { 200000, 300000, -1, 412 };
    for (std::uint16_t sequence = 0; sequence < 4; ++sequence) {
        window.requestSent(sequence, { now - 20000000, std::nullopt });
        if (roundTrips[sequence] >= 0)
            window.replyCame(sequence, roundTrips[sequence]);
    }
    db1.alarms().loss = true;

    const std::string text = metricsExposition(network);
    const char* const db1Lines[] = {
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"0.00005\"} 1\n",
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"0.0001\"} 2\n",
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"0.0002\"} 2\n",
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"0.2048\"} 2\n",
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"0.4096\"} 3\n",
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"26.2144\"} 3\n"
        "beaconvigilor_host_rtt_seconds_bucket{name=\"db1\",address=\"10.0.0.1\",le=\"+Inf\"} 4\n"
        "beaconvigilor_host_rtt_seconds_sum{name=\"db1\",address=\"10.0.0.1\"} 30.25014\n"
        "beaconvigilor_host_rtt_seconds_count{name=\"db1\",address=\"10.0.0.1\"} 4\n",
        "\nbeaconvigilor_host_last_rtt_seconds{name=\"db1\",address=\"10.0.0.1\"} 0.000412\n",
        "\nbeaconvigilor_host_rtt_median_seconds{name=\"db1\",address=\"10.0.0.1\"} 0.2\n",
        "\nbeaconvigilor_host_loss_ratio{name=\"db1\",address=\"10.0.0.1\"} 0.25\n",
        "\nbeaconvigilor_host_jitter_seconds{name=\"db1\",address=\"10.0.0.1\"} 0.199794\n",
        "# TYPE beaconvigilor_host_alarm gauge\n"
        "beaconvigilor_host_alarm{name=\"db1\",address=\"10.0.0.1\",kind=\"slow\"} 0\n"
        "beaconvigilor_host_alarm{name=\"db1\",address=\"10.0.0.1\",kind=\"loss\"} 1\n"
        "beaconvigilor_host_alarm{name=\"quiet\",address=\"10.0.0.2\",kind=\"slow\"} 0\n"
        "beaconvigilor_host_alarm{name=\"quiet\",address=\"10.0.0.2\",kind=\"loss\"} 0\n",
    };
    for (const char* line : db1Lines)
        EXPECT_THAT(text, testing::HasSubstr(line));
    // The bounds double from 50 µs: 20 of them and +Inf.
    std::size_t buckets = 0;
    for (std::size_t at = text.find("_bucket{name=\"db1\""); at != std::string::npos;
         at = text.find("_bucket{name=\"db1\"", at + 1))
        ++buckets;
    EXPECT_EQ(buckets, 21u);
    EXPECT_THAT(text, testing::Not(testing::HasSubstr("_rtt_seconds_bucket{name=\"quiet\"")));
    for (const char* gauge : { "last_rtt_seconds", "rtt_median_seconds", "loss_ratio", "jitter_seconds" })
        EXPECT_THAT(text, testing::Not(testing::HasSubstr(std::string(gauge) + "{name=\"quiet\"")))
            << "a window gauge of a host with nothing in its window";
}

// One address, one label, however the list wrote it; names as written.
TEST(MetricsAddressLabel, Ipv6HostsByTheirCompactAddress)
{
    RecordingDesktop desktop;
    FakeClock clock { kStart };
    TestNetwork test { "six 2001:2:0:0::A\nfour 10.0.0.1\nnamed host.test\n", clock };
    const std::string text = metricsExposition(*test.network);
    EXPECT_THAT(text, testing::HasSubstr("beaconvigilor_host_status{name=\"six\",address=\"2001:2::a\"} 0\n"));
    EXPECT_THAT(text, testing::HasSubstr("beaconvigilor_host_status{name=\"four\",address=\"10.0.0.1\"} 0\n"));
    EXPECT_THAT(text, testing::HasSubstr("beaconvigilor_host_status{name=\"named\",address=\"host.test\"} 0\n"));
}
