#pragma once

#include "core/address.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bv {

// Every host of the list as both desktops show it, with its round-trip
// figures. The rows are plain values, built under the run's lock, so that a
// window never reads a host record.
enum AllHostsColumn : int {
    kHostsNameColumn,
    kHostsHostColumn,
    kHostsStatusColumn,
    kHostsLatestColumn,
    kHostsMedianColumn,
    kHostsMaximumColumn,
    kHostsLossColumn,
    kHostsDownSinceColumn,
    kHostsAlarmColumn,
};

inline constexpr int kAllHostsColumnCount = 9;
inline constexpr std::array<const char*, kAllHostsColumnCount> kAllHostsColumnTitles { "Name", "Host", "Status",
    "Latest", "Median", "Maximum", "Loss", "Down Since", "Alarm" };
// Fallbacks; the desktops widen the columns that hold dates and titles to
// what the list's font needs.
inline constexpr std::array<int, kAllHostsColumnCount> kAllHostsDefaultWidths { 150, 200, 70, 90, 90, 90, 60, 150,
    80 };

// The widest text a ctime date takes in common fonts, for measuring.
inline constexpr const char* kWidestDateSample = "Wed May 28 00:00:00 2026";

// A cell's sort key when it is empty: before every number.
inline constexpr std::int64_t kNoSortKey = INT64_MIN;

struct AllHostsRow {
    std::string key;  // finds the row again (Address::getKey)
    std::size_t position = 0;  // in the host list
    HostStatus status = HostStatus::Green;
    std::array<std::string, kAllHostsColumnCount> cells;
    // What the numeric columns sort by; unused for the text columns.
    std::array<std::int64_t, kAllHostsColumnCount> sortKeys {};
};

// Whether a column sorts by its number rather than its text.
bool allHostsColumnIsNumeric(int column);

// A host's row; `nowMicroseconds` on the run's monotonic clock. Call with
// the run's vector mutex held.
AllHostsRow allHostsRow(const Address& address, std::size_t position, std::int64_t nowMicroseconds);

// The order of a column, ascending: numbers or text, then list order. A
// column below 0 is list order alone.
bool allHostsRowBefore(const AllHostsRow& a, const AllHostsRow& b, int column);

// "0.123 ms".
std::string formatMilliseconds(std::int64_t microseconds);

// The rows of the live run, or nothing when there is no run or its host
// list is held elsewhere just now: the caller never waits for the run's
// threads, which may be waiting for it. `tries` tries with a short pause
// between, for the caller that may wait a little.
std::optional<std::vector<AllHostsRow>> currentAllHostsRows(int tries = 1);

// The rows' cells as tab-separated lines under the column titles, each line
// ended by `lineEnd`; empty for no rows.
std::string allHostsCopyText(const std::vector<std::array<std::string, kAllHostsColumnCount>>& rows,
    std::string_view lineEnd);

// A status's word, and the colours its cell is drawn in (0xRRGGBB).
const char* statusWord(HostStatus status);
std::uint32_t statusFill(HostStatus status);
std::uint32_t statusInk(HostStatus status);

inline constexpr const char* kAllHostsFontSetting = "AllHostsFont";
inline constexpr const char* kAllHostsPlacementSetting = "AllHostsWindowPlacement";
// "AllHostsColumnWidth0" to "AllHostsColumnWidth8".
std::string allHostsColumnWidthSetting(int column);

}  // namespace bv
