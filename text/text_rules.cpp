#include "text/text_rules.h"

namespace qx {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

[[nodiscard]] unsigned byteAt(std::string_view text, std::size_t i) noexcept {
    return static_cast<unsigned char>(text[i]);
}

// Whether what occurs at text[i], where i is the start of a character.
// The characters are those of the text: a trail byte is compared exactly
// even when ignoring case, and a match that would end inside a character is
// no match.
[[nodiscard]] bool matchesAt(std::string_view text, std::size_t i, std::string_view what,
                             bool ignoreCase) noexcept {
    std::size_t k = 0;
    while (k < what.size()) {
        const std::size_t len = charLength(text, i + k);
        if (len == 0 || k + len > what.size()) return false;
        if (len == 1) {
            char a = text[i + k];
            char b = what[k];
            if (ignoreCase) {
                a = asciiLower(a);
                b = asciiLower(b);
            }
            if (a != b) return false;
        } else if (text[i + k] != what[k] || text[i + k + 1] != what[k + 1]) {
            return false;
        }
        k += len;
    }
    return true;
}

// Index of the first occurrence of what at or after index from, which must
// be the start of a character (or the end of the text); kNone if none.
[[nodiscard]] std::size_t findFrom(std::string_view text, std::string_view what, std::size_t from,
                                   bool ignoreCase) noexcept {
    if (what.empty()) return kNone;
    for (std::size_t i = from; i < text.size() && text.size() - i >= what.size();
         i += charLength(text, i)) {
        if (matchesAt(text, i, what, ignoreCase)) return i;
    }
    return kNone;
}

[[nodiscard]] bool isSpaceAt(std::string_view text, std::size_t i, std::size_t len) noexcept {
    if (len == 1) return text[i] == ' ';
    return len == 2 && byteAt(text, i) == 0xA1 && byteAt(text, i + 1) == 0xA1;
}

}  // namespace

std::size_t charLength(std::string_view text, std::size_t i) noexcept {
    if (i >= text.size()) return 0;
    if (byteAt(text, i) < 0x80 || i + 1 >= text.size()) return 1;
    const unsigned trail = byteAt(text, i + 1);
    return (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) ? 2 : 1;
}

std::size_t findText(std::string_view text, std::string_view what, std::size_t start,
                     bool ignoreCase) noexcept {
    if (text.empty() || what.empty()) return 0;
    const std::size_t wanted = start < 1 ? 0 : start - 1;
    // Step from the beginning so that the search starts on a character.
    std::size_t from = 0;
    while (from < wanted && from < text.size()) from += charLength(text, from);
    const std::size_t found = findFrom(text, what, from, ignoreCase);
    return found == kNone ? 0 : found + 1;
}

std::vector<Text> splitText(std::string_view text, std::string_view separator) {
    std::vector<Text> pieces;
    if (text.empty()) return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t begin = 0;
    for (std::size_t found = findFrom(text, separator, 0, false); found != kNone;
         found = findFrom(text, separator, begin, false)) {
        pieces.emplace_back(text.substr(begin, found - begin));
        begin = found + separator.size();
    }
    if (begin < text.size()) pieces.emplace_back(text.substr(begin));
    return pieces;
}

Text replaceText(std::string_view text, std::string_view what, std::string_view with,
                 bool ignoreCase) {
    Text result;
    std::size_t begin = 0;
    for (std::size_t found = findFrom(text, what, 0, ignoreCase); found != kNone;
         found = findFrom(text, what, begin, ignoreCase)) {
        result.append(text.substr(begin, found - begin));
        result.append(with);
        begin = found + what.size();
    }
    result.append(text.substr(begin));
    return result;
}

Text asciiLowered(std::string_view text) {
    Text out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

Text trimSpaces(std::string_view text) {
    std::size_t first = kNone;
    std::size_t end = 0;
    for (std::size_t i = 0, len = 0; i < text.size(); i += len) {
        len = charLength(text, i);
        if (isSpaceAt(text, i, len)) continue;
        if (first == kNone) first = i;
        end = i + len;
    }
    if (first == kNone) return {};
    return Text(text.substr(first, end - first));
}

Text removeSpaces(std::string_view text) {
    Text result;
    result.reserve(text.size());
    for (std::size_t i = 0, len = 0; i < text.size(); i += len) {
        len = charLength(text, i);
        if (!isSpaceAt(text, i, len)) result.append(text.substr(i, len));
    }
    return result;
}

}  // namespace qx
