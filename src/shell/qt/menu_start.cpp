#include "shell/qt/menu_start.h"

#include <QFileInfo>

#include <algorithm>
#include <QSettings>

namespace bv {

namespace {

const QString kHostListKey = QStringLiteral("HostList");

}  // namespace

bool startedFromMenu(const std::vector<std::string>& arguments)
{
    // Options may follow, but a host list of its own is no start from the menu.
    return arguments.size() >= 2 && arguments[1] == "--from-menu"
        && std::find(arguments.begin() + 2, arguments.end(), "-in") == arguments.end();
}

std::optional<std::string> menuStartHostList(QSettings& settings, const std::function<QString()>& ask)
{
    const QString stored = settings.value(kHostListKey).toString();
    if (!stored.isEmpty() && QFileInfo(stored).isFile())
        return stored.toLocal8Bit().toStdString();
    const QString chosen = ask ? ask() : QString();
    if (chosen.isEmpty())
        return std::nullopt;
    const QString absolute = QFileInfo(chosen).absoluteFilePath();
    settings.setValue(kHostListKey, absolute);
    settings.sync();
    return absolute.toLocal8Bit().toStdString();
}

}  // namespace bv
