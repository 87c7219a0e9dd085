#include "shell/headless/headless_listener.h"

namespace bv {

void HeadlessListener::showMessageBox(const std::string& text, const std::string& caption, MessageIcon)
{
    writeBoxToErrorStream(text, caption);
}

}  // namespace bv
