#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace bv {

// Opens a file or web address for the user; the shell's "open" by default.
using ShellOpener = std::function<void(HWND owner, const std::string& target)>;

void openWithShell(HWND owner, const std::string& target);

// "Version <version> (<build date>)".
std::string aboutVersionLine();

// The About box, modal and without owner. The opener, when given, stands in
// for the shell's open when the link is pressed.
void showAboutBox(HINSTANCE instance, const ShellOpener* opener = nullptr);

// The same box without a modal loop, for a caller that runs its own; it
// goes with DestroyWindow.
HWND createAboutBox(HINSTANCE instance, const ShellOpener* opener = nullptr);

}  // namespace bv
