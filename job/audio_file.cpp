#include "job/audio_file.h"

#include <windows.h>
#include <winternl.h>

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

enum class Rename { Done, NameTaken, Failed };

// Gives the open file the name `name` in the directory that `directory` is
// open on; a name that is taken fails, atomically, also against another job
// racing for it: a file is never replaced.
// This is FileRenameInfo of SetFileInformationByHandle (Windows Vista on),
// made through the call that it makes on Windows, NtSetInformationFile:
// Wine 8's SetFileInformationByHandle refuses FileRenameInfo
// (ERROR_INVALID_PARAMETER), its NtSetInformationFile does it. The name is
// relative to the directory's handle: a full name would have to be an NT path
// ("\??\C:\...").
Rename renameOpenFile(HANDLE file, HANDLE directory, const std::wstring& name) {
    constexpr auto kObjectNameCollision = static_cast<NTSTATUS>(0xC0000035L);
    const std::size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes + sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = directory;
    info->FileNameLength = static_cast<ULONG>(nameBytes);
    std::memcpy(info->FileName, name.data(), nameBytes);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result =
        ::NtSetInformationFile(file, &status, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (result >= 0) return Rename::Done;
    return result == kObjectNameCollision ? Rename::NameTaken : Rename::Failed;
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
        const Rename renamed = renameOpenFile(temporary.get(), folder.get(), name);
        if (renamed == Rename::Done) {
            temporary.reset();
            const std::wstring target = directory + L"\\" + name;
            return ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES ? target : std::wstring{};
        }
        if (!markForDeletion(temporary.get(), true)) {
            temporary.reset();
            ::DeleteFileW(temporaryPath.c_str());
            return {};
        }
        if (renamed == Rename::Failed) return {};
        ::Sleep(kStampRetryDelayMs);
        stamp = nextStamp();
    }
    return {};
}

}  // namespace qx
