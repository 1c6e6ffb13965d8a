#include "net/system_proxy_win.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/internet_handles.h"
#include "text/encoding.h"

namespace qx {
namespace {

Text ownedText(const UniqueGlobalString& text) { return text ? narrowText(text.get()) : Text(); }

// Timeouts of the look-up session (resolve, connect, send, receive), in
// milliseconds. A script server on the company's network answers well within
// a second, and a script is a few kilobytes; 5 seconds for each phase (10 for
// the reply) leave room for a slow one, while WinHTTP's defaults (no limit on
// resolving, 60 s to connect, 30 s each to send and receive) would let a dead
// one hold the Start for a minute and more before the request even begins.
// What they bound: WinHTTP documents none of this for WinHttpGetProxyForUrl.
// On Windows the script is fetched through the session passed in, so its
// timeouts can apply to that download where it runs in this process (the
// auto-proxy service of newer Windows fetches it in its own process, by its
// own rules). Detection itself (DHCP, then a DNS look-up of "wpad") is bound
// by neither. Wine ignores them altogether: it fetches the script in a
// session of its own with 5 s, 60 s, 30 s and 30 s (dlls/winhttp/session.c,
// download_script), and detects by plain DHCP and DNS queries.
constexpr int kResolveMs = 5000;
constexpr int kConnectMs = 5000;
constexpr int kSendMs = 5000;
constexpr int kReceiveMs = 10000;

// One session for every look-up of the process: WinHTTP keeps the detected
// script URL and the script in the session it was given ("Autoproxy Cache",
// "AutoProxy Issues in WinHTTP"), so a session per request would detect and
// fetch again every time. The answers are kept here too (Wine keeps nothing
// per session), each as long as ScriptAnswerCache::lifetimeOf says.
struct ScriptLookup {
    std::mutex lock;
    UniqueHinternet session;  // opened on first need
    ScriptAnswerCache answers;
};

ScriptLookup& scriptLookup() {
    // Never destroyed: closing the session while the process exits would call
    // into WinHTTP after its DLL may have been detached.
    static ScriptLookup* const lookup = new ScriptLookup;
    return *lookup;
}

// The script's answer for url, asked of WinHTTP, which fetches and runs it.
ScriptAnswer askScript(const WinHttpLibrary& library, HINTERNET session, const ProxySettings& settings,
                       std::string_view url) {
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
    // Without the user's logon first: the auto-proxy service of Windows keeps
    // neither the script URL nor the script when it is asked to log on
    // ("Autoproxy Cache"). A script server that asks for the logon (only
    // servers of the intranet zone get it) is asked again with it.
    options.fAutoLogonIfChallenged = FALSE;
    const std::wstring wideUrl = widenText(url);
    WINHTTP_PROXY_INFO info{};
    BOOL found = library.getProxyForUrl(session, wideUrl.c_str(), &options, &info);
    if (!found && ::GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        info = {};
        found = library.getProxyForUrl(session, wideUrl.c_str(), &options, &info);
    }
    if (!found) return {false, {}, ::GetLastError()};
    const UniqueGlobalString proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return {true, {Text()}};
    // Windows may hand over a list of proxies ("AutoProxy Issues in WinHTTP":
    // the request uses only the first, and failing over is the program's
    // task); whether it keeps a "DIRECT" of the answer in it is not
    // documented, and scriptProxies reads it where it does. Wine hands over
    // only the first proxy, and a direct connection for an answer that
    // starts with "DIRECT" (dlls/winhttp/session.c, parse_script_result).
    return {true, scriptProxies(ownedText(proxy))};
}

ScriptAnswer scriptAnswerFor(const WinHttpLibrary& library, const ProxySettings& settings, std::string_view url) {
    ScriptLookup& lookup = scriptLookup();
    // Held through the look-up: a job that asks while another one's search
    // runs waits for it and then finds its answer kept, instead of searching
    // the network a second time.
    const std::lock_guard<std::mutex> hold(lookup.lock);
    if (std::optional<ScriptAnswer> kept = lookup.answers.find(settings, url, ScriptAnswerCache::Clock::now())) {
        return *std::move(kept);
    }
    if (!lookup.session) {
        UniqueHinternet session(
            library.open(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) return {};  // not kept: opening is tried again next time
        (void)library.setTimeouts(session.get(), kResolveMs, kConnectMs, kSendMs, kReceiveMs);
        lookup.session = std::move(session);
    }
    ScriptAnswer answer = askScript(library, lookup.session.get(), settings, url);
    lookup.answers.keep(settings, url, answer, ScriptAnswerCache::Clock::now());
    return answer;
}

}  // namespace

ProxyRoutes systemProxiesFor(std::string_view url) {
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
        ScriptAnswer answer = scriptAnswerFor(*library, settings, url);
        if (answer.found) return std::move(answer.routes);
    }
    return fixedProxiesFor(settings, url);
}

}  // namespace qx
