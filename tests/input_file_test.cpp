#include "core/input_file.h"

#include "core/startup_failure.h"
#include "support/addresses.h"
#include "support/recording_desktop.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

using namespace bv;

// Every allocation of this program is counted, so a test can see the most
// memory held at once while a file loads.
namespace {

std::atomic<std::size_t> liveBytes { 0 };
std::atomic<std::size_t> peakBytes { 0 };
constexpr std::size_t kSizeHeader = alignof(std::max_align_t);

void* countedAllocation(std::size_t size) noexcept
{
    void* block = std::malloc(size + kSizeHeader);
    if (block == nullptr)
        return nullptr;
    *static_cast<std::size_t*>(block) = size;
    const std::size_t live = liveBytes.fetch_add(size) + size;
    std::size_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(block) + kSizeHeader;
}

void countedRelease(void* pointer) noexcept
{
    if (pointer == nullptr)
        return;
    void* block = static_cast<char*>(pointer) - kSizeHeader;
    liveBytes.fetch_sub(*static_cast<std::size_t*>(block));
    std::free(block);
}

// Bytes held at once beyond what was held when it was made.
class HeldMemory {
public:
    HeldMemory() : start_(liveBytes.load()) { peakBytes.store(start_); }
    std::size_t mostHeld() const { return peakBytes.load() - start_; }

private:
    std::size_t start_;
};

}  // namespace

void* operator new(std::size_t size)
{
    if (void* pointer = countedAllocation(size))
        return pointer;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void operator delete(void* pointer) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer) noexcept { countedRelease(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { countedRelease(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { countedRelease(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { countedRelease(pointer); }

namespace {

std::string overlongBox(int lineNumber)
{
    return "Error parsing input file|unable to create address at line " + std::to_string(lineNumber)
        + " because the line is longer than 1023 characters\n";
}

class InputFileTest : public testing::Test {
protected:
    // Loads the bytes as an input file.
    void load(const std::string& bytes)
    {
        writeFile(directory.file("hosts.txt"), bytes);
        loadInputFile(region, directory.file("hosts.txt"), 5000);
    }

    std::vector<std::string> boxTexts()
    {
        std::vector<std::string> texts;
        for (const auto& box : desktop.boxes())
            texts.push_back(box.caption + "|" + box.text);
        return texts;
    }

    TemporaryDirectory directory;
    RecordingDesktop desktop;
    Region region { "hosts.txt", 30000, 20, 1000, 44, 0 };
};

}  // namespace

TEST(InputLine, Splitting)
{
    InputLine plain = splitInputLine("router-2 10.0.0.2 core switch, rack 4");
    EXPECT_EQ(plain.name, "router-2");
    EXPECT_EQ(plain.hostText, "10.0.0.2");
    EXPECT_EQ(plain.comment, "core switch, rack 4");

    InputLine spaced = splitInputLine(" \tmail   mailhost \t ");
    EXPECT_EQ(spaced.name, "mail");
    EXPECT_EQ(spaced.hostText, "mailhost");
    EXPECT_EQ(spaced.comment, "");

    InputLine tabs = splitInputLine("a\tb\tc\td\v\f");
    EXPECT_EQ(tabs.comment, "c\td");

    // The comment is cut to 255 characters counted from the end of field 2,
    // then trimmed.
    std::string longComment = "  " + std::string(253, 'x') + "yyyy";
    InputLine cut = splitInputLine("n 10.0.0.1" + longComment);
    EXPECT_EQ(cut.comment, std::string(253, 'x'));
    InputLine cutAtBlank = splitInputLine("n 10.0.0.1 " + std::string(254, 'x') + " tail");
    EXPECT_EQ(cutAtBlank.comment, std::string(254, 'x'));
}

TEST_F(InputFileTest, CommentsBlankLinesAndLineEnds)
{
    load("# printers\r\n\r\n#x 10.0.0.1\n #x 10.0.0.2 odd name\r\nweb 10.0.0.3 front end\r\nlast 10.0.0.4 no end");
    EXPECT_TRUE(desktop.boxes().empty());
    ASSERT_EQ(region.hostCount(), 3u);
    EXPECT_EQ(region.host(0)->getName(), "#x");
    EXPECT_EQ(region.host(0)->getComment(), "odd name");
    EXPECT_EQ(region.host(1)->getComment(), "front end");
    EXPECT_EQ(region.host(2)->getHostText(), "10.0.0.4");
    EXPECT_EQ(region.host(2)->getComment(), "no end");
    EXPECT_FALSE(region.getHasNamedHosts());
    EXPECT_EQ(region.host(0)->getLastSendTime(), 5000);
    EXPECT_EQ(region.host(0)->getInterval(), 30000);
}

TEST_F(InputFileTest, OnlyCommentsLoadsNothing)
{
    load("#a\n\n#b\n");
    EXPECT_EQ(region.hostCount(), 0u);
    EXPECT_TRUE(desktop.boxes().empty());
}

TEST_F(InputFileTest, FormatErrorsAndDuplicates)
{
    load("lonely\n"            // 1
         "   \n"               // 2
         "a 10.0.0.1 first\n"  // 3
         "# c\n"               // 4
         "\n"                  // 5
         "mailer mailhost\n"   // 6
         "b 10.0.0.1 again\n"  // 7
         "c mailhost dup\n");  // 8
    EXPECT_EQ(boxTexts(),
        (std::vector<std::string> {
            "Error parsing input file|unable to create address for lonely   at line 1 because the line format was not correct\n",
            "Error parsing input file|unable to create address for    at line 2 because the line format was not correct\n",
            "Duplicate IP in input file|unable to create address for b 10.0.0.1 again at line 7 because the ip was found earlier in the file\n",
            "Duplicate IP in input file|unable to create address for c mailhost dup at line 8 because the ip was found earlier in the file\n",
        }));
    for (const auto& box : desktop.boxes())
        EXPECT_EQ(box.icon, MessageIcon::Error);
    ASSERT_EQ(region.hostCount(), 2u);
    EXPECT_EQ(region.findHost("10.0.0.1")->getName(), "a");
    EXPECT_TRUE(region.getHasNamedHosts());
}

TEST_F(InputFileTest, Ipv6HostsByAddressAndBadOnesTold)
{
    load("six 2001:2:0:0::1 as written\n"  // 1
         "again 2001:2::1\n"                // 2: the same address
         "bad 2001:2:::1\n"                 // 3
         "zone fe80::1%nosuch0\n"           // 4
         "url [::1]\n"                      // 5
         "lo6 ::1 loopback\n"               // 6
#ifndef _WIN32
         "link fe80::1%lo\n"                // 7
#endif
    );
    EXPECT_EQ(boxTexts(),
        (std::vector<std::string> {
            "Duplicate IP in input file|unable to create address for again 2001:2::1  at line 2 because the ip was found earlier in the file\n",
            "Error parsing input file|unable to create address for bad 2001:2:::1  at line 3 because the host is no IPv6 address\n",
            "Error parsing input file|unable to create address for zone fe80::1%nosuch0  at line 4 because the host's zone nosuch0 is no network interface of this machine\n",
            "Error parsing input file|unable to create address for url [::1]  at line 5 because an IPv6 address is written without brackets\n",
        }));
    EXPECT_FALSE(region.getHasNamedHosts());
    const Address* six = region.findHost(test::ip("2001:2::1"));
    ASSERT_NE(six, nullptr);
    EXPECT_EQ(six->getName(), "six");
    EXPECT_EQ(six->getHostText(), "2001:2:0:0::1");
    ASSERT_NE(region.findHost(test::ip("::1")), nullptr);
#ifndef _WIN32
    ASSERT_EQ(region.hostCount(), 3u);
    EXPECT_EQ(region.host(2)->getKey(), "fe80::1%lo");
#endif
}

TEST_F(InputFileTest, NamedDuplicateStillSetsNamedHosts)
{
    load("a 10.0.0.1\nb 10.0.0.1\n");
    EXPECT_FALSE(region.getHasNamedHosts());
    Region other("x", 30000, 20, 1000, 44, 0);
    writeFile(directory.file("named.txt"), "a host\n");
    loadInputFile(other, directory.file("named.txt"), 0);
    std::unique_ptr<Address> again = std::make_unique<Address>("z", "10.9.9.9", "", 1, 1, 0);
    ASSERT_TRUE(other.addAddress(again));
    EXPECT_TRUE(other.getHasNamedHosts());
}

TEST_F(InputFileTest, OverlongLinesAndFieldsAreSkippedNotFatal)
{
    const std::string longName(256, 'n');
    const std::string longHost(256, 'h');
    load("a 10.0.0.1\n"                                    // 1
         + std::string(1024, 'x') + "\n"                   // 2: one character too many
         + "b 10.0.0.2 " + std::string(1012, 'c') + "\n"  // 3: exactly 1023 characters
         + longName + " 10.0.0.3\n"                        // 4
         + "d " + longHost + "\n"                          // 5
         + std::string(255, 'e') + " 10.0.0.5\n"           // 6: longest name allowed
         + "f 10.0.0.6\n");                                // 7
    auto boxes = desktop.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Error parsing input file");
    EXPECT_EQ(boxes[0].text, "unable to create address at line 2 because the line is longer than 1023 characters\n");
    EXPECT_EQ(boxes[1].text,
        "unable to create address for " + longName + " 10.0.0.3  at line 4 because the line format was not correct\n");
    EXPECT_EQ(boxes[2].text,
        "unable to create address for d " + longHost + "  at line 5 because the line format was not correct\n");
    ASSERT_EQ(region.hostCount(), 4u);
    EXPECT_EQ(region.host(1)->getComment(), std::string(1012, 'c').substr(0, 254));
    EXPECT_EQ(region.host(3)->getName(), "f");
}

TEST_F(InputFileTest, MissingFileThrows)
{
    try {
        loadInputFile(region, directory.file("absent.txt"), 0);
        FAIL() << "no exception";
    } catch (const StartupFailure& failure) {
        // The system's reason follows; its words differ between systems.
        EXPECT_EQ(std::string(failure.what()).rfind("Could not open input file: ", 0), 0u) << std::string(failure.what());
        EXPECT_GT(std::string(failure.what()).size(), std::string("Could not open input file: ").size());
    }
    EXPECT_TRUE(desktop.boxes().empty());
}

TEST_F(InputFileTest, DirectoryIsRefusedLikeAMissingFile)
{
    writeFile(directory.file("hosts.txt"), "a 10.0.0.1\n");
    try {
        loadInputFile(region, directory.path(), 0);
        FAIL() << "no exception";
    } catch (const StartupFailure& failure) {
        // The system's reason follows; its words differ between systems.
        EXPECT_EQ(std::string(failure.what()).rfind("Could not open input file: ", 0), 0u) << std::string(failure.what());
        EXPECT_GT(std::string(failure.what()).size(), std::string("Could not open input file: ").size());
    }
    EXPECT_TRUE(desktop.boxes().empty());
    EXPECT_EQ(region.hostCount(), 0u);
}

TEST_F(InputFileTest, OverlongLineIsReadPastNotHeld)
{
    const std::string bytes
        = "a 10.0.0.1\n" + std::string(3'000'000, 'x') + "\nb 10.0.0.2\n" + std::string(3'000'000, 'y');
    writeFile(directory.file("hosts.txt"), bytes);
    const HeldMemory held;
    loadInputFile(region, directory.file("hosts.txt"), 0);
    EXPECT_LT(held.mostHeld(), 64u * 1024) << "the lines' 3 MB were kept";
    EXPECT_EQ(boxTexts(), (std::vector<std::string> { overlongBox(2), overlongBox(4) }));
    ASSERT_EQ(region.hostCount(), 2u);
    EXPECT_EQ(region.host(1)->getName(), "b");
}

TEST_F(InputFileTest, LineWithoutEndForMegabytesStopsTheLoad)
{
    writeFile(directory.file("hosts.txt"), "a 10.0.0.1\n" + std::string(5'000'000, '\0'));
    const HeldMemory held;
    try {
        loadInputFile(region, directory.file("hosts.txt"), 0);
        FAIL() << "no exception";
    } catch (const StartupFailure& failure) {
        EXPECT_STREQ(failure.what(), "Could not read input file: line 2 has no line end within 4194304 characters");
    }
    EXPECT_LT(held.mostHeld(), 64u * 1024);
    EXPECT_EQ(boxTexts(), (std::vector<std::string> { overlongBox(2) })) << "reported once";

    // Just under the limit the line is only skipped.
    Region other("x", 30000, 20, 1000, 44, 0);
    writeFile(directory.file("long.txt"), std::string(4 * 1024 * 1024, '\0') + "\nb 10.0.0.2");
    loadInputFile(other, directory.file("long.txt"), 0);
    ASSERT_EQ(other.hostCount(), 1u);
    EXPECT_EQ(other.host(0)->getName(), "b");
}

TEST_F(InputFileTest, LongestLineCountsWithoutTheCarriageReturnOfItsEnd)
{
    const std::string longest = "b 10.0.0.2 " + std::string(1012, 'c');
    load("a 10.0.0.1\r\n"     // 1
        + longest + "\r\n"     // 2: 1023 characters and CRLF
        + longest + "\r\r\n"   // 3: one CR too many
        + longest + "d\r\n"    // 4
        + "e 10.0.0.5\n"       // 5
        + longest.substr(0, 9) + "6 " + std::string(1012, 'c') + "x");  // 6: 1024 characters, no line end
    EXPECT_EQ(boxTexts(), (std::vector<std::string> { overlongBox(3), overlongBox(4), overlongBox(6) }));
    ASSERT_EQ(region.hostCount(), 3u);
    EXPECT_EQ(region.host(1)->getHostText(), "10.0.0.2");
    EXPECT_EQ(region.host(2)->getName(), "e");
}

TEST_F(InputFileTest, LinesAcrossManyReads)
{
    // Lines of many lengths over many reads, so that reads end at every
    // kind of place in a line, the CR of a CRLF end too.
    std::string bytes;
    int count = 0;
    while (bytes.size() < 100'000) {
        const std::string name = "h" + std::to_string(count);
        const std::string line = name + " 10." + std::to_string(count / 65536) + "." + std::to_string(count / 256 % 256)
            + "." + std::to_string(count % 256) + " " + std::string(static_cast<std::size_t>(count % 700), 'c');
        bytes += line + (count % 2 == 0 ? "\n" : "\r\n");
        ++count;
    }
    load(bytes);
    EXPECT_TRUE(desktop.boxes().empty());
    ASSERT_EQ(region.hostCount(), static_cast<std::size_t>(count));
    for (int at = 0; at < count; ++at) {
        ASSERT_EQ(region.host(static_cast<std::size_t>(at))->getName(), "h" + std::to_string(at));
        ASSERT_EQ(region.host(static_cast<std::size_t>(at))->getComment(),
            std::string(static_cast<std::size_t>(at % 700), 'c').substr(0, 254));
    }
}
