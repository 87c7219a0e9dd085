#include "run/status_page_text.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using namespace bv;

namespace {

std::vector<StatusHostView> someHosts()
{
    StatusHostView web { "198.18.0.5", "web1", "198.18.0.5", "front", "green", 0, "", "", 412, 398, 0.0, { 398, -1 }, "" };
    StatusHostView hostile { "evil", "<b>x</b>", "evil", "<script>alert(1)</script>", "red", 1800000100,
        "Wed Jan 15 08:01:40 2027", "Timed out & \"gone\"", std::nullopt, std::nullopt, 1.0, { -1 }, "198.18.3.1" };
    StatusHostView bytes { "odd", "caf\xE9", "odd", "", "yellow", 1800000000, "then", "", std::nullopt, std::nullopt,
        std::nullopt, {}, "" };
    return { web, hostile, bytes };
}

}  // namespace

TEST(StatusPageText, TheApiAndTheEventStreamInJson)
{
    const auto hosts = someHosts();
    const auto parsed = nlohmann::json::parse(hostsJson({ 1800000000, 1800003600, { "2 hosts down behind 198.18.3.1 (hop 3, the last that answers): x, y" } }, hosts));
    EXPECT_EQ(parsed["run"]["startedAgo"], 3600);
    EXPECT_EQ(parsed["run"]["outages"].size(), 1u);
    EXPECT_EQ(parsed["hosts"][1]["behind"], "198.18.3.1");
    EXPECT_TRUE(parsed["hosts"][0]["behind"].is_null());
    ASSERT_EQ(parsed["hosts"].size(), 3u);
    EXPECT_EQ(parsed["hosts"][0]["medianRtt"], 398);
    EXPECT_EQ(parsed["hosts"][0]["strip"], nlohmann::json::array({ 398, -1 }));
    EXPECT_TRUE(parsed["hosts"][1]["latestRtt"].is_null());
    EXPECT_EQ(parsed["hosts"][1]["comment"], "<script>alert(1)</script>") << "JSON keeps the text; the page shows it as text";
    EXPECT_TRUE(parsed["hosts"][2]["loss"].is_null());
    EXPECT_EQ(parsed["hosts"][2]["name"], "caf\xEF\xBF\xBD") << "bytes that are not UTF-8 do not fail the answer";

    const std::string event = passEvent({ hosts[0] }, { "gone" });
    ASSERT_EQ(event.rfind("event: pass\ndata: ", 0), 0u);
    ASSERT_EQ(event.substr(event.size() - 2), "\n\n");
    EXPECT_EQ(std::count(event.begin(), event.end(), '\n'), 3) << "one line of data";
    const auto pass = nlohmann::json::parse(event.substr(18));
    EXPECT_EQ(pass["removed"], nlohmann::json::array({ "gone" }));
    EXPECT_EQ(pass["changed"][0]["key"], "198.18.0.5");
}

TEST(StatusPageText, ThePageReadsWithoutScriptAndEscapesEveryText)
{
    const std::string page = statusPage("<p><!--counts--></p><p><!--age--></p><ul><!--outages--></ul><tbody><!--rows--></tbody>",
        { 1800000000, 1800000600, { "This machine's network is down: <its> gateway" } }, someHosts());
    EXPECT_NE(page.find("<ul><li>This machine&#39;s network is down: &lt;its&gt; gateway</li></ul>"), std::string::npos);
    EXPECT_NE(page.find(">Red, behind 198.18.3.1</td>"), std::string::npos);
    EXPECT_NE(page.find("<p>1 red, 1 yellow, 1 green</p>"), std::string::npos) << page;
    EXPECT_NE(page.find("The run started 10 minutes ago"), std::string::npos);
    // Red first, then yellow, then green; the status in a word.
    const auto red = page.find(">Red, behind");
    const auto yellow = page.find(">Yellow</td>");
    const auto green = page.find(">Green</td>");
    EXPECT_LT(red, yellow);
    EXPECT_LT(yellow, green);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("title=\"Timed out &amp; &quot;gone&quot;\""), std::string::npos);
    EXPECT_NE(page.find("<td>Wed Jan 15 08:01:40 2027</td>"), std::string::npos);
    EXPECT_NE(page.find("0.398 ms"), std::string::npos);
    EXPECT_NE(page.find("<td>1 of 2 answered</td>"), std::string::npos);
    EXPECT_EQ(htmlEscaped("a'b"), "a&#39;b");
}
