#include "job/program_state.h"

#include <utility>

namespace qx {

Text ProgramState::accessToken() const {
    std::lock_guard guard(lock_);
    return accessToken_;
}

void ProgramState::setAccessToken(Text token) {
    std::lock_guard guard(lock_);
    accessToken_ = std::move(token);
}

Bytes ProgramState::latestAudio() const {
    std::lock_guard guard(lock_);
    return latestAudio_;
}

void ProgramState::setLatestAudio(Bytes audio) {
    std::lock_guard guard(lock_);
    latestAudio_ = std::move(audio);
}

ProgramState& programState() noexcept {
    static ProgramState state;
    return state;
}

}  // namespace qx
