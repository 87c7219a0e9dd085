#pragma once

#include <QString>
#include <QUrl>

namespace bv {

// The help page that ships with the program: installed beside it under
// share/beaconvigilor, or, for a program run from its build tree, the
// source tree's copy.
QString helpPageFile(const QString& programDirectory);
// The page of the running program, as the desktop's opener takes it.
QUrl helpPageUrl();

}  // namespace bv
