// The status page and its API on the run's HTTP server, on the fake clock.

#include "run/metrics_server.h"

#include "ping/engine_context.h"
#include "ping/icmp_message.h"
#include "ping/receiver.h"
#include "support/addresses.h"
#include "support/fake_clock_run.h"
#include "support/http_client.h"
#include "support/http_exchange.h"
#include "support/test_environment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace bv;
using bv::test::HttpClient;
using bv::test::ip;
using namespace std::chrono_literals;

namespace {

RunSettings servingThePage()
{
    RunSettings settings;
    settings.metricsPort = 9100;
    return settings;
}

class StatusServer : public FakeClockRun {
protected:
    StatusServer()
        : FakeClockRun("web 10.0.0.1 front\nevil 10.0.0.2 <script>alert(1)</script>\n", 1800000000, servingThePage())
    {
    }
};

class RunWithoutThePage : public FakeClockRun {
protected:
    RunWithoutThePage() : FakeClockRun("web 10.0.0.1 front\n", 1800000000) {}
};

}  // namespace

// 1.8 KB a host for a page nobody can open: only a run that serves it keeps histories.
TEST_F(RunWithoutThePage, KeepsNoHistory)
{
    send(host(0));
    ReplyInfo reply;
    reply.address = ip("10.0.0.1");
    reply.sequence = host(0).getAwaitedSequence();
    testing::internal::CaptureStdout();
    applyReply(ip("10.0.0.1"), network().engine(), reply);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(host(0).getRoundTrips(), nullptr) << "the reply was recorded";
    EXPECT_EQ(host(0).getHistory(), nullptr);
}

TEST_F(StatusServer, ThePageAndTheApiShowTheRunsOwnFigures)
{
    // web answers in 3 ms; evil never does and is red.
    Address& web = host(0);
    send(web);
    const std::uint16_t sequence = web.getAwaitedSequence();
    clock.sleepMilliseconds(3);
    ReplyInfo good;
    good.address = ip("10.0.0.1");
    good.sequence = sequence;
    good.receivedAt = clock.monotonicMicroseconds();
    testing::internal::CaptureStdout();
    applyReply(ip("10.0.0.1"), network().engine(), good);
    testing::internal::GetCapturedStdout();
    host(1).setStatus(HostStatus::Red);
    host(1).setErrorText("Timed out");

    MetricsServer server("127.0.0.1", 0, network());
    const std::string hosts = exchange(server.port(), "GET /api/v1/hosts HTTP/1.0\r\nHost: localhost\r\n\r\n");
    EXPECT_THAT(hosts, testing::HasSubstr("\r\nContent-Type: application/json\r\n"));
    EXPECT_THAT(hosts, testing::HasSubstr("\r\nContent-Security-Policy: default-src 'none'; script-src 'self';"));
    const auto listed = nlohmann::json::parse(bodyOf(hosts));
    // The run's start, for the page's note that its figures cover only that much.
    EXPECT_EQ(listed["run"]["started"], 1800000000);
    EXPECT_EQ(listed["run"]["startedAgo"], 0);
    ASSERT_EQ(listed["hosts"].size(), 2u);
    EXPECT_EQ(listed["hosts"][0]["name"], "web");
    EXPECT_EQ(listed["hosts"][0]["latestRtt"], 3000);
    EXPECT_EQ(listed["hosts"][0]["strip"], nlohmann::json::array({ 3000 }));
    EXPECT_EQ(listed["hosts"][1]["status"], "red");
    EXPECT_EQ(listed["hosts"][1]["error"], "Timed out");

    // The page reads without its script: red first, the comment as text.
    const std::string page = bodyOf(exchange(server.port(), "GET / HTTP/1.0\r\n\r\n"));
    EXPECT_THAT(page, testing::HasSubstr("1 red, 0 yellow, 1 green"));
    EXPECT_THAT(page, testing::HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_LT(page.find(">Red</td>"), page.find(">Green</td>"));
    EXPECT_THAT(bodyOf(exchange(server.port(), "GET /status.js HTTP/1.0\r\n\r\n")), testing::HasSubstr("EventSource"));

    writeFile(network().getLogFile(),
        "Wed Jan 15 08:00:00 2027\tRED\tweb\t10.0.0.1\tfront\t\tTimed out\r\n\r\n"
        "Wed Jan 15 08:00:40 2027\tGREEN\tweb\t10.0.0.1\tfront\t40.000000\r\n\r\n");
    const auto history = nlohmann::json::parse(
        bodyOf(exchange(server.port(), "GET /api/v1/hosts/10.0.0.1/history HTTP/1.0\r\n\r\n")));
    EXPECT_EQ(history["chart"].size(), 1u);
    EXPECT_EQ(history["chart"][0]["mean"], 3000);
    EXPECT_EQ(history["outages"], nlohmann::json::parse(R"([{"down": "Wed Jan 15 08:00:00 2027",
        "up": "Wed Jan 15 08:00:40 2027", "error": "Timed out", "seconds": "40.000000"}])"));
    EXPECT_THAT(exchange(server.port(), "GET /api/v1/hosts/10.9.9.9/history HTTP/1.0\r\n\r\n"),
        testing::StartsWith("HTTP/1.1 404 "));

    // A name that is not loopback's is refused on a loopback server.
    EXPECT_THAT(exchange(server.port(), "GET /api/v1/hosts HTTP/1.0\r\nHost: evil.example.invalid:9100\r\n\r\n"),
        testing::StartsWith("HTTP/1.1 403 "));
    EXPECT_THAT(exchange(server.port(), "DELETE /api/v1/hosts HTTP/1.0\r\n\r\n"), testing::StartsWith("HTTP/1.1 405 "));

    // On IPv6 loopback too, with its own Host check.
    MetricsServer server6("::1", 0, network());
    EXPECT_THAT(exchange(server6.port(), "GET /metrics HTTP/1.0\r\nHost: [::1]:9100\r\n\r\n", true),
        testing::StartsWith("HTTP/1.1 200 "));
    EXPECT_THAT(exchange(server6.port(), "GET /metrics HTTP/1.0\r\nHost: evil.example.invalid\r\n\r\n", true),
        testing::StartsWith("HTTP/1.1 403 "));
}

TEST_F(StatusServer, SixtyFourEventStreamsGetEachPassAndOneThatStopsReadingIsDropped)
{
    MetricsServer server("127.0.0.1", 0, network());
    const std::string subscribe = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<std::unique_ptr<HttpClient>> streams;
    for (int each = 0; each < 64; ++each) {
        // The first has a small buffer and will stop reading.
        streams.push_back(std::make_unique<HttpClient>(server.port(), each == 0));
        ASSERT_TRUE(streams.back()->send(subscribe));
        ASSERT_THAT(streams.back()->receiveUntil("retry: 2000\n\n"), testing::HasSubstr("text/event-stream")) << each;
    }
    HttpClient oneMore(server.port());
    ASSERT_TRUE(oneMore.send(subscribe));
    EXPECT_THAT(oneMore.receiveUntil("\r\n\r\n"), testing::StartsWith("HTTP/1.1 503 "));
    EXPECT_EQ(server.eventStreamCount(), 64u);

    host(1).setStatus(HostStatus::Red);
    host(1).setErrorText("Timed out");
    server.sweepPassDone();
    for (auto& stream : streams)
        EXPECT_THAT(stream->receiveUntil("\"changed\":", 5s), testing::HasSubstr("event: pass\ndata: {\"changed\":"));
    // A pass that changes nothing sends nothing.
    server.sweepPassDone();

    // Passes go on while the first reads nothing more: it is closed once
    // its backlog is full; the pass never waits for it, and the rest keep up.
    std::string longError(4000, 'e');
    for (int pass = 0; pass < 2000 && server.eventStreamCount() == 64; ++pass) {
        const std::string marker = "pass " + std::to_string(pass) + ":";
        host(1).setErrorText(marker + longError);
        server.sweepPassDone();
        for (std::size_t reader = 1; reader < streams.size(); reader += 21)
            ASSERT_THAT(streams[reader]->receiveUntil(marker), testing::HasSubstr(marker));
    }
    EXPECT_TRUE(streams[0]->closedByPeer(5s));
    EXPECT_EQ(server.eventStreamCount(), 63u);
}
