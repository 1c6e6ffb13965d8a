#include <windows.h>

#include "text/encoding.h"

namespace qx {

std::wstring widenText(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(kCodePageGbk, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(kCodePageGbk, 0, text.data(), size, wide.data(), n);
    return wide;
}

Text narrowText(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(kCodePageGbk, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    Text text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(kCodePageGbk, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}

}  // namespace qx
