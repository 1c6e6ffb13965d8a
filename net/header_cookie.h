#pragma once
// Pure text operations on request header lines and cookie texts.
// Platform-free: they build on the host too (sanitizers, fuzzing).

#include <string_view>

#include "text/text.h"

namespace qx {

// "Name: value" split at the first ':' and trimmed; no ':' gives empty texts.
[[nodiscard]] Text headerName(std::string_view line);
[[nodiscard]] Text headerValue(std::string_view line);

// "name=value" split at the first '='; the name is trimmed, the value is not.
[[nodiscard]] Text cookieName(std::string_view pair);
[[nodiscard]] Text cookieValue(std::string_view pair);

// The text between the left and the right marker. "#引号" in a marker stands
// for a double quote. start counts from 1 (values below 1 count as 1).
[[nodiscard]] Text textBetween(std::string_view text, std::string_view left, std::string_view right,
                               long start = 1, bool ignoreCase = false);

// The first pair of every "Set-Cookie" line of a response header text,
// joined by "; ".
[[nodiscard]] Text collectResponseCookies(std::string_view responseHeaders);

// Merges newCookies into cookies. Both of the caller's variables lose their
// spaces; cookies then holds the merged "name=value;" pairs, which are also returned.
Text mergeCookies(Text& cookies, Text& newCookies);

}  // namespace qx
