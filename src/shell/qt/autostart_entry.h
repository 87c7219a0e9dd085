#pragma once

#include <QString>

#include <string>
#include <vector>

namespace bv {

// An Exec value of a desktop entry that runs `command` as it is: each word
// quoted where the Desktop Entry rules need it, then escaped as a string.
std::string desktopExecValue(const std::vector<std::string>& command);

// The XDG autostart entry that starts the program with the session:
// $XDG_CONFIG_HOME/autostart/beaconvigilor.desktop.
QString autostartEntryPath();
bool autostartEntryExists();
// `command` starts with the program's absolute path. False when the entry
// could not be written or removed.
bool writeAutostartEntry(const std::vector<std::string>& command);
bool removeAutostartEntry();

}  // namespace bv
