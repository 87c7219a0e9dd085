#pragma once

#include "core/monitor_events.h"

#include <QIcon>
#include <QString>

namespace bv {

// What the tray shows for each state: the icon and the tooltip.
QIcon trayIcon(TrayState state);
QString trayTooltip(TrayState state);
// The built-in file of one state's artwork at one size.
QString trayIconFile(TrayState state, int size);

}  // namespace bv
