#include "shell/qt/tray_look.h"

#include <QPixmap>

namespace bv {

namespace {

// The artwork of res/icons, one file per size, so that every panel size
// gets crisp edges instead of a scaled 16-pixel image.
constexpr int kIconSizes[] = { 16, 22, 24, 32, 48, 64 };

QString artworkName(TrayState state)
{
    switch (state) {
    case TrayState::Start:
    case TrayState::Green:
        return QStringLiteral("green");
    case TrayState::Yellow:
        return QStringLiteral("yellow");
    case TrayState::Red:
        return QStringLiteral("red");
    case TrayState::ShuttingDown:
        return QStringLiteral("shutting-down");
    }
    return QStringLiteral("red");
}

}  // namespace

QString trayIconFile(TrayState state, int size)
{
    return QStringLiteral(":/icons/%1-%2.png").arg(artworkName(state)).arg(size);
}

QIcon trayIcon(TrayState state)
{
    QIcon icon;
    for (int size : kIconSizes)
        icon.addPixmap(QPixmap(trayIconFile(state, size)));
    return icon;
}

QString trayTooltip(TrayState state)
{
    switch (state) {
    case TrayState::Start:
        return QStringLiteral("BeaconVigilor");
    case TrayState::Green:
        return QStringLiteral("BeaconVigilor Status Green");
    case TrayState::Yellow:
        return QStringLiteral("BeaconVigilor Status Yellow");
    case TrayState::Red:
        return QStringLiteral("BeaconVigilor Status Red");
    case TrayState::ShuttingDown:
        return QStringLiteral("BeaconVigilor is shutting down...");
    }
    return QStringLiteral("BeaconVigilor");
}

}  // namespace bv
