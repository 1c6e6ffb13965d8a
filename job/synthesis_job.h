#pragma once
// The work that one press of Start sets off, on a thread of its own.

#include <functional>
#include <memory>
#include <string>

#include "job/job_host.h"
#include "job/program_state.h"
#include "job/settings_file.h"
#include "service/speech_service_client.h"
#include "text/text.h"

namespace qx {

// Everything one job works with. The host and the state outlive every job;
// the rest belongs to the job.
struct JobContext {
    JobContext(JobHost& host, ProgramState& state, SettingsFile settings, std::wstring outputDirectory);

    JobHost& host;
    ProgramState& state;
    SettingsFile settings;         // where a fresh token is stored as "AT"
    std::wstring outputDirectory;  // where the MP3 file goes
    std::unique_ptr<SpeechServiceClient> client;
    std::function<Text()> makeStamp;  // a new output stamp each call
};

class SynthesisJob {
public:
    // Runs one job on the calling thread. Nothing escapes: running out of
    // memory anywhere in it ends in a message, like any other failure.
    static void run(JobContext& context) noexcept;

    // Runs the job on a new thread, which owns the context from then on.
    // False when no thread could be made: then nothing has run, the context
    // is released, and the caller still owns the Start button.
    [[nodiscard]] static bool start(std::unique_ptr<JobContext> context) noexcept;
};

}  // namespace qx
