#pragma once
// The settings file "QXtts.ini" beside the executable: section "ocr" with the
// keys "AK" (API Key), "SK" (Secret Key) and "AT" (the cached access token).
// Read and written only through the platform's private-profile functions;
// keys are never deleted.

#include <string>
#include <string_view>

#include "text/text.h"

namespace qx {

inline constexpr wchar_t kSettingsFileName[] = L"QXtts.ini";

// The directory of modulePath (cut at its last backslash, which goes too)
// followed by "\QXtts.ini". A path without a backslash gives just the name.
[[nodiscard]] std::wstring settingsPathBeside(std::wstring_view modulePath);

class SettingsFile {
public:
    // A file with an empty path reads as missing and is never written.
    explicit SettingsFile(std::wstring path) noexcept : path_(std::move(path)) {}

    // The settings path of the running executable; empty when the platform
    // cannot give the executable's own path.
    [[nodiscard]] static std::wstring locate();

    // The value of the key in section "ocr", of any length; empty when the
    // file, the section or the key is missing, or the value is empty.
    [[nodiscard]] Text readKey(std::string_view key) const;

    // Writes the value under the key, creating file and section as needed.
    // An empty value still leaves the key present ("AK="). Failures are not
    // reported: the caller's value stays as it is in memory.
    void writeKey(std::string_view key, std::string_view value) const;

    [[nodiscard]] const std::wstring& path() const noexcept { return path_; }

private:
    std::wstring path_;
};

}  // namespace qx
