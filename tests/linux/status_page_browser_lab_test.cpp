// The status page of the real program, open in Chromium inside the lab's
// monitor namespace (tests/browser/status_page_lab.mjs tells what it sees):
// every host listed, a silenced host red on the open page soon after the
// program's own line, and a script-bearing comment shown, never run.

#include "support/lab_program.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <sys/stat.h>

using namespace bv;

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr const char* kPageScript = BV_SOURCE_DIR "/tests/browser/status_page_lab.mjs";

std::int64_t millisecondsSince1970()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class StatusPageBrowserLab : public LabProgramTest {
protected:
    void SetUp() override
    {
        LabProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (std::system("command -v node >/dev/null") != 0)
            GTEST_SKIP() << "needs node (Debian's nodejs; scripts/install-deps.sh browser)";
        struct stat found {};
        if (stat("/usr/bin/chromium", &found) != 0)
            GTEST_SKIP() << "needs /usr/bin/chromium (Debian's chromium; scripts/install-deps.sh browser)";
        if (stat(BV_SOURCE_DIR "/tests/browser/node_modules/playwright-core", &found) != 0)
            GTEST_SKIP() << "needs tests/browser's npm packages (scripts/install-deps.sh browser)";
    }

    // The page script's report of `event`, once it came, or nothing.
    std::optional<Json> reported(ProgramRun& page, const std::string& event)
    {
        std::istringstream lines(page.output());
        for (std::string line; std::getline(lines, line);) {
            const Json parsed = Json::parse(line, nullptr, false);
            if (parsed.is_object() && parsed.value("event", "") == event)
                return parsed;
        }
        return std::nullopt;
    }

    std::optional<Json> awaitReport(ProgramRun& page, const std::string& event, std::chrono::milliseconds limit)
    {
        std::optional<Json> found;
        waitFor(
            [&] {
                found = reported(page, event);
                return found || reported(page, "failed");
            },
            limit);
        return found;
    }
};

}  // namespace

TEST_F(StatusPageBrowserLab, TheOpenPageFollowsTheRunAndShowsTextsAsText)
{
    const std::string script = "<script>alert(1)</script>";
    auto program = start("gateway 198.19.16.1 answers\n"
                         "storage 198.19.16.4 to be silenced\n"
                         "scripted 198.19.16.5 " + script + "\n"
                         "router 198.18.1.2 one hop\n",
        { "-metrics", "127.0.0.1:9180" });

    ProgramRun page(directory_.path(),
        lab_->inMonitorNamespace({ "node", kPageScript, "http://127.0.0.1:9180/", "4", "198.19.16.4" }));
    const auto listed = awaitReport(page, "listed", 60s);
    ASSERT_TRUE(listed) << page.output() << page.errors() << program->errors();

    std::vector<std::string> names;
    for (const Json& row : listed->at("rows")) {
        names.push_back(row.at("name"));
        EXPECT_EQ(row.at("status"), "status status-green") << row.dump();
        if (row.at("name") == "scripted") {
            EXPECT_EQ(row.at("comment"), script);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string> { "gateway", "storage", "scripted", "router" }));
    // The server's own table, for readers without script, escapes it too.
    const std::string served = listed->at("served");
    EXPECT_NE(served.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << served;
    EXPECT_EQ(served.find(script), std::string::npos) << served;

    ASSERT_TRUE(lab_->silence("198.19.16.4"));
    // Two lost requests at -pt 5000 and their time-outs.
    ASSERT_TRUE(program->waitForOutputLines(" RED storage ", 1, 60s)) << program->output() << program->errors();
    const std::int64_t programLine = millisecondsSince1970();

    const auto red = awaitReport(page, "red", 10s);
    ASSERT_TRUE(red) << page.output() << page.errors();
    const std::int64_t late = red->at("at").get<std::int64_t>() - programLine;
    EXPECT_LE(late, 2000) << "the page showed red " << late << " ms after the program's line";
    std::cout << "the page showed red " << late << " ms after the program's line\n";

    const auto done = awaitReport(page, "done", 20s);
    ASSERT_TRUE(done) << page.output() << page.errors();
    EXPECT_EQ(page.waitForExit(20s), 0) << page.errors();
    // No reload: the marker set on the open page is still there.
    EXPECT_EQ(done->at("marker"), "set before the change");
    EXPECT_EQ(done->at("navigations"), 1);
    EXPECT_EQ(done->at("dialogs"), Json::array());
    EXPECT_EQ(done->at("errors"), Json::array());
    // The page's own script tag only.
    EXPECT_EQ(done->at("scripts"), 1);
    EXPECT_EQ(done->at("connection"), "");
    // A run younger than a day says that its uptime figures cover only that.
    EXPECT_EQ(done->at("age").get<std::string>().rfind("The run started ", 0), 0u) << done->at("age");

    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
}
