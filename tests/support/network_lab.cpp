#include "support/network_lab.h"
#include "support/process_tag.h"
#include "support/shell_quoted.h"

#include <cstdlib>
#include <unistd.h>

namespace bv {

std::string labUnavailableReason()
{
    if (geteuid() != 0)
        return "needs root: network namespaces";
    if (std::system("command -v ip >/dev/null && command -v nft >/dev/null") != 0)
        return "needs ip and nft";
    return {};
}

NetworkLab::NetworkLab()
    : prefix_("lab" + processTag())
{
    if (!script({ "up", prefix_ }))
        failure_ = "the lab could not be made (network-lab.sh up " + prefix_ + ")";
}

NetworkLab::~NetworkLab()
{
    script({ "down", prefix_ });
}

bool NetworkLab::script(const std::vector<std::string>& arguments) const
{
    std::string command = shellQuoted(BV_LAB_SCRIPT);
    for (const std::string& argument : arguments)
        command += " " + shellQuoted(argument);
    return std::system(command.c_str()) == 0;
}

bool NetworkLab::openPingGroupRange()
{
    return script({ "open-ping-group", prefix_ });
}

bool NetworkLab::silence(const std::string& address)
{
    return script({ "silence", prefix_, address });
}

bool NetworkLab::delay(int milliseconds, const std::vector<std::string>& addresses)
{
    std::vector<std::string> arguments { "delay", prefix_, std::to_string(milliseconds) };
    arguments.insert(arguments.end(), addresses.begin(), addresses.end());
    return script(arguments);
}

bool NetworkLab::answer(const std::string& address)
{
    return script({ "answer", prefix_, address });
}

bool NetworkLab::onlySilent(const std::vector<std::string>& addresses)
{
    std::vector<std::string> arguments { "only-silent", prefix_ };
    arguments.insert(arguments.end(), addresses.begin(), addresses.end());
    return script(arguments);
}

std::vector<std::string> NetworkLab::inMonitorNamespace(const std::vector<std::string>& command) const
{
    std::vector<std::string> line { BV_LAB_SCRIPT, "exec", prefix_ };
    line.insert(line.end(), command.begin(), command.end());
    return line;
}

}  // namespace bv
