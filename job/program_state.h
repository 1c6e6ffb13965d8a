#pragma once
// The values that the main window sets up at start-up and the synthesis job
// uses afterwards. One instance for the whole process (programState()).

#include <mutex>
#include <string>
#include <vector>

#include "text/text.h"

namespace qx {

class ProgramState {
public:
    // Full path of the settings file. Kept in UTF-16 so that a directory
    // name outside code page 936 still reaches the file. Set once at start-up.
    std::wstring settingsPath;

    // The service's speaker number for each position of the speaker list.
    // Filled once at start-up, before any job can start; read-only afterwards.
    std::vector<Text> speakerNumbers;

    // A job replaces these while the next job (started once Start is enabled
    // again) may already read them, so every access takes the lock.
    [[nodiscard]] Text accessToken() const;
    void setAccessToken(Text token);
    [[nodiscard]] Bytes latestAudio() const;
    void setLatestAudio(Bytes audio);

private:
    mutable std::mutex lock_;
    Text accessToken_;
    Bytes latestAudio_;
};

[[nodiscard]] ProgramState& programState() noexcept;

}  // namespace qx
