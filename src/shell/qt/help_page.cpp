#include "shell/qt/help_page.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace bv {

QString helpPageFile(const QString& programDirectory)
{
    const QString installed
        = QDir(programDirectory).absoluteFilePath(QStringLiteral("../share/beaconvigilor/beaconvigilor-help.html"));
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    return QStringLiteral(BV_SOURCE_HELP_PAGE);
}

QUrl helpPageUrl()
{
    return QUrl::fromLocalFile(helpPageFile(QCoreApplication::applicationDirPath()));
}

}  // namespace bv
