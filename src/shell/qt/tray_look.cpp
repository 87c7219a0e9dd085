#include "shell/qt/tray_look.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>

namespace {

// A small computer screen, drawn rather than loaded so that every panel
// size gets crisp edges.
QPixmap screenPixmap(int size, TrayState state)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const double unit = size / 16.0;
    const QRectF frame(0.5 * unit, 1.5 * unit, 15 * unit, 11 * unit);
    const QRectF screen = frame.adjusted(1.5 * unit, 1.5 * unit, -1.5 * unit, -1.5 * unit);
    painter.fillRect(QRectF(6 * unit, 12.5 * unit, 4 * unit, 1.5 * unit), QColor(64, 64, 64));
    painter.fillRect(QRectF(3.5 * unit, 14 * unit, 9 * unit, 1.5 * unit), QColor(64, 64, 64));
    painter.fillRect(frame, QColor(48, 48, 48));
    switch (state) {
    case TrayState::Start:
    case TrayState::Green:
        painter.fillRect(screen, QColor(0, 200, 0));
        break;
    case TrayState::Yellow:
        painter.fillRect(screen, QColor(255, 220, 0));
        break;
    case TrayState::Red:
        painter.fillRect(screen, QColor(230, 0, 0));
        break;
    case TrayState::ShuttingDown: {
        painter.fillRect(screen, QColor(16, 16, 16));
        const QColor dots[] = { QColor(230, 0, 0), QColor(255, 220, 0), QColor(0, 200, 0) };
        const double places[][2] = { { 3, 4 }, { 8, 5 }, { 11, 3.5 }, { 5, 8 }, { 10, 8.5 }, { 7, 3 } };
        int i = 0;
        for (const auto& place : places) {
            painter.fillRect(QRectF(place[0] * unit, place[1] * unit, 1.5 * unit, 1.5 * unit), dots[i % 3]);
            ++i;
        }
        break;
    }
    }
    return pixmap;
}

}  // namespace

QIcon trayIcon(TrayState state)
{
    QIcon icon;
    for (int size : { 16, 22, 24, 32, 48, 64 })
        icon.addPixmap(screenPixmap(size, state));
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
