#include "job/audio_file.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <utility>
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

// An antivirus scanner or an indexer opens a file as soon as it is closed,
// often without delete sharing, and holds it for some tens of milliseconds.
// A move or an unshared open made then fails with a sharing violation, or
// with access denied; such a call is made again after each of these pauses,
// 350 ms in all at most.
constexpr DWORD kBusyPausesMs[] = {10, 30, 60, 100, 150};

// Makes `call` (false on failure, with the reason in GetLastError) until it
// succeeds, fails for another reason, or the pauses are used up. After a
// false return GetLastError holds the last call's reason.
template <class Call>
bool untilNotBusy(Call call, const BusyPause& pause) {
    for (const DWORD milliseconds : kBusyPausesMs) {
        if (call()) return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return false;
        pause(milliseconds);
    }
    return call();
}

// directory\name, also where the directory is a root that ends in a backslash.
std::wstring inDirectory(const std::wstring& directory, std::wstring_view name) {
    std::wstring path = directory;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += name;
    return path;
}

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
        path = pathForCalls(inDirectory(directory, name));
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

// The rename by full path that MoveFileEx makes, for a file system that
// refuses the one relative to the directory's handle. MoveFileEx opens the
// file itself, which our unshared handle forbids: the handle is closed first,
// its deletion mark already off, so the file stays. From that close to the
// end of the move a process that ends leaves the temporary file behind: one
// call, as between the mark's removal and the rename by handle, or a few
// while a scanner holds the file (below). A taken name
// is the same clash as in the first form (two jobs in one second) and is
// handled like it: the file is opened again before anything waits, for the
// caller to put the mark back on and try the next stamp, so the audio is
// kept. Any other failure deletes the file. The move, the new open and the
// deletion each wait for a scanner that has opened the file meanwhile; one
// that holds it longer keeps it from being deleted too, and the temporary
// file stays.
Rename moveByPath(UniqueFile& temporary, const std::wstring& temporaryPath, const std::wstring& target,
                  const BusyPause& pause) {
    temporary.reset();
    const std::wstring to = pathForCalls(target);
    // No MOVEFILE_REPLACE_EXISTING: a taken name fails, a file is never
    // replaced. Windows says ERROR_ALREADY_EXISTS (Wine's conformance test
    // dlls/kernel32/tests/file.c, test_MoveFileA); its older versions of
    // that test expected ERROR_FILE_EXISTS, so both count.
    if (untilNotBusy([&] { return ::MoveFileExW(temporaryPath.c_str(), to.c_str(), 0) != FALSE; }, pause))
        return Rename::Done;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        const bool reopened = untilNotBusy(
            [&] {
                UniqueFile file(::CreateFileW(temporaryPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_ARCHIVE, nullptr));
                if (!file.valid()) return false;
                temporary = std::move(file);
                return true;
            },
            pause);
        if (reopened) return Rename::NameTaken;
    }
    (void)untilNotBusy([&] { return ::DeleteFileW(temporaryPath.c_str()) != FALSE; }, pause);
    return Rename::Failed;
}

}  // namespace

std::wstring directoryOfFile(std::wstring_view path) {
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring_view::npos) return {};
    // A root keeps its backslash. "E:" without it is not the root of drive E
    // but the current directory that the process has on drive E: for a program
    // at E:\ started from a shortcut whose "Start in" is another folder of E,
    // that folder. A colon before the last backslash can only end a drive.
    return std::wstring(path.substr(0, slash > 0 && path[slash - 1] == L':' ? slash + 1 : slash));
}

std::wstring pathForCalls(const std::wstring& path) {
    // A full path of MAX_PATH characters or more needs the \\?\ form: Windows
    // refuses it in any other form unless the system enables long paths and
    // the program declares it is aware of them (Windows 10 1607 on, off by
    // default). Wine has no such limit: there both forms work.
    if (path.size() < MAX_PATH || path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    return path;  // not a full path: no other form exists
}

std::wstring outputDirectory() {
    return directoryOfFile(executablePath());
}

std::wstring saveAudioFile(const std::wstring& directory, const Bytes& audio, Text stamp,
                           const std::function<Text()>& nextStamp) {
    return saveAudioFileRenamingBy(renameOpenFile, directory, audio, std::move(stamp), nextStamp,
                                   [](DWORD milliseconds) { ::Sleep(milliseconds); });
}

std::wstring saveAudioFileRenamingBy(RenameByHandle renameByHandle, const std::wstring& directory,
                                     const Bytes& audio, Text stamp, const std::function<Text()>& nextStamp,
                                     const BusyPause& pause) {
    if (directory.empty()) return {};
    UniqueFile folder(::CreateFileW(pathForCalls(directory).c_str(), FILE_TRAVERSE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) return {};
    std::wstring temporaryPath;
    UniqueFile temporary = createTemporaryFile(directory, temporaryPath);
    if (!temporary.valid() || !writeAll(temporary.get(), audio)) return {};

    bool byPath = false;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring name = widenText(stamp) + L".mp3";
        const std::wstring target = inDirectory(directory, name);
        // The file is complete now. Its deletion mark comes off only for the
        // rename and goes back on when the name is taken: the one moment a
        // process ending leaves the temporary file behind is between these
        // two calls (by path, the move itself: see moveByPath).
        if (!markForDeletion(temporary.get(), false)) return {};
        Rename renamed = byPath ? Rename::Failed : renameByHandle(temporary.get(), folder.get(), name);
        if (renamed == Rename::Failed) {
            // Refused for another reason than the name: by path from now on.
            byPath = true;
            renamed = moveByPath(temporary, temporaryPath, target, pause);
        }
        if (renamed == Rename::Done) {
            temporary.reset();
            // The rename has said where the file is: in the directory that
            // `folder` is open on. The check looks there by the same name,
            // in the form that reaches it; the caller gets the ordinary form
            // that a person recognises (the one the directory was given in).
            return ::GetFileAttributesW(pathForCalls(target).c_str()) != INVALID_FILE_ATTRIBUTES ? target
                                                                                                 : std::wstring{};
        }
        if (renamed == Rename::Failed) return {};  // moveByPath has deleted the file
        if (!markForDeletion(temporary.get(), true)) {
            temporary.reset();
            ::DeleteFileW(temporaryPath.c_str());
            return {};
        }
        ::Sleep(kStampRetryDelayMs);
        stamp = nextStamp();
    }
    return {};
}

}  // namespace qx
