#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace bv {

// The application menu's launcher starts the program with this alone, as
// it has no host list to name.
bool startedFromMenu(const std::vector<std::string>& arguments);

// The host list of a start from the menu: the one chosen last time while
// it exists, otherwise the one `ask` gets from the user, which is kept for
// next time. Nothing when the user chose none.
std::optional<std::string> menuStartHostList(QSettings& settings, const std::function<QString()>& ask);

}  // namespace bv
