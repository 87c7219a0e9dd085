#include "output/cereal.h"

#include "support/child_process.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace bv;

namespace {

bool sameLine(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetospeed(&a) == cfgetospeed(&b) && cfgetispeed(&a) == cfgetispeed(&b);
}

const std::string kDefaultSettings = "baud=9600 parity=N data=8 stop=1 octs=on";

TEST(Cereal, DefaultSettingsTurnA19200TwoStopLineInto9600N81WithCtsFlow)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    termios t = pty.line();
    cfsetospeed(&t, B19200);
    cfsetispeed(&t, B19200);
    t.c_cflag = (t.c_cflag & ~CRTSCTS) | CSTOPB;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &t), 0);

    Cereal port;
    ASSERT_TRUE(port.open(pty.slaveName)) << port.errorDescription();
    EXPECT_TRUE(port.configure(kDefaultSettings)) << port.errorDescription();

    const termios after = pty.line();
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    EXPECT_EQ(after.c_cflag & PARENB, 0u);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(after.c_cflag & CSTOPB, 0u);
    EXPECT_NE(after.c_cflag & CRTSCTS, 0u);
    // The settings follow the system's text directly, with nothing put between.
    errno = EIO;
    EXPECT_EQ(port.errorDescription(),
              std::string(std::strerror(EIO)) + "Your current settings: Baud rate=9600 parity=0 stop=0");
}

TEST(Cereal, SettingsNotNamedStayAsTheLineHadThem)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    termios t = pty.line();
    cfsetospeed(&t, B2400);
    cfsetispeed(&t, B2400);
    t.c_cflag = (t.c_cflag & ~CRTSCTS) | CSTOPB;
    t.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &t), 0);

    Cereal port;
    ASSERT_TRUE(port.open(pty.slaveName));
    const termios before = pty.line();
    ASSERT_TRUE(port.configure("baud=4800")) << port.errorDescription();
    termios expected = before;
    cfsetospeed(&expected, B4800);
    cfsetispeed(&expected, B4800);
    EXPECT_TRUE(sameLine(pty.line(), expected));

    ASSERT_TRUE(port.configure("xon=off octs=on")) << port.errorDescription();
    expected.c_iflag &= ~(IXON | IXOFF);
    expected.c_cflag |= CRTSCTS;
    EXPECT_TRUE(sameLine(pty.line(), expected));
    errno = EIO;
    EXPECT_EQ(port.errorDescription(),
              std::string(std::strerror(EIO)) + "Your current settings: Baud rate=4800 parity=0 stop=2");

    // A pseudo-terminal keeps no parity: the line must refuse and stay whole,
    // stop bits included.
    EXPECT_FALSE(port.configure("parity=e stop=1"));
    EXPECT_TRUE(sameLine(pty.line(), expected));
    EXPECT_NE(port.errorDescription().find(std::strerror(EINVAL)), std::string::npos);
}

TEST(Cereal, BytesArriveExactlyAsWritten)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    Cereal port;
    ASSERT_TRUE(port.open(pty.slaveName)) << port.errorDescription();
    port.configure(kDefaultSettings);

    std::string block = "host one\t10.0.0.1\tRED\r\nhost two\t10.0.0.2\tGREEN\r\n\n";
    for (int b = 0; b < 256; ++b)
        block.push_back(static_cast<char>(b));
    EXPECT_EQ(port.write(block.data(), static_cast<int>(block.size())), static_cast<int>(block.size()));
    EXPECT_EQ(pty.readMaster(block.size()), block);
    port.close();

    // Closed: nothing goes anywhere.
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_FALSE(port.configure(kDefaultSettings));
}

TEST(Cereal, PortHeldElsewhereCannotBeOpenedUntilReleased)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    const std::string busy = std::strerror(EBUSY);
    {
        Cereal holder;
        ASSERT_TRUE(holder.open(pty.slaveName)) << holder.errorDescription();
        Cereal other;
        EXPECT_FALSE(other.open(pty.slaveName));
        const std::string description = other.errorDescription();
        EXPECT_NE(description.find(busy), std::string::npos) << description;
        EXPECT_EQ(description.find("Your current settings"), std::string::npos) << description;
        EXPECT_EQ(other.write("x", 1), -1);
        holder.close();
        EXPECT_TRUE(other.open(pty.slaveName)) << other.errorDescription();
    }

    // Another program holding the device by its lock.
    const int held = ::open(pty.slaveName.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    Cereal port;
    EXPECT_FALSE(port.open(pty.slaveName));
    EXPECT_NE(port.errorDescription().find(busy), std::string::npos);
    ::close(held);
    EXPECT_TRUE(port.open(pty.slaveName)) << port.errorDescription();
    const std::string text = "after release\r\n";
    EXPECT_EQ(port.write(text.data(), static_cast<int>(text.size())), static_cast<int>(text.size()));
    EXPECT_EQ(pty.readMaster(text.size()), text);
}

// The errno of an open of `path` by an unprivileged process, 0 on success,
// as the child's status. Privilege bypasses exclusive use, so a root test
// drops it in the child.
ChildOutcome unprivilegedOpen(const std::string& path)
{
    return runInChild([&] {
        if (geteuid() == 0 && !becomeNobody()) {
            childSetupFailed("become nobody");
            return 255;
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        return fd >= 0 ? 0 : (errno & 0x7f);
    });
}

TEST(Cereal, OthersAreKeptOutWhileThePortIsHeld)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    ASSERT_EQ(fchmod(pty.slave, 0666), 0);
    const ChildOutcome free = unprivilegedOpen(pty.slaveName);
    ASSERT_EQ(free.status, 0) << free.output;
    Cereal port;
    ASSERT_TRUE(port.open(pty.slaveName));
    const ChildOutcome held = unprivilegedOpen(pty.slaveName);
    EXPECT_EQ(held.status, EBUSY) << held.output;
    port.close();
    const ChildOutcome freed = unprivilegedOpen(pty.slaveName);
    EXPECT_EQ(freed.status, 0) << freed.output;
}

TEST(Cereal, FailedWriteDescribesErrorThenSettings)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    Cereal port;
    ASSERT_TRUE(port.open(pty.slaveName));
    ASSERT_TRUE(port.configure(kDefaultSettings)) << port.errorDescription();

    // Bytes the system cannot read make the write itself fail.
    const long pageSize = sysconf(_SC_PAGESIZE);
    void* page = mmap(nullptr, static_cast<std::size_t>(pageSize), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    EXPECT_EQ(port.write(static_cast<const char*>(page), 16), -1);
    const std::string description = port.errorDescription();
    munmap(page, static_cast<std::size_t>(pageSize));

    const std::string systemText = std::strerror(EFAULT);
    EXPECT_EQ(description, systemText + "Your current settings: Baud rate=9600 parity=0 stop=0");
    // Reading the settings did not replace the error being described.
    errno = EFAULT;
    EXPECT_EQ(port.errorDescription(), port.errorDescription());
    EXPECT_EQ(port.errorDescription().rfind(systemText, 0), 0u);
}

TEST(Cereal, RejectedSettingsLeaveTheLineAsItWas)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    termios t = pty.line();
    cfsetospeed(&t, B19200);
    cfsetispeed(&t, B19200);
    t.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &t), 0);

    Cereal port;
    ASSERT_TRUE(port.open(pty.slaveName));
    const termios before = pty.line();
    // Unreadable texts, and one this kind of line cannot do (DSR flow).
    for (const char* text : {"baud=abc", "baud=9600 data=9", "", "9600,n,8,1,garbage", "baud=9600 odsr=on",
                             "baud=9600 data=8 stop=1.5"}) {
        EXPECT_FALSE(port.configure(text)) << text;
        EXPECT_TRUE(sameLine(pty.line(), before)) << text;
    }
    EXPECT_NE(port.errorDescription().find(std::strerror(EINVAL)), std::string::npos);
}

TEST(Cereal, MissingDeviceFailsToOpen)
{
    Cereal port;
    EXPECT_FALSE(port.open("/dev/no-such-serial-port-here"));
    const std::string description = port.errorDescription();
    EXPECT_NE(description.find(std::strerror(ENOENT)), std::string::npos) << description;
    EXPECT_EQ(description, std::strerror(ENOENT)) << "no settings for a port never opened";
    EXPECT_FALSE(port.configure(kDefaultSettings));
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_FALSE(port.open(""));
}

}  // namespace
