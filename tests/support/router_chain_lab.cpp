#include "support/router_chain_lab.h"
#include "support/process_tag.h"
#include "support/shell_quoted.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bv {

namespace {

std::string commandLine(const std::vector<std::string>& arguments)
{
    std::string command = shellQuoted(BV_CHAIN_LAB_SCRIPT);
    for (const std::string& argument : arguments)
        command += " " + shellQuoted(argument);
    return command;
}

}  // namespace

// Apart from NetworkLab's "lab" prefix, so both can stand at once.
RouterChainLab::RouterChainLab()
    : prefix_("rc" + processTag())
{
    if (!script({ "up", prefix_ }))
        failure_ = "the lab could not be made (router-chain-lab.sh up " + prefix_ + ")";
}

RouterChainLab::~RouterChainLab()
{
    script({ "down", prefix_ });
}

bool RouterChainLab::script(const std::vector<std::string>& arguments) const
{
    return std::system(commandLine(arguments).c_str()) == 0;
}

bool RouterChainLab::cutFarB() { return script({ "cut-far-b", prefix_ }); }
bool RouterChainLab::restoreFarB() { return script({ "restore-far-b", prefix_ }); }
bool RouterChainLab::downR2() { return script({ "down-r2", prefix_ }); }
bool RouterChainLab::upR2() { return script({ "up-r2", prefix_ }); }
bool RouterChainLab::cutOwn() { return script({ "cut-own", prefix_ }); }
bool RouterChainLab::restoreOwn() { return script({ "restore-own", prefix_ }); }
bool RouterChainLab::openPingGroupRange() { return script({ "open-ping-group", prefix_ }); }
bool RouterChainLab::captureStart() { return script({ "capture-start", prefix_ }); }

std::optional<EchoRequestCount> RouterChainLab::captureCount() const
{
    FILE* pipe = popen(commandLine({ "capture-count", prefix_ }).c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pclose(pipe) != 0)
        return std::nullopt;
    EchoRequestCount count;
    std::istringstream words(output);
    if (!(words >> count.probes >> count.requests))
        return std::nullopt;
    return count;
}

std::vector<std::string> RouterChainLab::inMonitorNamespace(const std::vector<std::string>& command) const
{
    std::vector<std::string> line { BV_CHAIN_LAB_SCRIPT, "exec", prefix_ };
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

}  // namespace bv
