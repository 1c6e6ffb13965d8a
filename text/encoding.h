#pragma once
// Conversions between code page 936, UTF-16 and UTF-8, and the form encoding of a text.
// Code pages are always named explicitly (936, 65001): never CP_ACP, so the
// program behaves the same on a non-Chinese Windows.

#include <initializer_list>
#include <string>
#include <string_view>

#include "text/text.h"

namespace qx {

inline constexpr unsigned kCodePageGbk = 936;
inline constexpr unsigned kCodePageUtf8 = 65001;

// All inputs, in order, in one buffer.
[[nodiscard]] Bytes joinBytes(std::initializer_list<const Bytes*> parts);

// Bytes in a code page (up to the first zero byte) to UTF-16, two bytes per
// code unit, low byte first, terminating zero unit included. Empty in, empty out.
[[nodiscard]] Bytes ansiToUtf16(const Bytes& bytes, unsigned codePage);

// UTF-16 bytes (up to the first zero unit) to a code page, without terminator.
[[nodiscard]] Bytes utf16ToCodePage(const Bytes& utf16, unsigned codePage);

// Text (code page 936) to UTF-8, without terminator.
[[nodiscard]] Bytes textToUtf8(std::string_view text);

// The text as UTF-8 in the form encoding (urlEncode, kFormEncoding).
[[nodiscard]] Text urlEncodeText(std::string_view text);

// Text <-> UTF-16 for the platform's wide-character interfaces, code page 936
// both ways. Windows only.
[[nodiscard]] std::wstring widenText(std::string_view text);
[[nodiscard]] Text narrowText(std::wstring_view wide);

}  // namespace qx
