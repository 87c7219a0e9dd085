#include "platform/error_or.h"
#include "platform/files.h"

#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

using namespace bv;

namespace {

// Nothing when the file could not be opened.
std::optional<std::string> readIfOpened(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(ErrorOr, HoldsAValueOrAnError)
{
    platform::ErrorOr<std::unique_ptr<int>> held = std::make_unique<int>(7);
    ASSERT_FALSE(held.is_error());
    EXPECT_EQ(*held.value(), 7);
    const std::unique_ptr<int> taken = held.release_value();
    EXPECT_EQ(*taken, 7);

    const platform::ErrorOr<int> failed = platform::Error(0, "no address");
    ASSERT_TRUE(failed.is_error());
    EXPECT_EQ(failed.error().code(), 0);
    EXPECT_EQ(failed.error().message(), "no address") << "no system words without a code";

    const platform::ErrorOr<void> done;
    EXPECT_FALSE(done.is_error());
    const platform::ErrorOr<void> refused = platform::Error(13, "open");
    ASSERT_TRUE(refused.is_error());
    EXPECT_EQ(refused.error().message().rfind("open: ", 0), 0u) << refused.error().message();
    EXPECT_GT(refused.error().message().size(), std::string("open: ").size());
}

TEST(Files, SizesRenamesAndWholeWrites)
{
    TemporaryDirectory directory;
    const std::string log = directory.file("out.txt");
    const auto missing = platform::fileSize(log);
    ASSERT_TRUE(missing.is_error());
    EXPECT_TRUE(missing.error().is(platform::ErrorKind::CouldNotOpen));
    EXPECT_NE(missing.error().code(), 0);

    EXPECT_FALSE(platform::writeWholeFile(log, "one\r\n", true).is_error());
    EXPECT_FALSE(platform::writeWholeFile(log, "two\r\n", true).is_error());
    EXPECT_EQ(readFile(log), "one\r\ntwo\r\n");
    const auto size = platform::fileSize(log);
    ASSERT_FALSE(size.is_error());
    EXPECT_EQ(size.value(), 10);

    EXPECT_FALSE(platform::writeWholeFile(log, "new\r\n", false).is_error());
    EXPECT_EQ(readFile(log), "new\r\n") << "replaced, old tail cut";

    const std::string taken = directory.file("taken.txt");
    writeFile(taken, "x");
    const auto refused = platform::renameFileNoReplace(log, taken);
    ASSERT_TRUE(refused.is_error()) << "never replaces";
    EXPECT_NE(refused.error().code(), 0);
    EXPECT_EQ(readFile(taken), "x");
    EXPECT_FALSE(platform::renameFileNoReplace(log, directory.file("archive.txt")).is_error());
    EXPECT_EQ(readFile(directory.file("archive.txt")), "new\r\n");
    EXPECT_FALSE(fileExists(log));

    const auto notOpened = platform::writeWholeFile(directory.file("no-such-dir/x.txt"), "x", true);
    ASSERT_TRUE(notOpened.is_error());
    EXPECT_TRUE(notOpened.error().is(platform::ErrorKind::CouldNotOpen));
    EXPECT_NE(notOpened.error().code(), 0);
}

TEST(Files, ReplacedContentIsNeverSeenTorn)
{
    TemporaryDirectory directory;
    const std::string down = directory.file("down.txt");
    // Of different lengths, so a rewrite in place shows a mix or a cut.
    const std::string longer = std::string(3000, 'a') + "\r\n";
    const std::string shorter = "b\r\n";
    ASSERT_FALSE(platform::replaceFileContent(down, longer).is_error());

    std::atomic<bool> writing { true };
    std::atomic<int> failures { 0 };
    std::thread writer([&] {
        for (int round = 0; round < 2000; ++round)
            if (platform::replaceFileContent(down, round % 2 == 0 ? shorter : longer).is_error())
                ++failures;
        writing = false;
    });
    int reads = 0;
    int unopened = 0;
    int torn = 0;
    std::string example;
    while (writing) {
        const std::optional<std::string> seen = readIfOpened(down);
        ++reads;
        if (!seen) {
            ++unopened;
        } else if (*seen != longer && *seen != shorter) {
            ++torn;
            example = seen->substr(0, 20) + "... (" + std::to_string(seen->size()) + " bytes)";
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads, e.g. " << example;
#ifdef _WIN32
    // Windows refuses to replace a file a reader holds open, and to open one
    // while it is being replaced: either side fails and may try again, but
    // neither sees it torn.
    EXPECT_LT(failures.load(), 2000) << "no replacement got through";
#else
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(unopened, 0);
#endif
    EXPECT_GT(reads, 0);
    ASSERT_FALSE(platform::replaceFileContent(down, longer).is_error());
    EXPECT_EQ(readFile(down), longer);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1) << "no temporary left";
}

TEST(Files, ReplacingReportsWhatFailedAndLeavesNothingBehind)
{
    TemporaryDirectory directory;
    const auto notCreated = platform::replaceFileContent(directory.file("no-such-dir/down.txt"), "x");
    ASSERT_TRUE(notCreated.is_error());
    EXPECT_TRUE(notCreated.error().is(platform::ErrorKind::CouldNotOpen));

    // A directory in the file's place is neither renamed over nor opened:
    // the caller tells the user it could not be opened, as before.
    const std::string occupied = directory.file("down.txt");
    std::filesystem::create_directory(occupied);
    writeFile(occupied + "/inside.txt", "x");
    const auto notRenamed = platform::replaceFileContent(occupied, "new");
    ASSERT_TRUE(notRenamed.is_error());
    EXPECT_TRUE(notRenamed.error().is(platform::ErrorKind::CouldNotOpen)) << notRenamed.error().message();
    EXPECT_NE(notRenamed.error().code(), 0);
    EXPECT_EQ(readFile(occupied + "/inside.txt"), "x");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1) << "no temporary left";
}
