#include "job/synthesis_job.h"

#include <windows.h>

#include <string>
#include <string_view>

#include "app/control_text.h"
#include "app/program_state.h"
#include "app/settings_file.h"
#include "job/audio_file.h"
#include "job/output_stamp.h"
#include "json/json_document.h"
#include "resources/resource.h"
#include "service/speech_service_client.h"
#include "text/encoding.h"

namespace qx {

namespace {

constexpr std::size_t kTextLimitBytes = 1024;

// OK only, no icon and no owner: the main window stays usable while a job's
// message is open, and a second job may already be running.
void showMessage(const std::wstring& text, const wchar_t* title) {
    ::MessageBoxW(nullptr, text.c_str(), title, MB_OK);
}

}  // namespace

void SynthesisJob::run() noexcept {
    ProgramState& state = programState();
    const HWND window = state.mainWindow;
    const auto enableStart = [window] { ::EnableWindow(::GetDlgItem(window, IDC_START), TRUE); };

    const SpeechServiceClient client;
    JsonDocument document;  // "da", set up at once

    if (dialogItemText(window, IDC_CONTENT).empty()) {
        enableStart();
        showMessage(L"请输入要合成的文本内容", L"提示");
        return;
    }
    // Byte counts of user text are taken in code page 936, which Text is.
    if (dialogItemText(window, IDC_CONTENT).size() > kTextLimitBytes) {
        enableStart();
        showMessage(L"文本内容长度超过限制数量", L"提示");
        return;
    }

    const bool forceToken = ::IsDlgButtonChecked(window, IDC_FORCE_TOKEN) == BST_CHECKED;
    if (state.accessToken().empty() || forceToken) {
        const Text reply =
            client.requestToken(dialogItemText(window, IDC_SECRET_KEY), dialogItemText(window, IDC_API_KEY));
        if (!document.parse(reply)) {
            showMessage(L"获取AccessToken失败", L"信息");
            enableStart();
            return;
        }
        const Text token = document.getText("['access_token']");
        state.setAccessToken(token);
        if (token.empty()) {
            enableStart();
            showMessage(L"获取AccessToken失败", L"信息");
            return;
        }
        SettingsFile(state.settingsPath).writeKey("AT", token);
    }

    const Text stamp = makeOutputStamp();

    const Text text = dialogItemText(window, IDC_CONTENT);
    const Text speed = dialogItemText(window, IDC_SPEED);
    const Text pitch = dialogItemText(window, IDC_PITCH);
    const Text volume = dialogItemText(window, IDC_VOLUME);
    const LRESULT position = ::SendDlgItemMessageW(window, IDC_SPEAKER, CB_GETCURSEL, 0, 0);
    const Text speaker = position >= 0 && static_cast<std::size_t>(position) < state.speakerNumbers.size()
                             ? state.speakerNumbers[static_cast<std::size_t>(position)]
                             : Text{};

    // The job writes the audio it received itself: a job started once Start
    // is enabled again replaces latestAudio, never the bytes this one writes.
    const Bytes audio = client.synthesize(state.accessToken(), text, speed, pitch, volume, speaker);
    state.setLatestAudio(audio);
    enableStart();

    if (audio.size() == kRefusalMarker.size()) {
        showMessage(L"文本内容太长了。", L"抱歉");
        return;
    }

    const std::wstring saved = saveAudioFile(outputDirectory(), audio, stamp, [] { return makeOutputStamp(); });
    if (saved.empty()) {
        showMessage(L"语音合成失败", L"抱歉");
        return;
    }
    showMessage(L"语音合成成功，文件名：" + saved, L"恭喜");
}

}  // namespace qx
