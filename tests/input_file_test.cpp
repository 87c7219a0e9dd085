#include "core/input_file.h"

#include "core/startup_failure.h"
#include "support/recording_desktop.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

using namespace bv;

namespace {

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
        EXPECT_STREQ(failure.what(), "Could not open input file");
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
        EXPECT_STREQ(failure.what(), "Could not open input file");
    }
    EXPECT_TRUE(desktop.boxes().empty());
    EXPECT_EQ(region.hostCount(), 0u);
}
