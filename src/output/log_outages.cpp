#include "output/log_outages.h"

#include "platform/files.h"

#include <algorithm>

namespace bv {

namespace {

std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (true) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos)
            return fields;
        line.remove_prefix(tab + 1);
    }
}

}  // namespace

std::vector<LogOutage> outagesInLog(std::string_view text, std::string_view name, std::string_view hostText,
    std::size_t limit)
{
    std::vector<LogOutage> outages;
    bool open = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A line the writer has not finished has no line end yet.
        if (end == std::string_view::npos)
            break;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::vector<std::string_view> fields = fieldsOf(line);
        if (fields.size() < 6 || fields[2] != name || fields[3] != hostText)
            continue;
        if (fields[1] == "RED" && fields.size() >= 7) {
            outages.push_back(LogOutage { std::string(fields[0]), std::nullopt, std::string(fields[6]), std::nullopt });
            open = true;
        } else if (fields[1] == "GREEN") {
            if (!open)
                outages.push_back(LogOutage {});
            outages.back().up = std::string(fields[0]);
            outages.back().seconds = std::string(fields[5]);
            open = false;
        }
    }
    std::reverse(outages.begin(), outages.end());
    if (outages.size() > limit)
        outages.resize(limit);
    return outages;
}

std::string logTail(const std::string& logFile, std::size_t bytes)
{
    platform::InputFile file;
    if (file.open(logFile).is_error())
        return {};
    const auto at = file.seekToLast(static_cast<std::int64_t>(bytes));
    if (at.is_error())
        return {};
    std::string tail(bytes, '\0');
    std::size_t filled = 0;
    while (filled < tail.size()) {
        const auto got = file.read(tail.data() + filled, tail.size() - filled);
        if (got.is_error() || got.value() == 0)
            break;
        filled += got.value();
    }
    tail.resize(filled);
    if (at.value() > 0) {
        const std::size_t firstEnd = tail.find('\n');
        tail.erase(0, firstEnd == std::string::npos ? tail.size() : firstEnd + 1);
    }
    return tail;
}

}  // namespace bv
