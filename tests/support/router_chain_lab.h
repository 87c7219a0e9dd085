#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bv {

// The addresses of tests/lab/router-chain-lab.sh. Each router's is the one
// facing the monitor: the one its time-exceeded answers come from.
namespace chain_lab {

inline constexpr const char* monitor4 = "198.18.31.1";
inline constexpr const char* monitor6 = "2001:2:0:31::1";
// Hop 1, the monitor's gateway.
inline constexpr const char* r1_4 = "198.18.31.2";
inline constexpr const char* r1_6 = "2001:2:0:31::2";
// Hop 2; network A lies right behind it.
inline constexpr const char* r2_4 = "198.18.32.2";
inline constexpr const char* r2_6 = "2001:2:0:32::2";
// Hop 3, behind r2; network B lies right behind it.
inline constexpr const char* r3_4 = "198.18.34.2";
inline constexpr const char* r3_6 = "2001:2:0:34::2";
// Every address of 198.19.40.0/23 and 2001:2:0:40::/63 answers in network A
// (hop 3, answers with TTL 62), of 198.19.50.0/23 and 2001:2:0:50::/63 in
// network B (hop 4, TTL 61); these are a few of them.
inline constexpr const char* hostA4 = "198.19.40.10";
inline constexpr const char* hostA6 = "2001:2:0:40::10";
inline constexpr const char* hostB4 = "198.19.50.10";
inline constexpr const char* hostB6 = "2001:2:0:50::10";
inline constexpr int hopsToA = 3;
inline constexpr int hopsToB = 4;

}  // namespace chain_lab

// What r1 counted of the monitor's echo requests since captureStart():
// those with a TTL or hop limit of at most 8, and the others.
struct EchoRequestCount {
    long probes = 0;
    long requests = 0;
};

// The chain of routers of tests/lab/router-chain-lab.sh (monitor, r1, r2
// with network A behind it, r3 behind r2 with network B behind it), made
// for one test and removed after it, whatever happened in between. Each
// operation is true when the script did it.
class RouterChainLab {
public:
    RouterChainLab();
    ~RouterChainLab();
    RouterChainLab(const RouterChainLab&) = delete;
    RouterChainLab& operator=(const RouterChainLab&) = delete;

    // Empty when the lab stands; otherwise why it could not be made.
    const std::string& failure() const { return failure_; }

    // r3's link to network B loses its carrier: r3 answers, B does not (r3
    // says network unreachable, within its rate limit).
    bool cutFarB();
    bool restoreFarB();
    // r2's links go down: r2, r3 and both networks are silent; r1 answers
    // (and says network unreachable for what lies beyond).
    bool downR2();
    bool upR2();
    // The monitor's link to r1 loses its carrier: nothing answers.
    bool cutOwn();
    bool restoreOwn();
    // Lets every user of the monitor's namespace open ICMP datagram sockets.
    bool openPingGroupRange();
    // Counts from now (from zero again) the echo requests r1 receives from
    // the monitor.
    bool captureStart();
    std::optional<EchoRequestCount> captureCount() const;
    // The command line that runs `command` inside the monitor's namespace.
    std::vector<std::string> inMonitorNamespace(const std::vector<std::string>& command) const;
    const std::string& prefix() const { return prefix_; }

private:
    bool script(const std::vector<std::string>& arguments) const;

    std::string prefix_;
    std::string failure_;
};

}  // namespace bv
