#pragma once

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace bv {

// A pseudo-terminal pair; the slave side plays the serial port.
class PtyPair {
public:
    PtyPair()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        char name[128] = {};
        if (ptsname_r(master, name, sizeof name) != 0)
            return;
        slaveName = name;
        slave = ::open(name, O_RDWR | O_NOCTTY);
    }
    ~PtyPair()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ready() const { return master >= 0 && slave >= 0; }

    termios line() const
    {
        termios t{};
        EXPECT_EQ(tcgetattr(slave, &t), 0);
        return t;
    }

    // Whatever reaches the master within the deadline, up to `wanted` bytes.
    std::string readMaster(std::size_t wanted) const
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < wanted && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN))
                continue;
            char buffer[512];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    int master = -1;
    int slave = -1;
    std::string slaveName;
};

}  // namespace bv
