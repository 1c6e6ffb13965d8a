#include "net/header_cookie.h"

#include <unordered_map>
#include <vector>

#include "text/text_rules.h"

namespace qx {
namespace {

// "#引号" in code page 936: how a marker spells a double quote.
constexpr std::string_view kQuoteMarker = "#\xD2\xFD\xBA\xC5";

// The parts of text before and after the first separator, or nothing.
struct SplitAtFirst {
    bool found = false;
    std::string_view before;
    std::string_view after;
};

[[nodiscard]] SplitAtFirst splitAtFirst(std::string_view text, std::string_view separator) noexcept {
    const std::size_t position = findText(text, separator);
    if (position == 0) return {};
    return {true, text.substr(0, position - 1), text.substr(position - 1 + separator.size())};
}

}  // namespace

Text headerName(std::string_view line) {
    const SplitAtFirst parts = splitAtFirst(line, ":");
    return parts.found ? trimSpaces(parts.before) : Text();
}

Text headerValue(std::string_view line) {
    const SplitAtFirst parts = splitAtFirst(line, ":");
    return parts.found ? trimSpaces(parts.after) : Text();
}

Text cookieName(std::string_view pair) {
    const SplitAtFirst parts = splitAtFirst(pair, "=");
    return trimSpaces(parts.found ? parts.before : pair);
}

Text cookieValue(std::string_view pair) {
    const SplitAtFirst parts = splitAtFirst(pair, "=");
    return parts.found ? Text(parts.after) : Text();
}

Text textBetween(std::string_view text, std::string_view left, std::string_view right, long start,
                 bool ignoreCase) {
    const Text leftMarker = replaceText(left, kQuoteMarker, "\"");
    const Text rightMarker = replaceText(right, kQuoteMarker, "\"");
    const std::size_t from = start < 1 ? 1 : static_cast<std::size_t>(start);
    const std::size_t leftAt = findText(text, leftMarker, from, ignoreCase);
    if (leftAt == 0) return {};
    // A match ends on a whole character, so the inner text starts on one.
    const std::size_t innerAt = leftAt + leftMarker.size();
    const std::size_t rightAt = findText(text, rightMarker, innerAt, ignoreCase);
    if (rightAt == 0) return {};
    return Text(text.substr(innerAt - 1, rightAt - innerAt));
}

Text collectResponseCookies(std::string_view responseHeaders) {
    Text cookies;
    for (const Text& line : splitText(responseHeaders, "\r\n")) {
        if (!containsText(line, "Set-Cookie")) continue;
        if (containsText(line, ";")) {
            // The first pair only: what follows it are the cookie's attributes.
            cookies += trimSpaces(textBetween(line, "Set-Cookie:", ";"));
        } else {
            cookies += trimSpaces(replaceText(line, "Set-Cookie:", "", true));
        }
        cookies += "; ";
    }
    if (!cookies.empty()) cookies.resize(cookies.size() - 2);
    return cookies;
}

Text mergeCookies(Text& cookies, Text& newCookies) {
    cookies = removeSpaces(cookies);
    newCookies = removeSpaces(newCookies);
    if (newCookies.empty()) return cookies;

    std::vector<Text> names;
    std::vector<Text> values;
    // Where each name first occurs: a later duplicate among the old pairs
    // keeps its own value.
    std::unordered_map<Text, std::size_t> firstIndex;
    const auto add = [&](const Text& pair) {
        Text name = cookieName(pair);
        firstIndex.try_emplace(name, names.size());
        names.push_back(std::move(name));
        values.push_back(cookieValue(pair));
    };
    for (const Text& pair : splitText(cookies, ";")) add(pair);
    for (const Text& pair : splitText(newCookies, ";")) {
        const auto known = firstIndex.find(cookieName(pair));
        if (known == firstIndex.end()) {
            add(pair);
        } else {
            values[known->second] = cookieValue(pair);
        }
    }

    Text merged;
    for (std::size_t i = 0; i < names.size(); ++i) {
        // An empty value, like "deleted", is how a server removes a cookie.
        if (names[i].empty() || values[i].empty() || values[i] == "deleted") continue;
        merged += names[i];
        merged += '=';
        merged += values[i];
        merged += ';';
    }
    cookies = merged;
    return merged;
}

}  // namespace qx
