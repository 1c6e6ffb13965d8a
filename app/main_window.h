#pragma once
// The program's only window: dialog template 1000, shown modally. Its own
// work (start-up fill and the four event handlers) runs on the window's
// thread; the synthesis job runs on a thread of its own and sees the window
// as its JobHost.

#include <windows.h>

#include "job/job_host.h"
#include "job/program_state.h"
#include "platform/unique.h"

namespace qx {

// Lives until the process exits: jobs still running when the window closes
// keep using it as their host until the process ends them.
class MainWindow final : public JobHost {
public:
    explicit MainWindow(ProgramState& state) noexcept : state_(state) {}
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window as a modal dialog with no owner; returns once it has
    // been closed.
    void run() noexcept;

    void onCreated();
    void onSaveClicked();
    void onStartClicked();
    void onLinkClicked();
    void onContentChanged();

    // JobHost, called from a job's thread. Each call is a window message to
    // the control, carried out on the window's thread.
    [[nodiscard]] Text text(JobField field) override;
    [[nodiscard]] bool forceTokenTicked() noexcept override;
    [[nodiscard]] int speakerPosition() noexcept override;
    void enableStart() noexcept override;
    void showMessage(const wchar_t* text, const wchar_t* title) noexcept override;

private:
    struct Controls {
        HWND content = nullptr;
        HWND secretKey = nullptr;
        HWND apiKey = nullptr;
        HWND save = nullptr;
        HWND start = nullptr;
        HWND link = nullptr;
        HWND forceToken = nullptr;
        HWND speed = nullptr;
        HWND pitch = nullptr;
        HWND volume = nullptr;
        HWND speaker = nullptr;
        HWND counter = nullptr;
    };

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK contentBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR self);
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR controlColours(UINT message, HDC dc, HWND control) const;
    void bindControls();
    void setUpCounter();
    void setDocumentationUrl();
    void setSmallIcon();
    void readSettings();
    void fillLists();
    void askForKeys(HWND emptyBox);
    void focusContentKeepingSelection();
    [[nodiscard]] bool startJob() noexcept;

    ProgramState& state_;
    HWND window_ = nullptr;
    Controls controls_;
    UniqueHfont counterFont_;
    UniqueHicon smallIcon_;
    bool keepContentSelection_ = false;
};

}  // namespace qx
