#pragma once
// Control texts as Text (code page 936), through the wide-character window
// functions, so that they do not depend on the system's ANSI code page.
// Usable from any thread: across threads they travel as window messages.

#include <windows.h>

#include <string>
#include <string_view>

#include "text/text.h"

namespace qx {

[[nodiscard]] std::wstring windowTextWide(HWND window);
[[nodiscard]] Text windowText(HWND window);
void setWindowText(HWND window, std::string_view text);

}  // namespace qx
