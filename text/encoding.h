#pragma once
// Conversions between code pages, UTF-16 and UTF-8, and the form encoding of
// a text (the encoder itself: url_encode.h).
//
// Which code page each conversion uses, and why:
// - Text is code page 936 whatever the system's ANSI code page is, so the
//   window, the automation objects and the service's form body convert it
//   as 936 (widenText, narrowText, textToUtf8), never as CP_ACP: the program
//   behaves the same on a non-Chinese Windows.
// - The settings file is the one exception: the profile functions store it in
//   the system's ANSI code page, so job/settings_file.cpp passes its values
//   through the wide interface as kCodePageAnsi, which hands the very bytes
//   back (see there).

#include <initializer_list>
#include <string>
#include <string_view>

#include "text/text.h"

namespace qx {

inline constexpr unsigned kCodePageAnsi = 0;  // CP_ACP: the system's ANSI code page
inline constexpr unsigned kCodePageGbk = 936;
inline constexpr unsigned kCodePageUtf8 = 65001;

// All inputs, in order, in one buffer.
[[nodiscard]] Bytes joinBytes(std::initializer_list<const Bytes*> parts);

// Bytes in a code page <-> UTF-16, through the platform (flags 0, no default
// character), every byte or code unit of the input read. Empty in, or a
// failed conversion, empty out. Windows only.
[[nodiscard]] std::wstring widen(std::string_view bytes, unsigned codePage);
[[nodiscard]] std::string narrow(std::wstring_view wide, unsigned codePage);

// Bytes in a code page (up to the first zero byte) to UTF-16, two bytes per
// code unit, low byte first, terminating zero unit included. Empty in, empty out.
[[nodiscard]] Bytes ansiToUtf16(const Bytes& bytes, unsigned codePage);

// UTF-16 bytes (up to the first zero unit) to a code page, without terminator.
[[nodiscard]] Bytes utf16ToCodePage(const Bytes& utf16, unsigned codePage);

// Text (code page 936, up to the first zero byte) to UTF-8, without terminator.
[[nodiscard]] Bytes textToUtf8(std::string_view text);

// The text as UTF-8 in the form encoding (urlEncode, kFormEncoding).
[[nodiscard]] Text urlEncodeText(std::string_view text);

// Text <-> UTF-16 for the platform's wide-character interfaces.
[[nodiscard]] inline std::wstring widenText(std::string_view text) { return widen(text, kCodePageGbk); }
[[nodiscard]] inline Text narrowText(std::wstring_view wide) { return narrow(wide, kCodePageGbk); }

}  // namespace qx
