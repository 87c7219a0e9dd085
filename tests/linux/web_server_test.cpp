#include "platform/web_server.h"
#include "support/http_client.h"

#include <gtest/gtest.h>


#include <chrono>
#include <string>
#include <vector>

using namespace bv;
using namespace std::chrono_literals;
using bv::test::HttpClient;

namespace {

std::unique_ptr<platform::WebServer> serve(platform::WebServer::Settings settings = {})
{
    settings.address = "127.0.0.1";
    auto started = platform::WebServer::start(settings, [](const platform::WebRequest& request) {
        if (request.target == "/events")
            return platform::WebResponse { 200, "text/event-stream", ": open\n\n", {}, true };
        if (request.target != "/")
            return platform::WebResponse { 404, "text/plain", "Not found\n", {}, false };
        return platform::WebResponse { 200, "text/plain", "host " + request.host.value_or("(none)") + "\n",
            { { "X-Checked", "yes" } }, false };
    });
    EXPECT_FALSE(started.is_error());
    return started.is_error() ? nullptr : started.release_value();
}

}  // namespace

TEST(WebServer, AnswersRequestsOneAfterAnotherAndRefusesMalformedOnes)
{
    auto server = serve();
    ASSERT_TRUE(server);
    HttpClient client(server->port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send("GET / HTTP/1.1\r\nHost: localhost:1\r\n\r\nHEAD / HTTP/1.1\r\nHost: x\r\n\r\n"
                            "GET / HTTP/1.1\r\n\r\n"));
    const std::string both = client.receiveUntil("host (none)\n");
    EXPECT_NE(both.find("host (none)\n"), std::string::npos) << "a request without a Host header is answered too";
    EXPECT_NE(both.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << both;
    EXPECT_NE(both.find("X-Checked: yes\r\n"), std::string::npos) << both;
    EXPECT_NE(both.find("host localhost:1\n"), std::string::npos) << both;
    EXPECT_EQ(both.find("host x"), std::string::npos) << "a HEAD answer has no body";

    HttpClient garbage(server->port());
    ASSERT_TRUE(garbage.send("NOT HTTP AT ALL\r\n\r\n"));
    EXPECT_NE(garbage.receiveUntil("\r\n\r\n").find("400 Bad Request"), std::string::npos);
    EXPECT_TRUE(garbage.closedByPeer(2s));
    HttpClient huge(server->port());
    ASSERT_TRUE(huge.send("GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n"));
    EXPECT_NE(huge.receiveUntil("\r\n\r\n").find("400 Bad Request"), std::string::npos);
}

TEST(WebServer, StreamsGetWhatIsPublishedAndASlowOneIsDropped)
{
    platform::WebServer::Settings settings;
    settings.maxStreams = 3;
    settings.streamBacklog = 64 * 1024;
    auto server = serve(settings);
    ASSERT_TRUE(server);
    std::vector<std::unique_ptr<HttpClient>> streams;
    for (int each = 0; each < 3; ++each) {
        streams.push_back(std::make_unique<HttpClient>(server->port(), each == 0));
        ASSERT_TRUE(streams.back()->send("GET /events HTTP/1.1\r\n\r\n"));
        ASSERT_NE(streams.back()->receiveUntil(": open\n\n").find("text/event-stream"), std::string::npos);
    }
    HttpClient oneMore(server->port());
    ASSERT_TRUE(oneMore.send("GET /events HTTP/1.1\r\n\r\n"));
    EXPECT_NE(oneMore.receiveUntil("\r\n\r\n").find("503"), std::string::npos);

    server->publish("event: pass\ndata: {}\n\n");
    for (auto& stream : streams)
        EXPECT_NE(stream->receiveUntil("data: {}\n\n").find("event: pass"), std::string::npos);

    // The first stops reading: it is dropped once its backlog is full, and
    // publishing never waits for it; the others, reading each event as it
    // comes, keep their streams.
    const auto started = std::chrono::steady_clock::now();
    for (int event = 0; event < 4000 && server->streamCount() == 3; ++event) {
        const std::string marker = "data: " + std::to_string(event) + " ";
        server->publish(marker + std::string(1000, 'x') + "\n\n");
        for (int reader : { 1, 2 })
            ASSERT_NE(streams[reader]->receiveUntil(marker).find(marker), std::string::npos) << event;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_TRUE(streams[0]->closedByPeer(5s));
    server->publish("data: last\n\n");
    EXPECT_NE(streams[1]->receiveUntil("data: last").find("data: last"), std::string::npos);
    EXPECT_EQ(server->streamCount(), 2u);
}
