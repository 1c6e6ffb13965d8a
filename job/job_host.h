#pragma once
// What a synthesis job sees of the window that started it: the values it
// reads, the Start button it enables again, and its messages. Called from the
// job's own thread; every read gives the value at the moment of the call.

#include "text/text.h"

namespace qx {

// The texts that a job reads: the three boxes, and the shown text of the
// speed, pitch and volume lists.
enum class JobField { Content, SecretKey, ApiKey, Speed, Pitch, Volume };

class JobHost {
public:
    // Code page 936.
    [[nodiscard]] virtual Text text(JobField field) = 0;
    [[nodiscard]] virtual bool forceTokenTicked() noexcept = 0;
    // The 0-based position of the speaker list's selection; -1 for none.
    [[nodiscard]] virtual int speakerPosition() noexcept = 0;
    virtual void enableStart() noexcept = 0;
    // OK only, no icon, no owner; returns once the user has dismissed it.
    virtual void showMessage(const wchar_t* text, const wchar_t* title) noexcept = 0;

protected:
    // Jobs never own their host.
    ~JobHost() = default;
};

}  // namespace qx
