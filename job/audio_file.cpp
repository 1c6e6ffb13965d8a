#include "job/audio_file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/module_path.h"
#include "platform/unique.h"
#include "text/encoding.h"

namespace qx {

namespace {

// Two jobs in the same second and the same tick make the same stamp; the
// next one differs once the tick count has moved on.
constexpr int kNameAttempts = 50;
constexpr DWORD kStampRetryDelayMs = 20;

// A file that is deleted when its owner goes, unless it was kept.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) ::DeleteFileW(path_.c_str());
    }
    [[nodiscard]] const std::wstring& path() const noexcept { return path_; }
    void keep() noexcept { path_.clear(); }

private:
    std::wstring path_;
};

[[nodiscard]] bool writeAll(const std::wstring& path, const Bytes& audio) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file.valid()) return false;
    std::size_t done = 0;
    while (done < audio.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(audio.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file.get(), audio.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return ::FlushFileBuffers(file.get()) != FALSE;
}

}  // namespace

std::wstring outputDirectory() {
    const std::wstring module = executablePath();
    const std::size_t slash = module.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring{} : module.substr(0, slash);
}

std::wstring saveAudioFile(const std::wstring& directory, const Bytes& audio, Text stamp,
                           const std::function<Text()>& nextStamp) {
    wchar_t temporaryName[MAX_PATH] = {};
    if (directory.empty() || !::GetTempFileNameW(directory.c_str(), L"qxt", 0, temporaryName)) return {};
    TemporaryFile temporary(temporaryName);
    if (!writeAll(temporary.path(), audio)) return {};

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring target = directory + L"\\" + widenText(stamp) + L".mp3";
        // Without MOVEFILE_REPLACE_EXISTING the move fails on a taken name,
        // atomically, also against another job racing for the same name.
        if (::MoveFileExW(temporary.path().c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
            temporary.keep();
            return ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES ? target : std::wstring{};
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return {};
        ::Sleep(kStampRetryDelayMs);
        stamp = nextStamp();
    }
    return {};
}

}  // namespace qx
