#pragma once

#include "shell/desktop.h"

namespace bv {

// The desktop of a server: tray states and notices return at once, and a
// message box is written to standard error as its caption and its text.
class HeadlessDesktop final : public Desktop {
public:
    void setTrayState(TrayState) override {}
    void addressChanged(Address&) override {}
    void addressStillRed(Address&) override {}
    void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void quit() override {}

    // The block that showMessageBox writes.
    static std::string boxText(const std::string& text, const std::string& caption);
};

}  // namespace bv
