#include "run/status_routes.h"

#include <algorithm>
#include <cctype>

namespace bv {

namespace {

int hexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

bool isControl(unsigned char character)
{
    return character < 0x20 || character == 0x7F;
}

std::string lowerCase(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
        [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return lowered;
}

// Four numbers from 0 to 255 with dots between, the first 127.
bool isIpv4Loopback(std::string_view text)
{
    int parts = 0;
    std::size_t at = 0;
    int first = -1;
    while (parts < 4) {
        std::size_t digits = 0;
        int value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return false;
        if (parts == 0)
            first = value;
        ++parts;
        if (parts < 4) {
            if (at >= text.size() || text[at] != '.')
                return false;
            ++at;
        }
    }
    return at == text.size() && first == 127;
}

// The host part of a Host header: a name or IPv4 address with an optional
// port, or a bracketed IPv6 address with one.
std::optional<std::string> hostPart(std::string_view header)
{
    if (!header.empty() && header.front() == '[') {
        const std::size_t close = header.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view rest = header.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return std::nullopt;
        return std::string(header.substr(1, close - 1));
    }
    const std::size_t colon = header.find(':');
    if (colon != std::string_view::npos && header.find(':', colon + 1) != std::string_view::npos)
        return std::nullopt;  // an IPv6 address must be in brackets
    return std::string(header.substr(0, colon));
}

}  // namespace

std::optional<std::string> decodePathSegment(std::string_view segment)
{
    std::string decoded;
    decoded.reserve(segment.size());
    for (std::size_t at = 0; at < segment.size(); ++at) {
        char character = segment[at];
        if (character == '%') {
            if (at + 2 >= segment.size())
                return std::nullopt;
            const int high = hexValue(segment[at + 1]);
            const int low = hexValue(segment[at + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            character = static_cast<char>(high * 16 + low);
            at += 2;
        }
        if (isControl(static_cast<unsigned char>(character)))
            return std::nullopt;
        decoded.push_back(character);
    }
    return decoded;
}

RoutedRequest routeRequest(std::string_view method, std::string_view target)
{
    RoutedRequest routed;
    const std::string_view path = target.substr(0, target.find('?'));
    if (path.empty() || path.front() != '/') {
        routed.status = 400;
        return routed;
    }
    static constexpr std::string_view kHistoryPrefix = "/api/v1/hosts/";
    static constexpr std::string_view kHistorySuffix = "/history";
    std::optional<StatusRoute> route;
    if (path == "/" || path == "/index.html")
        route = StatusRoute::Page;
    else if (path == "/status.js")
        route = StatusRoute::Script;
    else if (path == "/status.css")
        route = StatusRoute::Style;
    else if (path == "/metrics")
        route = StatusRoute::Metrics;
    else if (path == "/api/v1/hosts")
        route = StatusRoute::Hosts;
    else if (path == "/api/v1/events")
        route = StatusRoute::Events;
    else if (path.size() > kHistoryPrefix.size() + kHistorySuffix.size()
        && path.substr(0, kHistoryPrefix.size()) == kHistoryPrefix
        && path.substr(path.size() - kHistorySuffix.size()) == kHistorySuffix) {
        const std::string_view key
            = path.substr(kHistoryPrefix.size(), path.size() - kHistoryPrefix.size() - kHistorySuffix.size());
        // A key is one segment: its slashes come escaped.
        if (key.find('/') != std::string_view::npos) {
            routed.status = 404;
            return routed;
        }
        const auto decoded = decodePathSegment(key);
        if (!decoded || decoded->empty()) {
            routed.status = 400;
            return routed;
        }
        routed.hostKey = *decoded;
        route = StatusRoute::History;
    }
    if (!route) {
        routed.status = 404;
        return routed;
    }
    if (method != "GET" && method != "HEAD") {
        routed.status = 405;
        routed.hostKey.clear();
        return routed;
    }
    routed.route = route;
    return routed;
}

bool hostHeaderAllowed(std::optional<std::string_view> host, bool boundToLoopback)
{
    if (!boundToLoopback || !host)
        return true;
    const auto part = hostPart(*host);
    if (!part)
        return false;
    const std::string name = lowerCase(*part);
    return name == "localhost" || name == "::1" || isIpv4Loopback(name);
}

}  // namespace bv
