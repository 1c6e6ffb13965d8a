#pragma once
// The program's only window: dialog template 1000, shown modally. Its own
// work (start-up fill and the four event handlers) runs on the window's
// thread; the synthesis job runs on a thread of its own.

#include <windows.h>

#include "app/program_state.h"
#include "platform/unique.h"

namespace qx {

class MainWindow {
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
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR controlColours(UINT message, HDC dc, HWND control) const;
    void bindControls();
    void setUpCounter();
    void setDocumentationUrl();
    void setSmallIcon();
    void readSettings();
    void fillLists();
    void askForKeys(HWND emptyBox);

    ProgramState& state_;
    HWND window_ = nullptr;
    Controls controls_;
    UniqueHfont counterFont_;
    UniqueHicon smallIcon_;
};

}  // namespace qx
