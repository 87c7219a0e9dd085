// Archiving on file systems that refuse renameat2's RENAME_NOREPLACE (NFS,
// CIFS, many FUSE ones) or hard links.

#include "platform/files.h"
#include "platform/linux/rename_no_replace.h"

#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>

using namespace bv;

namespace {

int refusals = 0;

int refuseTheFlag(const char*, const char*)
{
    ++refusals;
    errno = EINVAL;
    return -1;
}

int lackTheCall(const char*, const char*)
{
    ++refusals;
    errno = ENOSYS;
    return -1;
}

int refuseLinks(const char*, const char*)
{
    ++refusals;
    errno = EPERM;
    return -1;
}

struct Refusal {
    const char* name;
    platform::detail::RenameCalls calls;
    int refusalsPerRename;
};

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.name;
}

class RenameFallback : public testing::TestWithParam<Refusal> {
protected:
    void SetUp() override
    {
        refusals = 0;
        platform::detail::renameCalls = GetParam().calls;
    }
    void TearDown() override { platform::detail::renameCalls = platform::detail::systemRenameCalls(); }

    TemporaryDirectory directory;
    const std::string log = directory.file("status.log");
    const std::string archive = directory.file("status.2005-02-21.21-05-02.log");
};

}  // namespace

TEST_P(RenameFallback, Archives)
{
    writeFile(log, "old lines\r\n");
    const auto renamed = platform::renameFileNoReplace(log, archive);
    ASSERT_FALSE(renamed.is_error()) << renamed.error().message();
    EXPECT_EQ(refusals, GetParam().refusalsPerRename) << "the fallback was taken";
    EXPECT_EQ(readFile(archive), "old lines\r\n");
    EXPECT_FALSE(fileExists(log));
}

TEST_P(RenameFallback, NeverReplacesAnArchive)
{
    writeFile(log, "new lines\r\n");
    writeFile(archive, "archived lines\r\n");
    const auto renamed = platform::renameFileNoReplace(log, archive);
    ASSERT_TRUE(renamed.is_error());
    EXPECT_EQ(renamed.error().code(), EEXIST) << renamed.error().message();
    EXPECT_EQ(readFile(archive), "archived lines\r\n");
    EXPECT_EQ(readFile(log), "new lines\r\n");
}

TEST_P(RenameFallback, ReportsAnArchiveThatCannotBeMade)
{
    const auto nothingToMove = platform::renameFileNoReplace(log, archive);
    ASSERT_TRUE(nothingToMove.is_error());
    EXPECT_EQ(nothingToMove.error().code(), ENOENT) << nothingToMove.error().message();
    EXPECT_FALSE(fileExists(archive)) << "no reservation left behind";

    writeFile(log, "lines\r\n");
    const auto nowhere = platform::renameFileNoReplace(log, directory.file("no-such-dir/status.log"));
    ASSERT_TRUE(nowhere.is_error());
    EXPECT_EQ(nowhere.error().code(), ENOENT) << nowhere.error().message();
    EXPECT_EQ(readFile(log), "lines\r\n");
}

INSTANTIATE_TEST_SUITE_P(Refusals, RenameFallback,
    testing::Values(Refusal { "FlagRefusedThenLink", { &refuseTheFlag, platform::detail::systemRenameCalls().link }, 1 },
        Refusal { "CallMissingThenLink", { &lackTheCall, platform::detail::systemRenameCalls().link }, 1 },
        Refusal { "FlagAndLinksRefusedThenReservation", { &refuseTheFlag, &refuseLinks }, 2 }),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// A link or a device is written through: "-red /dev/null" must never turn
// the device into a file. (A link stands in for the device here.)
TEST(ReplaceFileContent, WritesThroughWhatIsNoRegularFile)
{
    TemporaryDirectory directory;
    const std::string target = directory.file("real-down.txt");
    const std::string link = directory.file("down.txt");
    writeFile(target, "old\r\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(platform::replaceFileContent(link, "new\r\n").is_error());
    struct stat status {};
    ASSERT_EQ(::lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(readFile(target), "new\r\n");
}
