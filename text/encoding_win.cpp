#include <windows.h>

#include <cstring>

#include "text/encoding.h"
#include "text/url_encode.h"

static_assert(sizeof(wchar_t) == 2, "UTF-16 code units are wchar_t on Windows");

namespace qx {

namespace {

// The part of a zero-terminated string before its terminator.
template <class Char>
std::basic_string_view<Char> beforeZero(std::basic_string_view<Char> s) {
    return s.substr(0, s.find(Char{}));
}

}  // namespace

std::wstring widen(std::string_view bytes, unsigned codePage) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), n) != n) return {};
    return wide;
}

std::string narrow(std::wstring_view wide, unsigned codePage) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string bytes(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), n, nullptr, nullptr) != n) return {};
    return bytes;
}

Bytes ansiToUtf16(const Bytes& bytes, unsigned codePage) {
    std::wstring wide = widen(toText(bytes), codePage);
    if (wide.empty()) return {};
    wide += L'\0';
    Bytes utf16(2 * wide.size(), 0);
    std::memcpy(utf16.data(), wide.data(), utf16.size());
    return utf16;
}

Bytes utf16ToCodePage(const Bytes& utf16, unsigned codePage) {
    // Copied into whole code units: the buffer may be of odd length or
    // unaligned. A dangling half unit at the end is not a character and is left out.
    std::wstring wide(utf16.size() / 2, L'\0');
    if (!wide.empty()) std::memcpy(wide.data(), utf16.data(), 2 * wide.size());
    return toBytes(narrow(beforeZero<wchar_t>(wide), codePage));
}

Bytes textToUtf8(std::string_view text) {
    return toBytes(narrow(widenText(beforeZero(text)), kCodePageUtf8));
}

Text urlEncodeText(std::string_view text) {
    return urlEncode(textToUtf8(text), kFormEncoding);
}

}  // namespace qx
