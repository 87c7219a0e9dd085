#pragma once

#include "core/region.h"

#include <cstddef>
#include <functional>
#include <string>

namespace bv {

inline constexpr std::size_t kMaxInputLineLength = 1023;
inline constexpr std::size_t kMaxFieldLength = 255;
inline constexpr std::size_t kMaxCommentLength = 255;

// One host line cut into its three parts.
struct InputLine {
    std::string name;
    std::string hostText;
    std::string comment;
};

InputLine splitInputLine(const std::string& line);

// The runtime library's white space: space, tab, LF, VT, FF, CR.
bool isWhiteSpace(char c);

// Where a bad line is told: its text and caption.
using LineReport = std::function<void(const std::string& text, const std::string& caption)>;

// Loads every good line of the file into the registry; each bad line gets
// its own message box, or goes to `report` when one is given. Throws
// StartupFailure when the file cannot be opened, and when a line runs on for
// megabytes without a line end.
void loadInputFile(Region& region, const std::string& fileName, CalendarTime now, const LineReport& report = {});

}  // namespace bv
