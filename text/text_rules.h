#pragma once
// Searching, splitting, replacing and trimming of Text.
//
// All of them work on bytes of code page 936 and step over double-byte
// characters: a byte of 0x80 or above starts a two-byte character, and no
// match begins on its second byte (GBK trail bytes include ASCII letters and
// "@[\]^_{|}~", so a plain byte search would match inside a Chinese
// character). Positions count from 1; 0 means "not found". An empty text, or
// an empty text to look for, is never found. Comparison is case-sensitive
// unless ignoreCase is set, which folds ASCII letters only (never a trail byte).
//
// This is the only place that knows how to step over a double-byte character.

#include <cstddef>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace qx {

// Length in bytes of the character that starts at text[i]: 2 for a lead byte
// that has a trail byte, 1 otherwise (ASCII, or a lead byte cut off at the end).
[[nodiscard]] std::size_t charLength(std::string_view text, std::size_t i) noexcept;

// Position (from 1) of the first occurrence of what in text at or after
// position start (values below 1 count as 1), or 0.
[[nodiscard]] std::size_t findText(std::string_view text, std::string_view what,
                                   std::size_t start = 1, bool ignoreCase = false) noexcept;

[[nodiscard]] inline bool containsText(std::string_view text, std::string_view what,
                                       bool ignoreCase = false) noexcept {
    return findText(text, what, 1, ignoreCase) != 0;
}

// Pieces between separators, in order. An empty piece between two separators
// is kept; an empty piece after the last separator is dropped; an empty text
// gives no pieces. An empty separator gives the whole text as one piece.
[[nodiscard]] std::vector<Text> splitText(std::string_view text, std::string_view separator);

// Every occurrence replaced, left to right, without overlaps.
[[nodiscard]] Text replaceText(std::string_view text, std::string_view what,
                               std::string_view with, bool ignoreCase = false);

// Spaces (0x20) and full-width spaces (0xA1 0xA1) removed at both ends.
[[nodiscard]] Text trimSpaces(std::string_view text);

// Spaces and full-width spaces removed everywhere.
[[nodiscard]] Text removeSpaces(std::string_view text);

}  // namespace qx
