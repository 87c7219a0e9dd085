#include "shell/headless_desktop.h"

#include "platform/diagnostics.h"

namespace bv {

std::string HeadlessDesktop::boxText(const std::string& text, const std::string& caption)
{
    std::string block = caption.empty() ? std::string("Error") : caption;
    block += '\n';
    block += text;
    if (block.back() != '\n')
        block += '\n';
    return block;
}

void HeadlessDesktop::showMessageBox(const std::string& text, const std::string& caption, MessageIcon)
{
    std::string block = boxText(text, caption);
    block.pop_back();  // errorLine ends the block with its own line end
    platform::errorLine(block);
}

}  // namespace bv
