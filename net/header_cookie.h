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

// The text between the left marker, looked for from position start (values
// below 1 count as 1), and the first right marker behind it; empty when
// either is missing. "#引号" (code page 936) in a marker stands for a double
// quote. ignoreCase folds ASCII letters in both searches.
[[nodiscard]] Text textBetween(std::string_view text, std::string_view left, std::string_view right,
                               long start = 1, bool ignoreCase = false);

// The first pair of every "Set-Cookie" line of a response header text,
// joined by "; ". The name is matched case-sensitively: callers rewrite it
// to that form first (replaceText with ignoreCase).
[[nodiscard]] Text collectResponseCookies(std::string_view responseHeaders);

// Merges newCookies into cookies. Both of the caller's variables lose their
// spaces; unless newCookies is then empty, cookies holds the merged
// "name=value;" pairs, which are also returned. A known name keeps its place
// and takes the new value; a value of "deleted" or an empty one drops the cookie.
Text mergeCookies(Text& cookies, Text& newCookies);

}  // namespace qx
