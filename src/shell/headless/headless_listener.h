#pragma once

#include "core/monitor_events.h"

namespace bv {

// The monitor as a server program hears it: no tray and no window; a
// message box is written to standard error as its caption and its text.
class HeadlessListener final : public MonitorListener {
public:
    void showMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
};

}  // namespace bv
