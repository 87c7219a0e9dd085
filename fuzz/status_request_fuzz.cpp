// The status server's own request handling: the route of a method and a
// target, the host key of a history request, and the Host header check.

#include "run/status_routes.h"
#include "support/fuzz_support.h"

#include <cstdlib>

using namespace bv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = bytesAsText(data, size);
    // Method, target and Host header on lines of their own.
    const std::size_t first = text.find('\n');
    const std::size_t second = first == std::string::npos ? std::string::npos : text.find('\n', first + 1);
    const std::string method = text.substr(0, first);
    const std::string target = first == std::string::npos ? "" : text.substr(first + 1, second - first - 1);
    const std::string host = second == std::string::npos ? "" : text.substr(second + 1);

    const RoutedRequest routed = routeRequest(method, target);
    // A route or an error status, never both.
    if (routed.route.has_value() != (routed.status == 200))
        std::abort();
    if (routed.status != 200 && routed.status != 400 && routed.status != 404 && routed.status != 405)
        std::abort();
    if (routed.route == StatusRoute::History) {
        if (routed.hostKey.empty())
            std::abort();
        for (const unsigned char character : routed.hostKey)
            if (character < 0x20 || character == 0x7F)
                std::abort();
    } else if (!routed.hostKey.empty()) {
        std::abort();
    }
    // Loopback names pass the check whatever the binding; others pass only
    // a server bound elsewhere.
    if (!hostHeaderAllowed(std::string_view(host), false))
        std::abort();
    (void)hostHeaderAllowed(std::string_view(host), true);
    return 0;
}
