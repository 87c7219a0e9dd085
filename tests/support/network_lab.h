#pragma once

#include <string>
#include <vector>

namespace bv {

// The three-namespace test network of tests/lab/network-lab.sh, made for
// one test and removed after it, whatever happened in between.
class NetworkLab {
public:
    NetworkLab();
    ~NetworkLab();
    NetworkLab(const NetworkLab&) = delete;
    NetworkLab& operator=(const NetworkLab&) = delete;

    // Empty when the lab stands; otherwise why it could not be made.
    const std::string& failure() const { return failure_; }

    bool silence(const std::string& address);
    bool answer(const std::string& address);
    bool onlySilent(const std::vector<std::string>& addresses);
    // The far side answers these addresses `milliseconds` late, by a
    // responder of its own, until the lab is removed.
    bool delay(int milliseconds, const std::vector<std::string>& addresses);
    // Lets every user of the monitor's namespace open ICMP datagram sockets.
    bool openPingGroupRange();
    // The command line that runs `command` inside the monitor's namespace.
    std::vector<std::string> inMonitorNamespace(const std::vector<std::string>& command) const;

private:
    bool script(const std::vector<std::string>& arguments) const;

    std::string prefix_;
    std::string failure_;
};

// Why lab tests cannot run on this machine, or empty when they can.
std::string labUnavailableReason();

}  // namespace bv
