// IPv6 hosts in the test network, through the headless program: their log
// and down-file lines read like those of IPv4 hosts, as root and as an
// ordinary user, and -family both watches each family of a name on its own.

#include "support/lab_program.h"
#include "support/record_fields.h"
#include "support/wait_for.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <sstream>

using namespace bv;

namespace {

using namespace std::chrono_literals;

using Fields = std::vector<std::string>;

std::vector<Fields> recordsOf(const std::string& path, const std::string& name)
{
    std::vector<Fields> found;
    for (const Fields& fields : readRecordFields(path))
        if (fields.size() > 2 && fields[2] == name)
            found.push_back(fields);
    return found;
}

bool hasRecord(const std::string& path, const std::string& name, const std::string& status)
{
    for (const Fields& fields : recordsOf(path, name))
        if (fields[1] == status)
            return true;
    return false;
}

bool isProgramTime(const std::string& text)
{
    std::tm parts {};
    const char* end = strptime(text.c_str(), "%a %b %d %H:%M:%S %Y", &parts);
    return end && *end == '\0';
}

// The lines without their times, sorted: the lines of one sweep come in any
// order.
std::vector<Fields> withoutTimes(const std::string& path)
{
    std::vector<Fields> lines;
    for (const Fields& fields : readRecordFields(path))
        lines.emplace_back(fields.begin() + 1, fields.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool timesRead(const std::string& path)
{
    for (const Fields& fields : readRecordFields(path))
        if (!isProgramTime(fields.at(0)))
            return false;
    return true;
}

using Ipv6Lab = LabProgramTest;

}  // namespace

TEST_F(Ipv6Lab, HostsOfEitherFamilyReadAlikeAsRootAndAsAnOrdinaryUser)
{
    ASSERT_TRUE(lab_->openPingGroupRange());
    // The dropped IPv6 host is written in a long form, which the files keep.
    const std::string hosts = "answering 2001:2:0:20::10 answers\n"
                              "silent 2001:2:0:20:0::2 dropped\n"
                              "refused 2001:2:0:20::3 rejected\n"
                              "silent4 198.19.16.2 dropped\n"
                              "v6only v6only.lab IPv6 only\n"
                              "named named.lab IPv4 only\n"
                              "router 2001:2:0:11::2 one hop\n";
    // The runs at -ttl 1 ping a far address of their own, so that no run
    // has a request in flight that the others' errors could match.
    const std::string beyond = "beyond 2001:2:0:20::7 two hops\nrouter 2001:2:0:11::2 one hop\n";
    TemporaryDirectory ordinary;
    TemporaryDirectory rawAtOne;
    TemporaryDirectory ordinaryAtOne;
    auto raw = start(hosts, {});
    auto datagram = startIn(ordinary, hosts, {}, true);
    auto rawTtl = startIn(rawAtOne, beyond, { "-ttl", "1" }, false);
    auto datagramTtl = startIn(ordinaryAtOne, beyond, { "-ttl", "1" }, true);

    const auto redIn = [](const TemporaryDirectory& directory, const std::string& name) {
        return hasRecord(directory.file("out.txt"), name, "RED");
    };
    // A silent host takes two timeouts of 10 s to turn red.
    EXPECT_TRUE(waitFor(
        [&] {
            for (const TemporaryDirectory* directory : { &directory_, &ordinary })
                for (const char* name : { "silent", "refused", "silent4" })
                    if (!redIn(*directory, name))
                        return false;
            return redIn(rawAtOne, "beyond") && redIn(ordinaryAtOne, "beyond");
        },
        60s))
        << readFile(log()) << raw->errors() << readFile(ordinary.file("out.txt")) << datagram->errors()
        << readFile(rawAtOne.file("out.txt")) << rawTtl->errors() << readFile(ordinaryAtOne.file("out.txt"))
        << datagramTtl->errors();
    // The down file follows within a cycle of the log writer.
    EXPECT_TRUE(waitFor([&] { return readRecordFields(ordinary.file("down.txt")).size() == 3; }, 5s))
        << readFile(ordinary.file("down.txt"));
    EXPECT_TRUE(waitFor([&] { return readRecordFields(down()).size() == 3; }, 5s)) << readFile(down());

    // The answering hosts, both names and the router at -ttl 1 stay green all along.
    for (ProgramRun* program : { raw.get(), datagram.get(), rawTtl.get(), datagramTtl.get() }) {
        program->signal(SIGTERM);
        EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
        EXPECT_THAT(program->errors(), testing::Not(testing::HasSubstr("Failed")));
    }
    const std::vector<Fields> expected { { "RED", "refused", "2001:2:0:20::3", "rejected", "", "Destination unreachable" },
        { "RED", "silent", "2001:2:0:20:0::2", "dropped", "", "Timed out" },
        { "RED", "silent4", "198.19.16.2", "dropped", "", "Timed out" } };
    EXPECT_EQ(withoutTimes(log()), expected) << readFile(log());
    EXPECT_EQ(withoutTimes(down()), expected) << readFile(down());
    EXPECT_EQ(withoutTimes(ordinary.file("out.txt")), expected) << readFile(ordinary.file("out.txt"));
    EXPECT_EQ(withoutTimes(ordinary.file("down.txt")), expected) << readFile(ordinary.file("down.txt"));
    for (const std::string& path : { log(), down(), ordinary.file("out.txt"), ordinary.file("down.txt") })
        EXPECT_TRUE(timesRead(path)) << readFile(path);

    const std::vector<Fields> expectedBeyond { { "RED", "beyond", "2001:2:0:20::7", "two hops", "", "TTL expired" } };
    for (const TemporaryDirectory* directory : { &rawAtOne, &ordinaryAtOne }) {
        EXPECT_EQ(withoutTimes(directory->file("out.txt")), expectedBeyond) << readFile(directory->file("out.txt"));
        EXPECT_EQ(withoutTimes(directory->file("down.txt")), expectedBeyond) << readFile(directory->file("down.txt"));
    }
}

// dual.lab has an address of each family. With -family both it is two hosts,
// "dual" and "dual (IPv6)", each turning red and back on its own, while a
// name of one family is one host; without the option dual.lab is its IPv4
// host alone.
TEST_F(Ipv6Lab, FamilyBothWatchesEachFamilyOfANameOnItsOwn)
{
    ASSERT_TRUE(lab_->silence("2001:2:0:20::6"));
    auto both = start("dual dual.lab both families\n"
                      "v6only v6only.lab IPv6 only\n"
                      "named named.lab IPv4 only\n",
        { "-family", "both" });
    TemporaryDirectory defaultFamily;
    auto plain = startIn(defaultFamily, "dual dual.lab both families\n", {}, false);

    ASSERT_TRUE(waitFor([&] { return hasRecord(log(), "dual (IPv6)", "RED"); }, 60s))
        << readFile(log()) << both->errors();
    EXPECT_TRUE(waitFor([&] { return !readRecordFields(down()).empty(); }, 5s));
    EXPECT_EQ(withoutTimes(down()),
        (std::vector<Fields> { { "RED", "dual (IPv6)", "dual.lab", "both families", "", "Timed out" } }))
        << readFile(down());

    // The other way round: the IPv4 host turns red, the IPv6 one comes back.
    // The names of one family each, silenced too, turn red as one host each.
    ASSERT_TRUE(lab_->answer("2001:2:0:20::6"));
    for (const char* address : { "198.19.16.6", "198.19.16.5", "2001:2:0:20::5" })
        ASSERT_TRUE(lab_->silence(address));
    EXPECT_TRUE(waitFor(
        [&] {
            return hasRecord(log(), "dual", "RED") && hasRecord(log(), "dual (IPv6)", "GREEN")
                && hasRecord(log(), "v6only", "RED") && hasRecord(log(), "named", "RED")
                && hasRecord(defaultFamily.file("out.txt"), "dual", "RED");
        },
        60s))
        << readFile(log()) << both->errors() << readFile(defaultFamily.file("out.txt")) << plain->errors();
    const auto redAt = [](const std::string& name, const std::string& host, const std::string& comment) {
        return Fields { "RED", name, host, comment, "", "Timed out" };
    };
    const std::vector<Fields> downAtEnd { redAt("dual", "dual.lab", "both families"),
        redAt("named", "named.lab", "IPv4 only"), redAt("v6only", "v6only.lab", "IPv6 only") };
    EXPECT_TRUE(waitFor([&] { return withoutTimes(down()) == downAtEnd; }, 5s)) << readFile(down());

    for (ProgramRun* program : { both.get(), plain.get() }) {
        program->signal(SIGTERM);
        EXPECT_EQ(program->waitForExit(20s), 0) << program->errors();
        EXPECT_THAT(program->errors(), testing::Not(testing::HasSubstr("Failed")));
    }
    EXPECT_EQ(readRecordFields(log()).size(), 5u) << readFile(log());
    for (const char* name : { "dual", "named", "v6only" })
        EXPECT_EQ(recordsOf(log(), name).size(), 1u) << name << "\n" << readFile(log());
    const auto ipv6 = recordsOf(log(), "dual (IPv6)");
    ASSERT_EQ(ipv6.size(), 2u) << readFile(log());
    EXPECT_EQ(Fields(ipv6[0].begin() + 1, ipv6[0].end()), redAt("dual (IPv6)", "dual.lab", "both families"));
    EXPECT_EQ(ipv6[1].at(1), "GREEN");
    EXPECT_EQ(ipv6[1].size(), 6u);
    // Without the option the IPv6 silence went unseen: one red turn, that of
    // the IPv4 address, and it is still down.
    const std::vector<Fields> plainRed { redAt("dual", "dual.lab", "both families") };
    EXPECT_EQ(withoutTimes(defaultFamily.file("out.txt")), plainRed) << readFile(defaultFamily.file("out.txt"));
    EXPECT_EQ(withoutTimes(defaultFamily.file("down.txt")), plainRed);
}
