#pragma once

#include "support/child_process.h"
#include "support/network_lab.h"
#include "support/program_run.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace bv {

// The headless program run for real inside a network lab made for the
// test: each test starts it on a host list of its own at -pt 5000.
// Header-only: BV_HEADLESS_PROGRAM is defined for each test program.
class LabProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = labUnavailableReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        lab_ = std::make_unique<NetworkLab>();
        ASSERT_EQ(lab_->failure(), "");
    }

    std::unique_ptr<ProgramRun> start(const std::string& hosts, std::vector<std::string> options)
    {
        return startIn(directory_, hosts, options, false);
    }

    // As an ordinary user without capabilities, only an ICMP datagram socket
    // lets the program ping; its directory is opened to that user.
    std::unique_ptr<ProgramRun> startIn(const TemporaryDirectory& directory, const std::string& hosts,
        std::vector<std::string> options, bool asOrdinaryUser)
    {
        writeFile(directory.file("hosts.txt"), hosts);
        std::vector<std::string> command { BV_HEADLESS_PROGRAM, "-in", "hosts.txt", "-pt", "5000" };
        command.insert(command.end(), options.begin(), options.end());
        if (asOrdinaryUser) {
            EXPECT_EQ(chmod(directory.path().c_str(), 0777), 0);
            command = asNobody(command);
        }
        return std::make_unique<ProgramRun>(directory.path(), lab_->inMonitorNamespace(command));
    }

    std::string log() const { return directory_.file("out.txt"); }
    std::string down() const { return directory_.file("down.txt"); }

    std::unique_ptr<NetworkLab> lab_;
    TemporaryDirectory directory_;
};

}  // namespace bv
