#include "job/audio_file.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/module_path.h"
#include "platform/unique.h"
#include "text/encoding.h"

namespace qx {

namespace {

// Two jobs in the same second and the same tick make the same stamp; the
// next one differs once the tick count has moved on.
constexpr int kNameAttempts = 50;
constexpr DWORD kStampRetryDelayMs = 20;
constexpr unsigned kTemporaryNameAttempts = 100;

// Marks an open file for deletion when its last handle closes, or takes the
// mark back. While marked, the file goes with the handle however the process
// ends: ExitProcess (the window closed mid-save), TerminateProcess or a crash
// run no destructor, but the system closes every handle and deletes the file.
// FileDispositionInfo exists from Windows Vista on and Wine implements it.
// FILE_FLAG_DELETE_ON_CLOSE would mark the file at creation, but before
// Windows 10 (FileDispositionInfoEx) nothing can take that mark back: a
// DeleteFile of FALSE has no effect on such a handle.
bool markForDeletion(HANDLE file, bool remove) noexcept {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// A new file named qxtXXXX.tmp in the directory, open for writing only, not
// shared, and marked for deletion from the start; its full path in `path`.
UniqueFile createTemporaryFile(const std::wstring& directory, std::wstring& path) {
    const unsigned seed = static_cast<unsigned>(::GetTickCount()) ^ (static_cast<unsigned>(::GetCurrentThreadId()) << 4);
    for (unsigned i = 0; i < kTemporaryNameAttempts; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"qxt%04X.tmp", (seed + i) & 0xFFFFu);
        path = directory + L"\\" + name;
        // DELETE: for the deletion mark and the rename.
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_ARCHIVE, nullptr));
        if (file.valid()) {
            if (markForDeletion(file.get(), true)) return file;
            file.reset();
            ::DeleteFileW(path.c_str());
            return {};
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

[[nodiscard]] bool writeAll(HANDLE file, const Bytes& audio) {
    std::size_t done = 0;
    while (done < audio.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(audio.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, audio.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return ::FlushFileBuffers(file) != FALSE;
}

// Gives the open file the name `name` in the directory that `directory` is
// open on. Fails with ERROR_ALREADY_EXISTS when the name is taken, atomically,
// also against another job racing for it: a file is never replaced. The name
// is relative to the directory's handle because the system takes a full name
// here only as an NT path ("\??\C:\..."), and SetFileInformationByHandle
// passes the name through as given.
bool renameOpenFile(HANDLE file, HANDLE directory, const std::wstring& name) {
    const std::size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = directory;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, name.data(), nameBytes);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace

std::wstring outputDirectory() {
    const std::wstring module = executablePath();
    const std::size_t slash = module.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring{} : module.substr(0, slash);
}

std::wstring saveAudioFile(const std::wstring& directory, const Bytes& audio, Text stamp,
                           const std::function<Text()>& nextStamp) {
    if (directory.empty()) return {};
    UniqueFile folder(::CreateFileW(directory.c_str(), FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) return {};
    std::wstring temporaryPath;
    UniqueFile temporary = createTemporaryFile(directory, temporaryPath);
    if (!temporary.valid() || !writeAll(temporary.get(), audio)) return {};

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring name = widenText(stamp) + L".mp3";
        // The file is complete now. Its deletion mark comes off only for the
        // rename and goes back on when the name is taken: the one moment a
        // process ending leaves the temporary file behind is between these
        // two calls.
        if (!markForDeletion(temporary.get(), false)) return {};
        if (renameOpenFile(temporary.get(), folder.get(), name)) {
            temporary.reset();
            const std::wstring target = directory + L"\\" + name;
            return ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES ? target : std::wstring{};
        }
        const DWORD error = ::GetLastError();
        if (!markForDeletion(temporary.get(), true)) {
            temporary.reset();
            ::DeleteFileW(temporaryPath.c_str());
            return {};
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return {};
        ::Sleep(kStampRetryDelayMs);
        stamp = nextStamp();
    }
    return {};
}

}  // namespace qx
