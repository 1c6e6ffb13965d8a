#pragma once
// Saving a job's audio beside the executable without ever replacing a file
// or leaving a partial one under a final name.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace qx {

// The directory of the running executable (directoryOfFile of its path);
// empty when the platform cannot give the executable's path.
[[nodiscard]] std::wstring outputDirectory();

// The directory that holds the file at a full path: without a trailing
// backslash (C:\Tools for C:\Tools\QXtts.exe), except at a drive's root,
// which keeps it (E:\ for E:\QXtts.exe).
[[nodiscard]] std::wstring directoryOfFile(std::wstring_view path);

// The form of a full path to give the file functions: the path itself, or
// from MAX_PATH characters on its \\?\ form (\\?\UNC\host\... for a share).
[[nodiscard]] std::wstring pathForCalls(const std::wstring& path);

// Writes audio to a temporary file in directory, checks that every byte was
// written, then renames it to directory\<stamp>.mp3 (one backslash between
// them, also after a root). When that name is taken, nextStamp makes another
// stamp (a bounded number of times). Returns the full path of the new file in
// the form the directory was given in (a long path is not turned into the
// \\?\ form: the message shows the path a person knows), or an empty path on any
// failure. Until the rename the system deletes the temporary file as soon as
// its handle closes, so it outlives a process that ends only in the rename
// itself. When the file system refuses the rename relative to the directory's
// handle for another reason than a taken name, the file is renamed once more
// by its full path, as MoveFileEx does, still never replacing a file; that
// move waits briefly for a virus scanner that opens the closed file.
[[nodiscard]] std::wstring saveAudioFile(const std::wstring& directory, const Bytes& audio, Text stamp,
                                         const std::function<Text()>& nextStamp);

enum class Rename { Done, NameTaken, Failed };
// The rename of the open temporary file to `name` in the directory that
// `directory` is open on (saveAudioFile's first form).
using RenameByHandle = Rename (*)(HANDLE file, HANDLE directory, const std::wstring& name);

// The wait before a call on a file that another process holds is made again.
using BusyPause = std::function<void(DWORD milliseconds)>;

// saveAudioFile with another first form of the rename and another wait: tests
// pass a rename that fails as a file system may, and a wait in which the
// other process lets go.
[[nodiscard]] std::wstring saveAudioFileRenamingBy(RenameByHandle renameByHandle, const std::wstring& directory,
                                                   const Bytes& audio, Text stamp,
                                                   const std::function<Text()>& nextStamp, const BusyPause& pause);

}  // namespace qx
