// The red list window's stored settings as the desktop program reads them
// back: the bytes are the settings file, read through the settings store
// into a window, offscreen.

#include "shell/qt/red_list_window.h"
#include "support/fuzz_support.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QSettings>
#include <QTreeWidget>
#include <cstdlib>
#include <memory>
#include <unistd.h>

using namespace bv;

namespace {

QString settingsPath()
{
    return QString::fromStdString(scratchDirectory()) + QStringLiteral("/bv-red-list-fuzz-%1.ini").arg(getpid());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(*argc, *argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::atexit([] { QFile::remove(settingsPath()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        QFile file(settingsPath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            invariantBroken("the settings file could not be written");
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    QSettings settings(settingsPath(), QSettings::IniFormat);
    auto window = std::make_unique<RedListWindow>(settings);
    window->restoreSettings();
    const QHeaderView* header = window->list()->header();
    for (int column = 0; column < 6; ++column) {
        const int width = header->sectionSize(column);
        FUZZ_CHECK(width >= 0 && width <= 0xFFFF, std::to_string(width));
    }
    FUZZ_CHECK(window->list()->columnCount() == 6, "");
    window->hide();
    return 0;
}
