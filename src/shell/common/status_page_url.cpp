#include "shell/common/status_page_url.h"

#include "run/served_page.h"

namespace bv {

std::string statusPageUrl(const std::string& address, std::uint16_t port)
{
    std::string host = address;
    if (host.empty() || host == "0.0.0.0")
        host = "127.0.0.1";
    else if (host == "::")
        host = "[::1]";
    else if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port) + "/";
}

std::string currentStatusPageUrl()
{
    const auto place = currentServedPlace();
    return place ? statusPageUrl(place->address, place->port) : std::string();
}

}  // namespace bv
