#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bv {

// One host's turn to red and its return, as the log recorded them; the times
// as the log wrote them.
struct LogOutage {
    std::optional<std::string> down;  // none: the RED line lies before the text read
    std::optional<std::string> up;    // none: still red at the text's end
    std::string error;
    std::optional<std::string> seconds;  // the GREEN line's outage length
};

// The outages of the host with that name and host text in log text, newest
// first, at most `limit`. Lines of other hosts, and broken ones, are passed
// over.
std::vector<LogOutage> outagesInLog(std::string_view text, std::string_view name, std::string_view hostText,
    std::size_t limit);

// The log file's last `bytes` bytes from the first whole line in them; empty
// when the file cannot be read (not yet written, or archived this moment).
std::string logTail(const std::string& logFile, std::size_t bytes);

}  // namespace bv
