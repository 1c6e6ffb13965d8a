#include <windows.h>

#include <cstring>

#include "text/encoding.h"
#include "text/url_encode.h"

static_assert(sizeof(wchar_t) == 2, "UTF-16 code units are wchar_t on Windows");

namespace qx {

Bytes ansiToUtf16(const Bytes& bytes, unsigned codePage) {
    const Bytes terminator{0};
    const Bytes source = joinBytes({&bytes, &terminator});
    if (source[0] == 0) return {};
    const auto* chars = reinterpret_cast<const char*>(source.data());
    const int units = ::MultiByteToWideChar(codePage, 0, chars, -1, nullptr, 0);
    if (units <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (::MultiByteToWideChar(codePage, 0, chars, -1, wide.data(), units) != units) return {};
    Bytes utf16(2 * static_cast<std::size_t>(units), 0);
    std::memcpy(utf16.data(), wide.data(), utf16.size());
    return utf16;
}

Bytes utf16ToCodePage(const Bytes& utf16, unsigned codePage) {
    // Copied into whole code units plus a zero unit: the buffer may be of odd
    // length or unaligned. A dangling half unit at the end is not a character
    // and is left out.
    if (utf16.size() < 2) return {};
    std::wstring wide(utf16.size() / 2, L'\0');
    std::memcpy(wide.data(), utf16.data(), 2 * wide.size());
    if (wide[0] == L'\0') return {};
    const int size = ::WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    Bytes converted(static_cast<std::size_t>(size), 0);
    if (::WideCharToMultiByte(codePage, 0, wide.c_str(), -1, reinterpret_cast<char*>(converted.data()),
                              size, nullptr, nullptr) <= 0) {
        return {};
    }
    std::size_t n = 0;
    while (n < converted.size() && converted[n] != 0) ++n;
    converted.resize(n);
    return converted;
}

Bytes textToUtf8(std::string_view text) {
    return utf16ToCodePage(ansiToUtf16(toBytes(text), kCodePageGbk), kCodePageUtf8);
}

Text urlEncodeText(std::string_view text) {
    return urlEncode(textToUtf8(text), kFormEncoding);
}

}  // namespace qx
