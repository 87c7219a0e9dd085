// A real Prometheus server, in the lab's monitor namespace, scrapes two
// monitors: the statuses arrive through PromQL and the rules of
// docs/prometheus/alerts.yml fire.

#include "support/lab_program.h"
#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <regex>
#include <utility>

using namespace bv;

namespace {

using namespace std::chrono_literals;

// instance and name, and the sample's value as the API writes it.
using Samples = std::map<std::pair<std::string, std::string>, std::string>;

class PrometheusLab : public LabProgramTest {
protected:
    void SetUp() override
    {
        LabProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (std::system("command -v prometheus >/dev/null && command -v curl >/dev/null") != 0)
            GTEST_SKIP() << "needs prometheus and curl (Debian's prometheus and curl packages)";
    }

    // Starts Prometheus on 127.0.0.1:9090 of the monitor namespace, scraping
    // every second and evaluating the project's rules with every for: cut to 0s.
    void startPrometheus(const std::vector<std::string>& targets)
    {
        std::string rules = readFile(BV_SOURCE_DIR "/docs/prometheus/alerts.yml");
        std::size_t cut = 0;
        for (std::size_t at; (at = rules.find("for: ", cut)) != std::string::npos; cut = at) {
            const std::size_t end = rules.find('\n', at);
            rules.replace(at, end - at, "for: 0s");
            at += 7;
        }
        ASSERT_NE(cut, 0u) << "no for: in the rules";
        writeFile(prometheusDirectory_.file("alerts.yml"), rules);
        std::string config = "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                             "rule_files:\n  - alerts.yml\n"
                             "scrape_configs:\n  - job_name: beaconvigilor\n    static_configs:\n";
        for (std::size_t index = 0; index < targets.size(); ++index)
            config += "      - targets: [\"" + targets[index] + "\"]\n        labels:\n          site: site"
                + std::to_string(index) + "\n";
        writeFile(prometheusDirectory_.file("prometheus.yml"), config);
        prometheus_ = std::make_unique<ProgramRun>(prometheusDirectory_.path(),
            lab_->inMonitorNamespace({ "prometheus", "--config.file=prometheus.yml", "--storage.tsdb.path=data",
                "--web.listen-address=127.0.0.1:9090" }));
    }

    // The instant vector of a PromQL query, by instance and name; empty when
    // Prometheus gave no answer.
    Samples query(const std::string& promql)
    {
        ProgramRun curl(prometheusDirectory_.path(),
            lab_->inMonitorNamespace({ "curl", "-sS", "--max-time", "3", "-G", "--data-urlencode", "query=" + promql,
                "http://127.0.0.1:9090/api/v1/query" }));
        curl.waitForExit(5s);
        lastAnswer_ = curl.output() + curl.errors();
        Samples samples;
        const std::string& json = lastAnswer_;
        static const std::regex name("\"name\":\"([^\"]*)\"");
        static const std::regex instance("\"instance\":\"([^\"]*)\"");
        static const std::regex value("\"value\":\\[[^,]*,\"([^\"]*)\"\\]");
        for (std::size_t at = json.find("{\"metric\":"); at != std::string::npos;) {
            const std::size_t next = json.find("{\"metric\":", at + 1);
            const std::string series = json.substr(at, next == std::string::npos ? std::string::npos : next - at);
            std::smatch n, i, v;
            std::regex_search(series, n, name);
            std::regex_search(series, i, instance);
            std::regex_search(series, v, value);
            samples[{ i.size() > 1 ? i[1].str() : "", n.size() > 1 ? n[1].str() : "" }] = v.size() > 1 ? v[1].str() : "";
            at = next;
        }
        return samples;
    }

    // Asks again every half second until the answer is `expected` or the time is up.
    bool answerBecomes(const std::string& promql, const Samples& expected, std::chrono::milliseconds limit)
    {
        auto next = std::chrono::steady_clock::now();
        return waitFor(
            [&] {
                if (std::chrono::steady_clock::now() < next)
                    return false;
                next = std::chrono::steady_clock::now() + 500ms;
                return query(promql) == expected;
            },
            limit);
    }

    TemporaryDirectory secondDirectory_;
    TemporaryDirectory prometheusDirectory_;
    std::unique_ptr<ProgramRun> prometheus_;
    std::string lastAnswer_;
};

}  // namespace

TEST_F(PrometheusLab, ScrapesTwoMonitorsAndAlertsOnTheSilentHost)
{
    ASSERT_TRUE(lab_->silence("198.19.16.7"));
    const std::string hosts = "answering 198.19.16.1 far side\nsilenced 198.19.16.7 made silent\nrouter 198.18.1.2 one hop\n";
    auto first = startIn(directory_, hosts, { "-metrics", "9101" }, false);
    auto second = startIn(secondDirectory_, hosts, { "-metrics", "127.0.0.1:9102" }, false);
    startPrometheus({ "127.0.0.1:9101", "127.0.0.1:9102" });

    const std::string a = "127.0.0.1:9101";
    const std::string b = "127.0.0.1:9102";
    // Red takes two time-outs of 10 s after the first request at 5 s.
    const Samples statuses { { { a, "answering" }, "0" }, { { a, "router" }, "0" }, { { a, "silenced" }, "2" },
        { { b, "answering" }, "0" }, { { b, "router" }, "0" }, { { b, "silenced" }, "2" } };
    EXPECT_TRUE(answerBecomes("beaconvigilor_host_status", statuses, 90s))
        << lastAnswer_ << "\n" << first->errors() << second->errors() << prometheus_->errors();

    const Samples firing { { { a, "silenced" }, "1" }, { { b, "silenced" }, "1" } };
    EXPECT_TRUE(answerBecomes("ALERTS{alertname=\"BeaconVigilorHostRed\",alertstate=\"firing\"}", firing, 20s))
        << lastAnswer_;

    // A monitor that stops answering scrapes is the other rule's.
    second->signal(SIGTERM);
    EXPECT_EQ(second->waitForExit(20s), 0);
    const Samples monitorDown { { { b, "" }, "1" } };
    EXPECT_TRUE(answerBecomes("ALERTS{alertname=\"BeaconVigilorMonitorDown\",alertstate=\"firing\"}", monitorDown, 20s))
        << lastAnswer_;
}
