#pragma once
// Searching, splitting, replacing and trimming of Text.
//
// All of them work on bytes of code page 936 and step over double-byte
// characters: a byte of 0x80 or above starts a two-byte character, and no
// match begins on its second byte (GBK trail bytes include ASCII letters and
// "@[\]^_{|}~", so a plain byte search would match inside a Chinese
// character). Nor does a match end inside a character: a text to look for
// that ends in a cut-off lead byte does not match the first half of one.
// Positions count from 1; 0 means "not found". An empty text, or an empty
// text to look for, is never found. Comparison is case-sensitive unless
// ignoreCase is set, which folds ASCII letters only (never a trail byte).
//
// Malformed input is read, never read past:
// - a lead byte at the very end of a text (a cut character) is a one-byte
//   character of its own;
// - a lead byte followed by a byte that cannot be a trail byte (below 0x40,
//   0x7F or 0xFF) is a one-byte character too, and that following byte
//   starts the next character. So a cut character in front of CR LF, ';',
//   '=', ':' or '"' never swallows the separator.
//
// This is the only place that knows how to step over a double-byte character.

#include <cstddef>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace qx {

// Length in bytes of the character that starts at text[i]: 2 for a lead byte
// followed by a trail byte, 1 otherwise (ASCII, a lead byte cut off at the
// end, or one followed by a byte that cannot be a trail byte); 0 when i is
// at or past the end.
[[nodiscard]] std::size_t charLength(std::string_view text, std::size_t i) noexcept;

// Position (from 1) of the first occurrence of what in text at or after
// position start (values below 1 count as 1), or 0. Characters are counted
// from the beginning of the text, so a start position on the second byte of
// a character finds nothing that begins there.
[[nodiscard]] std::size_t findText(std::string_view text, std::string_view what,
                                   std::size_t start = 1, bool ignoreCase = false) noexcept;

[[nodiscard]] inline bool containsText(std::string_view text, std::string_view what,
                                       bool ignoreCase = false) noexcept {
    return findText(text, what, 1, ignoreCase) != 0;
}

// Pieces between separators, in order. An empty piece between two separators
// (or in front of the first one) is kept; an empty piece after the last
// separator is dropped; an empty text gives no pieces. An empty separator
// gives the whole text as one piece.
[[nodiscard]] std::vector<Text> splitText(std::string_view text, std::string_view separator);

// Every occurrence replaced, left to right, without overlaps. An empty what
// leaves the text as it is.
[[nodiscard]] Text replaceText(std::string_view text, std::string_view what,
                               std::string_view with, bool ignoreCase = false);

// ASCII letters folded to lower case, every other byte kept: for protocol
// text (schemes, host names, header names, media types), which is ASCII.
// Not for user text, whose trail bytes can be ASCII letters.
[[nodiscard]] constexpr char asciiLower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
[[nodiscard]] Text asciiLowered(std::string_view text);

// Spaces (0x20) and full-width spaces (0xA1 0xA1) removed at both ends.
[[nodiscard]] Text trimSpaces(std::string_view text);

// Spaces and full-width spaces removed everywhere.
[[nodiscard]] Text removeSpaces(std::string_view text);

}  // namespace qx
