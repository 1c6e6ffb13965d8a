#include "job/settings_file.h"

#include <windows.h>

#include <vector>

#include "platform/module_path.h"
#include "text/encoding.h"

namespace qx {

namespace {

constexpr wchar_t kSection[] = L"ocr";
constexpr DWORD kFirstBuffer = 1024;
constexpr DWORD kBufferStep = 1024;

// The profile functions keep the file in the system's ANSI code page and
// convert between it and UTF-16 themselves. Values are code page 936 text, and
// the file must hold those very bytes whatever the system's code page is, so
// they cross the wide-character interface as the ANSI decoding of their bytes:
// the platform's encoding then gives the bytes back unchanged. (Converting them
// as 936 instead would turn Chinese values into "?" on a Western system.)
std::wstring profileValue(std::string_view bytes) { return widen(bytes, kCodePageAnsi); }
Text valueBytes(std::wstring_view wide) { return narrow(wide, kCodePageAnsi); }

// Key names are ASCII; widening them as 936 is exact.
std::wstring keyName(std::string_view key) { return widenText(key); }

}  // namespace

std::wstring settingsPathBeside(std::wstring_view modulePath) {
    const std::size_t cut = modulePath.rfind(L'\\');
    std::wstring path;
    if (cut != std::wstring_view::npos) {
        path.assign(modulePath.substr(0, cut));
        path += L'\\';
    }
    path += kSettingsFileName;
    return path;
}

std::wstring SettingsFile::locate() {
    const std::wstring module = executablePath();
    return module.empty() ? std::wstring{} : settingsPathBeside(module);
}

Text SettingsFile::readKey(std::string_view key) const {
    if (path_.empty()) return {};
    const std::wstring name = keyName(key);
    std::vector<wchar_t> buffer(kFirstBuffer);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = ::GetPrivateProfileStringW(kSection, name.c_str(), nullptr, buffer.data(), size,
                                                   path_.c_str());
        // A value that did not fit comes back cut, with length size - 1.
        if (n < size - 1) return valueBytes(std::wstring_view(buffer.data(), n));
        buffer.assign(static_cast<std::size_t>(n) + kBufferStep, L'\0');
    }
}

void SettingsFile::writeKey(std::string_view key, std::string_view value) const {
    if (path_.empty()) return;
    // Never a null value: that would delete the key.
    const std::wstring wide = profileValue(value);
    ::WritePrivateProfileStringW(kSection, keyName(key).c_str(), wide.c_str(), path_.c_str());
}

}  // namespace qx
