#pragma once
// The current user's Internet settings while an object lives, in a private
// HKEY_CURRENT_USER of the process: other programs in the prefix never see them.

#include <windows.h>

#include <cstdint>
#include <string>

#include "net/proxy_choice.h"

namespace qx::test {

// The value that WinHTTP reads: version, counter, flags (1 direct, 2 proxy,
// 4 script URL, 8 detect), then proxy, bypass list and script URL, each
// after its length. HKEY_CURRENT_USER of this process is overridden by a key
// that holds it.
class UserInternetSettings {
public:
    explicit UserInternetSettings(const ProxySettings& s)
        : path_(L"Software\\QXttsTestInternetSettings" + std::to_wstring(::GetCurrentProcessId())) {
        std::string blob;
        auto dword = [&blob](std::uint32_t v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
        dword(0x46);
        dword(1);
        dword(1 | (s.proxy.empty() ? 0 : 2) | (s.autoConfigUrl.empty() ? 0 : 4) | (s.autoDetect ? 8 : 0));
        for (const Text& text : {s.proxy, s.bypass, s.autoConfigUrl}) {
            dword(static_cast<std::uint32_t>(text.size()));
            blob += text;
        }
        blob.append(32, '\0');
        const std::wstring value = path_ + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
        active_ = ::RegSetKeyValueW(HKEY_CURRENT_USER, value.c_str(), L"DefaultConnectionSettings", REG_BINARY,
                                    blob.data(), static_cast<DWORD>(blob.size())) == ERROR_SUCCESS &&
                  ::RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_ALL_ACCESS, &root_) == ERROR_SUCCESS &&
                  ::RegOverridePredefKey(HKEY_CURRENT_USER, root_) == ERROR_SUCCESS;
    }
    UserInternetSettings(const UserInternetSettings&) = delete;
    UserInternetSettings& operator=(const UserInternetSettings&) = delete;
    ~UserInternetSettings() {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (root_) ::RegCloseKey(root_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    }
    bool active_ = false;

private:
    std::wstring path_;
    HKEY root_ = nullptr;
};

}  // namespace qx::test
