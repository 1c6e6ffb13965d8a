#pragma once
// Saving a job's audio beside the executable without ever replacing a file
// or leaving a partial one under a final name.

#include <functional>
#include <string>

#include "text/text.h"

namespace qx {

// The directory of the running executable, without a trailing backslash;
// empty when the platform cannot give the executable's path.
[[nodiscard]] std::wstring outputDirectory();

// Writes audio to a temporary file in directory, checks that every byte was
// written, then renames it to directory\<stamp>.mp3. When that name is taken,
// nextStamp makes another stamp (a bounded number of times). Returns the full
// path of the new file, or an empty path on any failure. Until the rename the
// system deletes the temporary file as soon as its handle closes, so it never
// outlives the process, however that ends.
[[nodiscard]] std::wstring saveAudioFile(const std::wstring& directory, const Bytes& audio, Text stamp,
                                         const std::function<Text()>& nextStamp);

}  // namespace qx
