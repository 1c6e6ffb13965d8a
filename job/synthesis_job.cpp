#include "job/synthesis_job.h"

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "job/audio_file.h"
#include "job/output_stamp.h"
#include "json/json_document.h"
#include "platform/unique.h"

namespace qx {

namespace {

constexpr std::size_t kTextLimitBytes = 1024;

// A synthesis that left no file: the service was not heard, the file could
// not be written, or the job ran out of memory (a reply too large for a
// 32-bit process, or a size that no string can hold; the memory is given
// back as the job unwinds, so the window and the next job carry on).
constexpr wchar_t kFailedText[] = L"语音合成失败";
constexpr wchar_t kFailedTitle[] = L"抱歉";

// abort's exit code, for a job that could not unwind (terminateJob).
constexpr UINT kAbandonedExitCode = 3;

// The host of the job that runs on this thread, if any.
thread_local JobHost* t_runningHost = nullptr;
std::terminate_handler g_previousTerminate = nullptr;

// Some calls below the job are noexcept and still allocate; running out of
// memory inside one of them ends in std::terminate, past the job's own catch.
// On a job's thread the process then ends with the job's failure message
// instead of vanishing; on any other thread the previous handler runs.
[[noreturn]] void terminateJob() {
    if (JobHost* host = t_runningHost) {
        host->showMessage(kFailedText, kFailedTitle);
        ::ExitProcess(kAbandonedExitCode);
    }
    if (g_previousTerminate) g_previousTerminate();
    std::abort();
}

void installTerminateHandler() noexcept {
    static const bool installed = [] {
        g_previousTerminate = std::set_terminate(&terminateJob);
        return true;
    }();
    (void)installed;
}

// One run of the job's steps. Start is enabled exactly once: after a job has
// enabled it, a second job may already have disabled it again.
class Job {
public:
    explicit Job(JobContext& context) noexcept : c_(context) {}

    void run();

    void enableStart() noexcept {
        c_.host.enableStart();
        startEnabled_ = true;
    }
    [[nodiscard]] bool startEnabled() const noexcept { return startEnabled_; }

private:
    // Start first, then the message.
    void finish(const wchar_t* text, const wchar_t* title) noexcept {
        enableStart();
        c_.host.showMessage(text, title);
    }
    [[nodiscard]] Bytes requestAudio(const SpeechServiceClient& client);

    JobContext& c_;
    bool startEnabled_ = false;
};

void Job::run() {
    JobHost& host = c_.host;
    ProgramState& state = c_.state;
    const SpeechServiceClient& client = *c_.client;
    JsonDocument document;  // "da", set up at once

    if (host.text(JobField::Content).empty()) return finish(L"请输入要合成的文本内容", L"提示");
    // Byte counts of user text are taken in code page 936, which Text is.
    if (host.text(JobField::Content).size() > kTextLimitBytes) return finish(L"文本内容长度超过限制数量", L"提示");

    const bool forceToken = host.forceTokenTicked();
    if (state.accessToken().empty() || forceToken) {
        const Text secretKey = host.text(JobField::SecretKey);
        const Text apiKey = host.text(JobField::ApiKey);
        const Text reply = client.requestToken(secretKey, apiKey);
        if (!document.parse(reply)) {
            // The one path on which Start comes back only after the message.
            host.showMessage(L"获取AccessToken失败", L"信息");
            enableStart();
            return;
        }
        const Text token = document.getText("['access_token']");
        // Also when empty: the next job then asks for a token again.
        state.setAccessToken(token);
        if (token.empty()) return finish(L"获取AccessToken失败", L"信息");
        c_.settings.writeKey("AT", token);
    }

    const Text stamp = c_.makeStamp();
    // The job keeps and writes the audio it received itself: a job started
    // once Start is enabled again replaces latestAudio, never these bytes.
    const Bytes audio = requestAudio(client);
    state.setLatestAudio(audio);
    enableStart();

    // No reply at all is a failed synthesis, never a refusal: a user told
    // that the text is too long would shorten it and try again in vain.
    if (audio == toBytes(kNoReplyMarker)) return host.showMessage(kFailedText, kFailedTitle);
    if (audio.size() == kRefusalMarker.size()) return host.showMessage(L"文本内容太长了。", L"抱歉");

    const std::wstring saved = saveAudioFile(c_.outputDirectory, audio, stamp, c_.makeStamp);
    if (saved.empty()) return host.showMessage(kFailedText, kFailedTitle);
    const std::wstring message = L"语音合成成功，文件名：" + saved;
    host.showMessage(message.c_str(), L"恭喜");
}

// The content box is read a third time here: this is the text that is sent.
Bytes Job::requestAudio(const SpeechServiceClient& client) {
    JobHost& host = c_.host;
    const Text text = host.text(JobField::Content);
    const Text speed = host.text(JobField::Speed);
    const Text pitch = host.text(JobField::Pitch);
    const Text volume = host.text(JobField::Volume);
    const int position = host.speakerPosition();
    const std::vector<Text>& numbers = c_.state.speakerNumbers;
    const Text speaker =
        position >= 0 && static_cast<std::size_t>(position) < numbers.size() ? numbers[static_cast<std::size_t>(position)] : Text{};
    return client.synthesize(c_.state.accessToken(), text, speed, pitch, volume, speaker);
}

DWORD WINAPI jobThread(void* parameter) {
    const std::unique_ptr<JobContext> context(static_cast<JobContext*>(parameter));
    SynthesisJob::run(*context);
    return 0;
}

}  // namespace

JobContext::JobContext(JobHost& host, ProgramState& state, SettingsFile settings, std::wstring outputDirectory)
    : host(host),
      state(state),
      settings(std::move(settings)),
      outputDirectory(std::move(outputDirectory)),
      client(std::make_unique<SpeechServiceClient>()),
      makeStamp([] { return makeOutputStamp(); }) {}

void SynthesisJob::run(JobContext& context) noexcept {
    installTerminateHandler();
    JobHost* const outer = std::exchange(t_runningHost, &context.host);
    Job job(context);
    try {
        job.run();
    } catch (const std::exception&) {
        // std::bad_alloc, or std::length_error for a size beyond what a
        // 32-bit process can hold: out of memory either way. Everything the
        // job made has been released by now.
        if (!job.startEnabled()) context.host.enableStart();
        context.host.showMessage(kFailedText, kFailedTitle);
    }
    t_runningHost = outer;
}

bool SynthesisJob::start(std::unique_ptr<JobContext> context) noexcept {
    const UniqueHandle thread(::CreateThread(nullptr, 0, &jobThread, context.get(), 0, nullptr));
    if (!thread) return false;
    (void)context.release();  // the thread's now
    return true;
}

}  // namespace qx
