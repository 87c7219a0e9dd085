#include "shell/common/tray_menu.h"

namespace bv {

std::optional<TrayCommand> trayCommandOfId(unsigned id)
{
    for (const TrayMenuItem& item : kTrayMenu) {
        if (item.kind != TrayMenuKind::Separator && trayCommandId(item.command) == id)
            return item.command;
    }
    return std::nullopt;
}

}  // namespace bv
