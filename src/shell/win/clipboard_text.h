#pragma once

#include <windows.h>

#include <string>

namespace bv {

// Puts the text on the clipboard as CF_TEXT and CF_UNICODETEXT, for programs
// that read either; false when the clipboard could not be had.
bool putTextOnClipboard(HWND owner, const std::string& text);

}  // namespace bv
