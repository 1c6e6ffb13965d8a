#include "net/proxy_choice.h"

#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

#include "text/text_rules.h"

namespace qx {
namespace {

struct UrlParts {
    Text scheme;  // lower case
    Text host;    // lower case, an IPv6 address without its brackets
    Text port;    // the scheme's default when the URL names none
};

UrlParts urlParts(std::string_view url) {
    UrlParts parts;
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos) return parts;
    parts.scheme = asciiLowered(url.substr(0, colon));
    std::string_view authority = url.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::size_t portStart = std::string_view::npos;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        parts.host = asciiLowered(authority.substr(1, close == std::string_view::npos ? close : close - 1));
        if (close != std::string_view::npos && close + 1 < authority.size() && authority[close + 1] == ':') {
            portStart = close + 2;
        }
    } else {
        const std::size_t c = authority.find(':');
        parts.host = asciiLowered(authority.substr(0, c));
        if (c != std::string_view::npos) portStart = c + 1;
    }
    if (portStart != std::string_view::npos) parts.port = Text(authority.substr(portStart));
    if (parts.port.empty()) parts.port = parts.scheme == "https" ? "443" : "80";
    return parts;
}

// Entries of a list separated by ';', ',' or white space.
std::vector<std::string_view> entries(std::string_view list) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || list[i] == ';' || list[i] == ',' || list[i] == ' ' || list[i] == '\t' ||
            list[i] == '\r' || list[i] == '\n') {
            if (i > start) out.push_back(list.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

// '*' matches any run of characters, everything else itself.
bool globMatch(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool entryMatches(std::string_view rawEntry, const UrlParts& url) {
    const Text entry = asciiLowered(rawEntry);
    if (entry == "<local>") return url.host.find_first_of(".:") == Text::npos;
    std::string_view rest = entry;
    const std::size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos) {
        if (rest.substr(0, scheme) != url.scheme) return false;
        rest.remove_prefix(scheme + 3);
    }
    // A port after the last ':', unless the entry is an IPv6 address.
    std::string_view host = rest;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return false;
        host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] == ':') port = rest.substr(close + 2);
    } else if (rest.find(':') == rest.rfind(':') && rest.find(':') != std::string_view::npos) {
        host = rest.substr(0, rest.find(':'));
        port = rest.substr(rest.find(':') + 1);
    }
    if (!port.empty() && !globMatch(port, url.port)) return false;
    return globMatch(host, url.host);
}

}  // namespace

bool usesScript(const ProxySettings& settings) { return settings.autoDetect || !settings.autoConfigUrl.empty(); }

bool bypassed(std::string_view bypassList, std::string_view url) {
    const UrlParts parts = urlParts(url);
    for (const std::string_view entry : entries(bypassList)) {
        if (entryMatches(entry, parts)) return true;
    }
    return false;
}

ProxyRoutes fixedProxiesFor(const ProxySettings& settings, std::string_view url) {
    const UrlParts parts = urlParts(url);
    ProxyRoutes forScheme, forAll;
    bool anyProxy = false;  // for any scheme
    for (const std::string_view entry : entries(settings.proxy)) {
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            forAll.emplace_back(entry);
            anyProxy = true;
        } else if (equals + 1 < entry.size()) {
            anyProxy = true;
            if (asciiLowered(entry.substr(0, equals)) == parts.scheme) forScheme.emplace_back(entry.substr(equals + 1));
        }
    }
    if (!anyProxy) return {};
    ProxyRoutes chosen = forScheme.empty() ? std::move(forAll) : std::move(forScheme);
    if (chosen.empty() || bypassed(settings.bypass, url)) return {Text()};
    return chosen;
}

ProxyRoutes scriptProxies(std::string_view answer) {
    ProxyRoutes routes;
    bool skipNext = false;
    for (const std::string_view entry : entries(answer)) {
        const Text word = asciiLowered(entry);
        if (skipNext) {
            skipNext = false;
        } else if (word == "direct") {
            routes.emplace_back();
        } else if (word == "socks" || word == "socks4" || word == "socks5" || word == "https") {
            skipNext = true;
        } else if (word.rfind("socks=", 0) == 0) {
            // the per-scheme form "socks=host:port": skipped as well
        } else if (word != "proxy" && word != "http") {
            routes.emplace_back(entry);
        }
    }
    if (routes.empty()) routes.emplace_back();
    return routes;
}

std::optional<ScriptAnswer> ScriptAnswerCache::find(const ProxySettings& settings, std::string_view url,
                                                    Clock::time_point now) const {
    const auto found = entries_.find(Key(settings.autoDetect, settings.autoConfigUrl, Text(url)));
    if (found == entries_.end() || now - found->second.kept >= lifetimeOf(found->second.answer)) return std::nullopt;
    return found->second.answer;
}

ScriptAnswerCache::Clock::duration ScriptAnswerCache::lifetimeOf(const ScriptAnswer& answer) {
    if (answer.found || answer.failure == kNoScriptOnNetwork) return kLifetime;
    return kTransientLifetime;
}

void ScriptAnswerCache::keep(const ProxySettings& settings, std::string_view url, ScriptAnswer answer,
                             Clock::time_point now) {
    if (entries_.size() >= kMostEntries) {
        for (auto it = entries_.begin(); it != entries_.end();) {
            it = now - it->second.kept >= lifetimeOf(it->second.answer) ? entries_.erase(it) : std::next(it);
        }
        if (entries_.size() >= kMostEntries) entries_.clear();
    }
    entries_[Key(settings.autoDetect, settings.autoConfigUrl, Text(url))] = Entry{std::move(answer), now};
}

}  // namespace qx
