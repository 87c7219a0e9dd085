#pragma once

#include <array>
#include <string>

namespace bv {

class Address;

// The red list as both desktops show it: one row per red address, newest
// first, found again by the exact text of its IP column.
enum RedListColumn : int { kIpColumn, kCommentColumn, kDownSinceColumn, kErrorColumn, kLatestPingColumn, kNameColumn };

inline constexpr int kRedListColumnCount = 6;
// The name column keeps its default width.
inline constexpr int kRedListStoredColumns = 5;
inline constexpr std::array<const char*, kRedListColumnCount> kRedListColumnTitles { "IP", "Comment", "Down Since",
    "Error", "Latest Ping", "Name" };
// The IP column fits an IPv6 address.
inline constexpr std::array<int, kRedListColumnCount> kRedListDefaultWidths { 250, 100, 150, 200, 150, 150 };
// What a still-red host changes in its row.
inline constexpr std::array<RedListColumn, 2> kRedListUpdatedColumns { kErrorColumn, kLatestPingColumn };

using RedListRow = std::array<std::string, kRedListColumnCount>;

// The cells of a red host's row, in column order.
RedListRow redListRow(const Address& address);
// The text of its IP column, which finds the row again: the host text, for
// a dual-stack name's IPv6 twin with " (IPv6)" after it.
std::string redListKey(const Address& address);

// Where the red list keeps its font, widths and placement, and the tray its
// choices: a key of the current user on Windows, the organisation's and the
// program's settings file with Qt.
inline constexpr const char* kSettingsRegistryKey = "Software\\BeaconVigilor";
inline constexpr const char* kSettingsOrganization = "BeaconVigilor";
inline constexpr const char* kSettingsApplication = "BeaconVigilor";

inline constexpr const char* kFontSetting = "Font";
inline constexpr const char* kWindowPlacementSetting = "WindowPlacement";
inline constexpr const char* kShowNoticesSetting = "ShowNotices";
// "ColumnWidth0" to "ColumnWidth4".
std::string columnWidthSetting(int column);

}  // namespace bv
