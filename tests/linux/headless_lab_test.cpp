// The headless program for real, inside the test network: what reaches the
// log and the down file, and how a run ends on SIGTERM.

#include "support/lab_program.h"
#include "support/network_lab.h"
#include "support/program_run.h"
#include "support/record_fields.h"
#include "support/test_environment.h"
#include "support/wait_for.h"
#include "bv_version.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using namespace bv;

namespace {

using namespace std::chrono_literals;

// One line of the log or the down file, split at its tabs.
struct RecordLine {
    std::vector<std::string> fields;
    const std::string& field(std::size_t index) const
    {
        static const std::string none;
        return index < fields.size() ? fields[index] : none;
    }
    const std::string& time() const { return field(0); }
    const std::string& status() const { return field(1); }
    const std::string& name() const { return field(2); }
};

std::vector<RecordLine> readRecords(const std::string& path)
{
    std::vector<RecordLine> records;
    for (auto& fields : readRecordFields(path))
        records.push_back(RecordLine { std::move(fields) });
    return records;
}

std::vector<RecordLine> recordsOf(const std::vector<RecordLine>& records, const std::string& name)
{
    std::vector<RecordLine> found;
    for (const RecordLine& record : records)
        if (record.name() == name)
            found.push_back(record);
    return found;
}

bool hasRecord(const std::string& path, const std::string& name, const std::string& status)
{
    for (const RecordLine& record : recordsOf(readRecords(path), name))
        if (record.status() == status)
            return true;
    return false;
}

// The program's times, written in UTC here, as seconds since 1970.
std::int64_t secondsOf(const std::string& text)
{
    std::tm parts {};
    if (!strptime(text.c_str(), "%a %b %d %H:%M:%S %Y", &parts))
        return -1;
    return static_cast<std::int64_t>(timegm(&parts));
}

// A file's lines without their times, in a fixed order: two runs queue
// the lines of one sweep in any order.
std::vector<std::vector<std::string>> withoutTimes(const std::string& path)
{
    std::vector<std::vector<std::string>> lines;
    for (const RecordLine& record : readRecords(path))
        lines.emplace_back(record.fields.begin() + 1, record.fields.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct EngineCountLine {
    unsigned long sent = 0;
    unsigned long matched = 0;
    unsigned long awaiting = 0;
    unsigned long lost = 0;
};

// Asks the program for its engine counts (SIGUSR2) and reads them back.
bool readEngineCounts(ProgramRun& program, EngineCountLine& counts)
{
    const std::size_t before = program.errors().size();
    program.signal(SIGUSR2);
    const auto found = [&] { return program.errors().find("Requests sent: ", before); };
    if (!waitFor([&] { return found() != std::string::npos; }, 5s))
        return false;
    return std::sscanf(program.errors().c_str() + found(),
               "Requests sent: %lu, replies matched: %lu, awaiting a reply: %lu, hosts with a lost request: %lu",
               &counts.sent, &counts.matched, &counts.awaiting, &counts.lost)
        == 4;
}

using LabProgram = LabProgramTest;

// What the terminal shows of a log record, field for field.
std::string terminalLineOf(const RecordLine& record)
{
    std::string line = record.time() + " " + record.status() + " " + record.name() + " " + record.field(3);
    if (!record.field(4).empty())
        line += " (" + record.field(4) + ")";
    if (record.status() == "GREEN")
        return line + ": back after " + record.field(5).substr(0, record.field(5).find('.')) + " s";
    return line + ": " + record.field(6);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(LabProgram, TurnsToRedAndBackReachTheLogAndTheDownFile)
{
    ASSERT_TRUE(lab_->silence("198.19.16.4"));
    auto program = start("answering 198.19.16.1 answers\n"
                         "silent 198.19.16.2 dropped\n"
                         "refused 198.19.16.3 rejected\n"
                         "returning 198.19.16.4 comes back\n"
                         "named named.lab by name\n"
                         "router 198.18.1.2 one hop\n",
        {});

    // A silent host takes two timeouts of 10 s to turn red.
    EXPECT_TRUE(waitFor(
        [&] {
            return hasRecord(log(), "silent", "RED") && hasRecord(log(), "refused", "RED")
                && hasRecord(log(), "returning", "RED");
        },
        60s))
        << readFile(log()) << program->errors();
    EXPECT_TRUE(waitFor([&] { return readRecords(down()).size() == 3; }, 5s)) << readFile(down());

    const auto logged = readRecords(log());
    const RecordLine silent = recordsOf(logged, "silent").at(0);
    EXPECT_EQ(silent.fields, (std::vector<std::string> { silent.time(), "RED", "silent", "198.19.16.2", "dropped", "",
                                 "Timed out" }));
    const RecordLine refused = recordsOf(logged, "refused").at(0);
    EXPECT_EQ(refused.fields, (std::vector<std::string> { refused.time(), "RED", "refused", "198.19.16.3", "rejected",
                                  "", "Destination unreachable" }));

    std::int64_t downSince = -1;
    for (const RecordLine& record : readRecords(down())) {
        EXPECT_EQ(record.status(), "RED");
        if (record.name() == "returning")
            downSince = secondsOf(record.time());
    }
    ASSERT_GT(downSince, 0) << readFile(down());

    ASSERT_TRUE(lab_->answer("198.19.16.4"));
    EXPECT_TRUE(waitFor([&] { return hasRecord(log(), "returning", "GREEN"); }, 30s)) << readFile(log());
    EXPECT_TRUE(waitFor([&] { return recordsOf(readRecords(down()), "returning").empty(); }, 5s))
        << readFile(down());

    const auto returning = recordsOf(readRecords(log()), "returning");
    ASSERT_EQ(returning.size(), 2u);
    EXPECT_EQ(returning[0].status(), "RED");
    EXPECT_EQ(returning[0].field(6), "Timed out");
    const RecordLine& back = returning[1];
    ASSERT_EQ(back.fields.size(), 6u);
    EXPECT_EQ(back.status(), "GREEN");
    // The outage runs from the first failed request to the answered one,
    // which is the line's own time.
    const std::int64_t outage = secondsOf(back.time()) - downSince;
    EXPECT_GE(outage, 10);
    EXPECT_EQ(back.field(5), std::to_string(outage) + ".000000");

    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();

    const auto all = readRecords(log());
    EXPECT_TRUE(recordsOf(all, "answering").empty());
    EXPECT_TRUE(recordsOf(all, "named").empty());
    EXPECT_TRUE(recordsOf(all, "router").empty());
    EXPECT_EQ(all.size(), 4u) << readFile(log());

    // Without -trace the terminal gets the start and the log's lines, nothing else.
    std::vector<std::string> expected { "BeaconVigilor " BV_VERSION " watching 6 hosts every 5 s; log out.txt, down file down.txt" };
    for (const RecordLine& record : all)
        expected.push_back(terminalLineOf(record));
    EXPECT_EQ(linesOf(program->output()), expected);
}

// SIGHUP reads the list anew: a red host that stays is not logged again and
// its return carries the whole outage; a red host that leaves leaves the down
// file; a new host is pinged; a list that cannot be read keeps the old one.
TEST_F(LabProgram, HangUpReloadsTheHostListKeepingWhatItKnows)
{
    ASSERT_TRUE(lab_->silence("198.19.16.4"));
    auto program = start("refused 198.19.16.3 rejected\nreturning 198.19.16.4 comes back\n", {});
    ASSERT_TRUE(waitFor([&] { return hasRecord(log(), "refused", "RED") && hasRecord(log(), "returning", "RED"); }, 60s))
        << readFile(log()) << program->errors();
    // The down file gives when the outage began.
    ASSERT_TRUE(waitFor([&] { return recordsOf(readRecords(down()), "returning").size() == 1; }, 5s));
    const std::int64_t downSince = secondsOf(recordsOf(readRecords(down()), "returning").at(0).time());

    writeFile(directory_.file("hosts.txt"), "returning 198.19.16.4 comes back\nsilent 198.19.16.2 dropped\n");
    program->signal(SIGHUP);
    ASSERT_TRUE(program->waitForOutputLines("Reloaded hosts.txt: 1 kept, 1 added (198.19.16.2), 1 removed (198.19.16.3)",
        1, 10s))
        << program->output() << program->errors();
    EXPECT_TRUE(waitFor([&] { return recordsOf(readRecords(down()), "refused").empty(); }, 5s)) << readFile(down());

    ASSERT_TRUE(lab_->answer("198.19.16.4"));
    EXPECT_TRUE(waitFor([&] { return hasRecord(log(), "returning", "GREEN") && hasRecord(log(), "silent", "RED"); }, 40s))
        << readFile(log());

    ASSERT_EQ(std::remove(directory_.file("hosts.txt").c_str()), 0);
    program->signal(SIGHUP);
    ASSERT_TRUE(waitFor([&] { return program->errors().find("Could not reload the host list hosts.txt") != std::string::npos; }, 10s))
        << program->errors();
    program->signal(SIGUSR1);
    EXPECT_TRUE(waitFor([&] { return program->errors().find("Total number of addresses: 2") != std::string::npos; }, 5s))
        << program->errors();
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();

    const auto logged = readRecords(log());
    ASSERT_EQ(logged.size(), 4u) << readFile(log());
    const auto returning = recordsOf(logged, "returning");
    ASSERT_EQ(returning.size(), 2u);
    EXPECT_EQ(returning[1].status(), "GREEN");
    EXPECT_EQ(returning[1].field(5), std::to_string(secondsOf(returning[1].time()) - downSince) + ".000000");
    EXPECT_EQ(recordsOf(logged, "refused").size(), 1u);
}

TEST_F(LabProgram, HostBeyondTheRouterAtTimeToLiveOne)
{
    auto program = start("beyond 198.19.16.1 two hops\nrouter 198.18.1.2 one hop\n", { "-ttl", "1" });
    EXPECT_TRUE(waitFor([&] { return hasRecord(log(), "beyond", "RED"); }, 30s)) << program->errors();
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0);
    const auto logged = readRecords(log());
    ASSERT_EQ(logged.size(), 1u) << readFile(log());
    EXPECT_EQ(logged[0].field(6), "TTL expired");
    EXPECT_TRUE(recordsOf(logged, "router").empty());
    const auto down = readRecords(this->down());
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(down[0].name(), "beyond");
}

TEST_F(LabProgram, TermRightAfterARedTurnStillLogsIt)
{
    auto program = start("refused 198.19.16.3 rejected\n", { "-trace" });
    // Every failed answer is traced; the second turns the host red. The
    // sweep that would queue the line is asleep for most of an interval.
    ASSERT_TRUE(program->waitForOutputLines("R:TTL expired", 2, 30s)) << program->errors();
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
    const auto logged = readRecords(log());
    ASSERT_EQ(logged.size(), 1u) << readFile(log());
    EXPECT_EQ(logged[0].status(), "RED");
    EXPECT_EQ(logged[0].field(6), "Destination unreachable");
    ASSERT_EQ(readRecords(down()).size(), 1u);
}

TEST_F(LabProgram, TermWhileSixSilentHostsHoldEveryCountEndsTheRun)
{
    // Found by the soak: the sender waited for a count that no one would give
    // back after the sweep had ended, and the process never exited.
    std::string hosts;
    std::vector<std::string> silent;
    for (int last = 20; last < 28; ++last) {
        const std::string address = "198.19.16." + std::to_string(last);
        silent.push_back(address);
        hosts += "silent" + std::to_string(last) + " " + address + " dropped\n";
    }
    ASSERT_TRUE(lab_->onlySilent(silent));
    auto program = start(hosts, { "-trace" });
    ASSERT_TRUE(program->waitForOutputLines("bytes to 198.19.16.", 6, 20s)) << program->output().substr(program->output().size() > 3000 ? program->output().size() - 3000 : 0);
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
}

TEST_F(LabProgram, SilentHostsDoNotStarveTheAnsweringOnes)
{
    std::string hosts;
    std::vector<std::string> silent;
    for (int last = 20; last < 50; ++last) {
        silent.push_back("198.19.16." + std::to_string(last));
        hosts += "silent" + std::to_string(last) + " " + silent.back() + " dropped\n";
    }
    for (int last = 100; last < 200; ++last)
        hosts += "up" + std::to_string(last) + " 198.19.16." + std::to_string(last) + " answers\n";
    ASSERT_TRUE(lab_->onlySilent(silent));
    const auto started = std::chrono::steady_clock::now();
    auto program = start(hosts, {});

    // Dropped once it has surely answered: red within two intervals and
    // two time-outs, plus the sweep's second.
    std::this_thread::sleep_until(started + 8s);
    ASSERT_TRUE(lab_->silence("198.19.16.150"));
    const auto dropped = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return hasRecord(log(), "up150", "RED"); }, 40s)) << program->errors();
    EXPECT_LE(std::chrono::steady_clock::now() - dropped, 27s + 2s);

    // By 37 s each answering host is due at 5, 10, ... 35 s: seven requests;
    // a starved one got one or two. Five on average is asked: a build under
    // the sanitizers, beside other tests, falls behind by one at times.
    std::this_thread::sleep_until(started + 37s);
    program->signal(SIGUSR2);
    ASSERT_TRUE(waitFor([&] { return program->errors().find("Requests sent: ") != std::string::npos; }, 5s));
    const std::string counts = program->errors().substr(program->errors().find("Requests sent: "));
    unsigned long sent = 0;
    unsigned long matched = 0;
    ASSERT_EQ(std::sscanf(counts.c_str(), "Requests sent: %lu, replies matched: %lu", &sent, &matched), 2) << counts;
    EXPECT_GE(matched, 99u * 5u) << counts;
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(5s), 0) << program->errors();
    const auto logged = readRecords(log());
    for (int last = 100; last < 200; ++last) {
        if (last == 150)
            continue;
        EXPECT_TRUE(recordsOf(logged, "up" + std::to_string(last)).empty()) << last;
    }
}

TEST_F(LabProgram, HostListedByANameItsAddressDoesNotReadBackAs)
{
    // The lab's hosts file reads 198.19.16.5 back as "named.lab".
    auto program = start("upper NAMED.LAB other letter case\n", { "-trace" });
    ASSERT_TRUE(program->waitForOutputLines("w:send successful", 3, 30s)) << program->errors();
    program->signal(SIGUSR2);
    ASSERT_TRUE(waitFor([&] { return program->errors().find("replies matched: ") != std::string::npos; }, 5s));
    EXPECT_THAT(program->errors(), testing::Not(testing::HasSubstr("replies matched: 0,")));
    EXPECT_FALSE(fileExists(log()) && !readRecords(log()).empty()) << readFile(log());

    ASSERT_TRUE(lab_->silence("198.19.16.5"));
    EXPECT_TRUE(waitFor([&] { return hasRecord(log(), "upper", "RED"); }, 40s)) << program->errors();
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(5s), 0);
}

TEST_F(LabProgram, OrdinaryUserWritesWhatTheRawSocketRunWrites)
{
    ASSERT_TRUE(lab_->openPingGroupRange());
    const std::string hosts = "answering 198.19.16.1 answers\n"
                              "silent 198.19.16.2 dropped\n"
                              "refused 198.19.16.3 rejected\n"
                              "named named.lab by name\n"
                              "router 198.18.1.2 one hop\n";
    // A raw socket reads every ICMP error in the namespace, and the decoder
    // does not look at the identifier an error quotes: the raw runs' hosts
    // keep apart so that neither takes the other's errors.
    const std::string beyond = "beyond 198.19.16.7 two hops\nrouter 198.18.1.2 one hop\n";
    TemporaryDirectory ordinary;
    TemporaryDirectory rawAtOne;
    TemporaryDirectory ordinaryAtOne;
    auto raw = start(hosts, { "-trace" });
    auto datagram = startIn(ordinary, hosts, { "-trace" }, true);
    auto rawTtl = startIn(rawAtOne, beyond, { "-ttl", "1" }, false);
    auto datagramTtl = startIn(ordinaryAtOne, beyond, { "-ttl", "1" }, true);

    const auto redIn = [](const TemporaryDirectory& directory, const std::string& name) {
        return hasRecord(directory.file("out.txt"), name, "RED");
    };
    // A silent host takes two timeouts of 10 s to turn red.
    EXPECT_TRUE(waitFor(
        [&] {
            return redIn(directory_, "silent") && redIn(directory_, "refused") && redIn(ordinary, "silent")
                && redIn(ordinary, "refused") && redIn(rawAtOne, "beyond") && redIn(ordinaryAtOne, "beyond");
        },
        60s))
        << readFile(ordinary.file("out.txt")) << datagram->errors() << datagramTtl->errors();
    EXPECT_THAT(datagram->output(), testing::HasSubstr("Pinging through the ICMP datagram socket\n"));
    EXPECT_THAT(raw->output(), testing::HasSubstr("Pinging through the raw ICMP socket\n"));
    EXPECT_THAT(datagram->errors(), testing::Not(testing::HasSubstr("Failed")));

    // The answering hosts and the router at -ttl 1 stay green all along.
    for (ProgramRun* program : { raw.get(), datagram.get(), rawTtl.get(), datagramTtl.get() }) {
        program->signal(SIGTERM);
        EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
    }
    EXPECT_EQ(withoutTimes(ordinary.file("out.txt")),
        (std::vector<std::vector<std::string>> { { "RED", "refused", "198.19.16.3", "rejected", "",
                                                     "Destination unreachable" },
            { "RED", "silent", "198.19.16.2", "dropped", "", "Timed out" } }));
    EXPECT_EQ(withoutTimes(ordinary.file("out.txt")), withoutTimes(log()));
    EXPECT_EQ(withoutTimes(ordinary.file("down.txt")), withoutTimes(down()));
    EXPECT_EQ(withoutTimes(ordinaryAtOne.file("out.txt")),
        (std::vector<std::vector<std::string>> { { "RED", "beyond", "198.19.16.7", "two hops", "", "TTL expired" } }));
    EXPECT_EQ(withoutTimes(ordinaryAtOne.file("out.txt")), withoutTimes(rawAtOne.file("out.txt")));
    EXPECT_EQ(withoutTimes(ordinaryAtOne.file("down.txt")), withoutTimes(rawAtOne.file("down.txt")));
}

TEST_F(LabProgram, TwoOrdinaryCopiesOnOverlappingListsEachGetTheirOwnReplies)
{
    ASSERT_TRUE(lab_->openPingGroupRange());
    std::string first = "router 198.18.1.2 one hop\n";
    std::string second = "router 198.18.1.2 one hop\n";
    for (int last = 1; last <= 12; ++last)
        first += "a" + std::to_string(last) + " 198.19.16." + std::to_string(last + 10) + " first\n";
    for (int last = 7; last <= 18; ++last)
        second += "b" + std::to_string(last) + " 198.19.16." + std::to_string(last + 10) + " second\n";
    TemporaryDirectory secondDirectory;
    auto one = startIn(directory_, first, { "-trace" }, true);
    auto two = startIn(secondDirectory, second, { "-trace" }, true);

    // Three rounds of 13 hosts each.
    ASSERT_TRUE(one->waitForOutputLines("w:send successful", 39, 30s)) << one->errors();
    ASSERT_TRUE(two->waitForOutputLines("w:send successful", 39, 30s)) << two->errors();
    for (ProgramRun* program : { one.get(), two.get() }) {
        EngineCountLine counts;
        ASSERT_TRUE(readEngineCounts(*program, counts)) << program->errors();
        // Every request answered and credited to its own host, none lost to
        // the other copy.
        EXPECT_EQ(counts.lost, 0u) << program->errors();
        EXPECT_EQ(counts.matched + counts.awaiting, counts.sent) << program->errors();
        EXPECT_GE(counts.matched, 13u * 2u) << program->errors();
        EXPECT_THAT(program->output(), testing::Not(testing::HasSubstr("wasn't for me")));
        program->signal(SIGTERM);
        EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
    }
    EXPECT_TRUE(readRecords(log()).empty()) << readFile(log());
    EXPECT_TRUE(readRecords(secondDirectory.file("out.txt")).empty());
}
