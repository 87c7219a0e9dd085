#pragma once

#include <optional>

namespace bv {

// The tray menu's commands. The numbers are the command ids of the Windows
// menu, which its tests and any tool that drives the menu know.
enum class TrayCommand : unsigned {
    ShowLog = 1,
    Properties = 2,
    About = 3,
    Exit = 5,
    ShowDown = 6,
    LiveRedList = 7,
    Help = 8,
    ShowInput = 9,
    ReloadHostList = 10,
    ShowNotices = 11,
    StartWithSession = 12,
    AllHosts = 13,
    OpenStatusPage = 14,
};

enum class TrayMenuKind { Command, Check, Separator };

struct TrayMenuItem {
    TrayMenuKind kind;
    TrayCommand command;  // unused for a separator
    const char* text;     // '&' marks the access key, as both toolkits read it
};

inline constexpr TrayMenuItem kTraySeparator { TrayMenuKind::Separator, TrayCommand {}, nullptr };

// The items in their order, top to bottom.
inline constexpr TrayMenuItem kTrayMenu[] = {
    { TrayMenuKind::Command, TrayCommand::LiveRedList, "Live &Red List" },
    kTraySeparator,
    { TrayMenuKind::Command, TrayCommand::ShowLog, "Show &Log" },
    { TrayMenuKind::Command, TrayCommand::ShowDown, "Show &Down" },
    { TrayMenuKind::Command, TrayCommand::ShowInput, "Show &Input File" },
    { TrayMenuKind::Command, TrayCommand::Properties, "&Properties" },
    kTraySeparator,
    { TrayMenuKind::Command, TrayCommand::About, "&About..." },
    { TrayMenuKind::Command, TrayCommand::Help, "&Help" },
    kTraySeparator,
    { TrayMenuKind::Command, TrayCommand::Exit, "E&xit" },
    kTraySeparator,
    { TrayMenuKind::Command, TrayCommand::ReloadHostList, "Reload Host List" },
    { TrayMenuKind::Check, TrayCommand::ShowNotices, "Show Notices" },
    { TrayMenuKind::Check, TrayCommand::StartWithSession, "Start with Session" },
    { TrayMenuKind::Command, TrayCommand::AllHosts, "All Hosts" },
    // Only while the run serves its page; last, so that it can be added to
    // a menu already built.
    { TrayMenuKind::Command, TrayCommand::OpenStatusPage, "Open Status Page" },
};

// The item shown in bold; a double click on the icon does the same.
inline constexpr TrayCommand kTrayDefaultCommand = TrayCommand::LiveRedList;

constexpr unsigned trayCommandId(TrayCommand command)
{
    return static_cast<unsigned>(command);
}

// The command of a menu id; nothing for an id the menu does not have.
std::optional<TrayCommand> trayCommandOfId(unsigned id);

}  // namespace bv
