#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bv {

// What the HTTP server answers: the status page and its two files, the
// metrics, and the API.
enum class StatusRoute { Page, Script, Style, Metrics, Hosts, History, Events };

struct RoutedRequest {
    std::optional<StatusRoute> route;  // none for an error
    int status = 200;                  // 400, 404 or 405 with no route
    std::string hostKey;               // for History: the host's key, decoded
};

// The route of a request line's method and target. Only GET and HEAD are
// answered (405 for any other method on a known path); the query is ignored;
// a target that is not a path, or whose escapes are malformed or decode to
// a control character, is a 400; an unknown path a 404.
RoutedRequest routeRequest(std::string_view method, std::string_view target);

// Whether a request's Host header may be answered. A server bound to a
// loopback address answers only names of loopback: a web site that points
// its own name at 127.0.0.1 must not read the page through a user's
// browser. An absent header (older clients) is no such request.
bool hostHeaderAllowed(std::optional<std::string_view> host, bool boundToLoopback);

// Percent-decoding of a path segment; nothing when it is malformed or holds
// a control character.
std::optional<std::string> decodePathSegment(std::string_view segment);

}  // namespace bv
