#include "output/log_file.h"
#include "platform/files.h"
#include "platform/local_time.h"

#include "support/test_environment.h"

#include <gtest/gtest.h>

using namespace bv;

TEST(WinFiles, SizesRenamesAndWholeWrites)
{
    TemporaryDirectory directory;
    const std::string log = directory.file("out.txt");
    EXPECT_TRUE(platform::fileSize(log).is_error());

    EXPECT_FALSE(platform::writeWholeFile(log, "one\r\n", true).is_error());
    EXPECT_FALSE(platform::writeWholeFile(log, "two\r\n", true).is_error());
    EXPECT_EQ(readFile(log), "one\r\ntwo\r\n") << "appended, bytes unchanged";
    const auto size = platform::fileSize(log);
    ASSERT_FALSE(size.is_error());
    EXPECT_EQ(size.value(), 10);

    EXPECT_FALSE(platform::writeWholeFile(log, "new\r\n", false).is_error());
    EXPECT_EQ(readFile(log), "new\r\n") << "replaced";

    const std::string archive = directory.file("out.2005-02-21.21-05-02.txt");
    writeFile(directory.file("taken.txt"), "x");
    EXPECT_TRUE(platform::renameFileNoReplace(log, directory.file("taken.txt")).is_error()) << "never replaces";
    EXPECT_FALSE(platform::renameFileNoReplace(log, archive).is_error());
    EXPECT_EQ(readFile(archive), "new\r\n");
    EXPECT_FALSE(fileExists(log));

    const auto notOpened = platform::writeWholeFile(directory.file("no-such-dir\\x.txt"), "x", true);
    ASSERT_TRUE(notOpened.is_error());
    EXPECT_TRUE(notOpened.error().is(platform::ErrorKind::CouldNotOpen));
    EXPECT_NE(notOpened.error().code(), 0);
}

TEST(WinFiles, ArchiveNamesTakeEitherSlashAsSeparator)
{
    platform::LocalTime at;
    at.year = 2005;
    at.month = 2;
    at.day = 21;
    at.hour = 21;
    at.minute = 5;
    at.second = 2;
    const char* separators = platform::kDirectorySeparators;
    EXPECT_EQ(archiveName("out.txt", at, separators), "out.2005-02-21.21-05-02.txt");
    EXPECT_EQ(archiveName("C:\\logs\\status", at, separators), "C:\\logs\\status.2005-02-21.21-05-02");
    EXPECT_EQ(archiveName("C:\\my.logs\\status", at, separators), "C:\\my.logs\\status.2005-02-21.21-05-02");
    EXPECT_EQ(archiveName("C:\\logs\\net.status.log", at, separators), "C:\\logs\\net.status.2005-02-21.21-05-02.log");
    EXPECT_EQ(archiveName("C:/my.logs/status", at, separators), "C:/my.logs/status.2005-02-21.21-05-02");
}
