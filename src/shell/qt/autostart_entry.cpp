#include "shell/qt/autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>


namespace bv {

namespace {

std::string execWord(const std::string& word)
{
    static const char reserved[] = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (word.empty() || word.find_first_of(reserved, 0, sizeof reserved - 1) != std::string::npos) {
        quoted = "\"";
        for (char c : word) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    } else {
        quoted = word;
    }
    // A lone % would read as a field code.
    std::string result;
    for (char c : quoted) {
        result += c;
        if (c == '%')
            result += '%';
    }
    return result;
}

// The escapes of a string value, applied after the Exec quoting.
std::string stringValue(const std::string& text)
{
    std::string value;
    for (char c : text) {
        switch (c) {
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
        }
    }
    return value;
}

}  // namespace

std::string desktopExecValue(const std::vector<std::string>& command)
{
    std::string line;
    for (const std::string& word : command)
        line += (line.empty() ? "" : " ") + execWord(word);
    return stringValue(line);
}

QString autostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/beaconvigilor.desktop");
}

bool autostartEntryExists()
{
    return QFileInfo::exists(autostartEntryPath());
}

bool writeAutostartEntry(const std::vector<std::string>& command)
{
    const QString path = autostartEntryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=BeaconVigilor\n"
                              "Comment=Watches a list of hosts by ICMP echo and shows the red ones live\n"
                              "Exec="
        + desktopExecValue(command)
        + "\n"
          "Icon=beaconvigilor\n"
          "Terminal=false\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.data(), static_cast<qint64>(entry.size()));
    return file.commit();
}

bool removeAutostartEntry()
{
    const QString path = autostartEntryPath();
    return !QFileInfo::exists(path) || QFile::remove(path);
}

}  // namespace bv
