// Fuzz target over the header and cookie operations and the text rules they
// stand on, and over the judgement whether a reply begins as MP3. Beyond the
// sanitizers it checks properties that hold for any input, so that a wrong
// result fails as loudly as a bad read.
//
// The input is cut at 0x00 bytes into up to five fields: text, left (also
// the text to replace, or the separator), right (also the replacement),
// cookies and new cookies. The last byte picks the start position and the
// ignore-case flag.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "net/header_cookie.h"
#include "service/mp3_stream.h"
#include "text/text_rules.h"

namespace {

using namespace qx;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

// Whether index i starts a character when the text is read from its beginning.
bool startsCharacter(std::string_view text, std::size_t i) {
    std::size_t at = 0;
    while (at < i) at += charLength(text, at);
    return at == i;
}

// Removing spaces can join the halves of malformed characters into a new
// full-width space, so only the plain space is sure to be gone.
bool hasSpace(std::string_view text) {
    return text.find(' ') != std::string_view::npos;
}

void checkFind(std::string_view text, std::string_view what, std::size_t start, bool ignoreCase) {
    const std::size_t found = findText(text, what, start, ignoreCase);
    if (found == 0) return;
    require(!what.empty() && found >= start && found - 1 + what.size() <= text.size(), "find: in range");
    require(startsCharacter(text, found - 1), "find: begins on a character");
    require(startsCharacter(text, found - 1 + what.size()), "find: ends on a character");
    if (!ignoreCase) require(text.substr(found - 1, what.size()) == what, "find: bytes equal");
}

Text joinPieces(const std::vector<Text>& pieces, std::string_view separator) {
    Text joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) joined += separator;
        joined += pieces[i];
    }
    return joined;
}

void checkSplit(std::string_view text, std::string_view separator) {
    const std::vector<Text> pieces = splitText(text, separator);
    if (text.empty()) {
        require(pieces.empty(), "split: empty text gives no pieces");
        return;
    }
    for (const Text& piece : pieces) {
        if (!separator.empty()) require(!containsText(piece, separator), "split: no separator in a piece");
    }
    const Text joined = joinPieces(pieces, separator);
    // Only a dropped empty last piece is missing from the join.
    require(joined == text || joined + Text(separator) == text, "split: pieces rebuild the text");
}

void checkReplace(std::string_view text, std::string_view what, std::string_view with, bool ignoreCase) {
    const Text replaced = replaceText(text, what, with, ignoreCase);
    if (what.empty()) require(replaced == text, "replace: empty target changes nothing");
    if (ignoreCase || what.empty() || text.empty()) return;
    require(replaceText(text, what, what) == text, "replace: by itself changes nothing");
    // Replacing is splitting and joining around the same occurrences; a text
    // that ends in one loses its empty last piece to the split.
    const std::vector<Text> pieces = splitText(text, what);
    Text expected = joinPieces(pieces, with);
    if (joinPieces(pieces, what) != text) expected += with;
    require(expected == replaced, "replace: agrees with split");
}

void checkTrim(std::string_view text) {
    const Text trimmed = trimSpaces(text);
    require(trimmed.size() <= text.size(), "trim: not longer");
    require(text.find(trimmed) != std::string_view::npos, "trim: a part of the text");
    require(trimSpaces(trimmed) == trimmed, "trim: idempotent");
    require(removeSpaces(trimmed) == removeSpaces(text), "trim: only spaces go");
    require(!hasSpace(removeSpaces(text)), "remove: no space left");
}

void checkBetween(std::string_view text, std::string_view left, std::string_view right, long start,
                  bool ignoreCase) {
    const Text inner = textBetween(text, left, right, start, ignoreCase);
    require(inner.size() <= text.size(), "between: not longer");
    if (!inner.empty()) require(text.find(inner) != std::string_view::npos, "between: a part of the text");
}

void checkCookies(std::string_view headers, std::string_view oldText, std::string_view newText) {
    const Text collected = collectResponseCookies(headers);
    require(collected.size() <= headers.size(), "collect: not longer");
    if (!containsText(headers, "Set-Cookie")) require(collected.empty(), "collect: nothing without Set-Cookie");

    Text cookies(oldText);
    Text newCookies(newText);
    const Text merged = mergeCookies(cookies, newCookies);
    require(merged == cookies, "merge: result left in the variable");
    require(newCookies == removeSpaces(newText), "merge: new cookies lose their spaces");
    require(!hasSpace(merged), "merge: no spaces");
    if (newCookies.empty()) {
        require(merged == removeSpaces(oldText), "merge: nothing new changes nothing");
        return;
    }
    require(merged.empty() || merged.back() == ';', "merge: every pair ends in ';'");
    for (const Text& pair : splitText(merged, ";")) {
        require(!cookieName(pair).empty() && !cookieValue(pair).empty() && cookieValue(pair) != "deleted",
                "merge: only named, set cookies");
    }
    // Each name set by the new cookies, last value winning, is in the result
    // with that value at its first occurrence, unless the value deletes it.
    const std::vector<Text> mergedPairs = splitText(merged, ";");
    const std::vector<Text> newPairs = splitText(newCookies, ";");
    for (std::size_t i = 0; i < newPairs.size(); ++i) {
        const Text name = cookieName(newPairs[i]);
        Text value = cookieValue(newPairs[i]);
        for (std::size_t j = i + 1; j < newPairs.size(); ++j) {
            if (cookieName(newPairs[j]) == name) value = cookieValue(newPairs[j]);
        }
        if (name.empty() || value.empty() || value == "deleted") continue;
        bool found = false;
        for (const Text& pair : mergedPairs) {
            if (cookieName(pair) != name) continue;
            require(cookieValue(pair) == value, "merge: new value at the first entry");
            found = true;
            break;
        }
        require(found, "merge: new cookie present");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The whole input as a reply: the sanitizer sees any read past its end.
    (void)beginsAsMp3Stream(std::span(data, size));
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::uint8_t control = 0;
    if (!input.empty()) {
        control = static_cast<std::uint8_t>(input.back());
        input.remove_suffix(1);
    }
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        const std::size_t cut = input.find('\0');
        field = input.substr(0, cut);
        input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    }
    const auto& [text, left, right, cookies, newCookies] = fields;
    const bool ignoreCase = (control & 0x80) != 0;
    const long start = static_cast<long>(control & 0x3F) - 8;  // below 1 now and then

    checkFind(text, left, start < 1 ? 1 : static_cast<std::size_t>(start), ignoreCase);
    checkSplit(text, left);
    checkSplit(text, "\r\n");
    checkSplit(text, ";");
    checkReplace(text, left, right, ignoreCase);
    checkReplace(text, "Set-Cookie", "Set-Cookie", true);
    checkTrim(text);
    checkBetween(text, left, right, start, ignoreCase);
    checkBetween(text, "Set-Cookie:", ";", 1, false);
    checkCookies(text, cookies, newCookies);
    for (const Text& line : splitText(text, "\r\n")) {
        require(headerName(line).size() + headerValue(line).size() <= line.size(), "header: parts of the line");
        require(cookieName(line).size() + cookieValue(line).size() <= line.size(), "cookie: parts of the pair");
    }
    return 0;
}
