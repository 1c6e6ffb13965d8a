#include "net/system_proxy_win.h"

#include <optional>
#include <string>

#include "net/proxy_choice.h"
#include "platform/internet_handles.h"
#include "text/encoding.h"

namespace qx {
namespace {

Text ownedText(const UniqueGlobalString& text) { return text ? narrowText(text.get()) : Text(); }

// The configuration script's answer for url: a proxy, or empty for a direct
// connection; nothing when the script cannot be found, fetched or run.
// WinHTTP fetches and runs it itself, in a session of its own.
std::optional<Text> scriptProxyFor(const ProxySettings& settings, std::string_view url) {
    const WinHttpLibrary* const library = winHttp();
    if (!library) return std::nullopt;
    const UniqueHinternet session(
        library->open(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return std::nullopt;
    const std::wstring scriptUrl = widenText(settings.autoConfigUrl);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (settings.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!scriptUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    }
    // A script on a server of the company's network may ask for the user's
    // logon; WinHTTP gives it only to servers of the intranet zone.
    options.fAutoLogonIfChallenged = TRUE;
    const std::wstring wideUrl = widenText(url);
    WINHTTP_PROXY_INFO info{};
    if (!library->getProxyForUrl(session.get(), wideUrl.c_str(), &options, &info)) return std::nullopt;
    const UniqueGlobalString proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return Text();
    return ownedText(proxy);
}

}  // namespace

Text systemProxyFor(std::string_view url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    const WinHttpLibrary* const library = winHttp();
    if (!library || !library->getIEProxyConfigForCurrentUser(&config)) return {};
    const UniqueGlobalString scriptUrl(config.lpszAutoConfigUrl), proxy(config.lpszProxy),
        bypass(config.lpszProxyBypass);
    ProxySettings settings;
    settings.autoDetect = config.fAutoDetect != FALSE;
    settings.autoConfigUrl = ownedText(scriptUrl);
    settings.proxy = ownedText(proxy);
    settings.bypass = ownedText(bypass);
    if (usesScript(settings)) {
        if (std::optional<Text> chosen = scriptProxyFor(settings, url)) return *chosen;
    }
    return fixedProxyFor(settings, url);
}

}  // namespace qx
