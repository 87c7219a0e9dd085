#include "run/status_routes.h"

#include <gtest/gtest.h>

using namespace bv;

TEST(StatusRoutes, PathsMethodsAndTheHostKey)
{
    EXPECT_EQ(routeRequest("GET", "/").route, StatusRoute::Page);
    EXPECT_EQ(routeRequest("HEAD", "/index.html?x=1").route, StatusRoute::Page);
    EXPECT_EQ(routeRequest("GET", "/metrics").route, StatusRoute::Metrics);
    EXPECT_EQ(routeRequest("GET", "/api/v1/events").route, StatusRoute::Events);
    EXPECT_EQ(routeRequest("GET", "/api/v1/hosts?since=5").route, StatusRoute::Hosts);

    // A twin's key, escaped as a browser writes it.
    const RoutedRequest twin = routeRequest("GET", "/api/v1/hosts/dual.lab%20(IPv6)/history");
    EXPECT_EQ(twin.route, StatusRoute::History);
    EXPECT_EQ(twin.hostKey, "dual.lab (IPv6)");
    EXPECT_EQ(routeRequest("GET", "/api/v1/hosts/fe80::1%25eth0/history").hostKey, "fe80::1%eth0");

    for (const char* method : { "POST", "PUT", "DELETE", "get", "" })
        EXPECT_EQ(routeRequest(method, "/api/v1/hosts").status, 405) << method;
    EXPECT_EQ(routeRequest("POST", "/api/v1/hosts/a/history").hostKey, "") << "no key for a refused request";
    for (const char* unknown : { "/nothing", "/api/v1/hosts/", "/api/v1/hosts//history", "/api/v1/hosts/a/b/history",
             "/API/v1/hosts", "/metrics/" })
        EXPECT_EQ(routeRequest("GET", unknown).status, 404) << unknown;
    for (const char* bad : { "", "metrics", "*", "http://example.invalid/", "/api/v1/hosts/%zz/history",
             "/api/v1/hosts/a%0/history", "/api/v1/hosts/a%00b/history", "/api/v1/hosts/%0A/history",
             "/api/v1/hosts/%/history" })
        EXPECT_EQ(routeRequest("GET", bad).status, 400) << bad;
}

TEST(StatusRoutes, ALoopbackServerAnswersOnlyLoopbackNames)
{
    for (const char* allowed : { "localhost", "LOCALHOST:9100", "127.0.0.1", "127.0.0.1:9100", "127.1.2.3:80", "[::1]",
             "[::1]:9100" })
        EXPECT_TRUE(hostHeaderAllowed(std::string_view(allowed), true)) << allowed;
    for (const char* refused : { "example.invalid", "evil.test:9100", "localhost.evil.test", "127.0.0.1.evil.test",
             "128.0.0.1", "127.0.0.256", "127.0.0", "[::2]:9100", "::1", "[::1", "[::1]x", "", "10.0.0.1:9100" })
        EXPECT_FALSE(hostHeaderAllowed(std::string_view(refused), true)) << refused;
    EXPECT_TRUE(hostHeaderAllowed(std::nullopt, true)) << "an HTTP/1.0 client sends none";
    EXPECT_TRUE(hostHeaderAllowed(std::string_view("monitor.example.invalid"), false)) << "bound elsewhere on purpose";
}
