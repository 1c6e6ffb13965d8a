#include "app/control_text.h"

#include "text/encoding.h"

namespace qx {

std::wstring windowTextWide(HWND window) {
    if (!window) return {};
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) return {};
    // The length may be an overestimate; the copy says what it really got.
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int n = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

Text windowText(HWND window) { return narrowText(windowTextWide(window)); }

void setWindowText(HWND window, std::string_view text) {
    if (window) ::SetWindowTextW(window, widenText(text).c_str());
}

}  // namespace qx
