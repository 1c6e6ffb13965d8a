#include "app/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/control_text.h"
#include "app/window_tables.h"
#include "job/audio_file.h"
#include "job/settings_file.h"
#include "job/synthesis_job.h"
#include "platform/build_config.h"
#include "platform/system_library.h"
#include "resources/resource.h"
#include "text/encoding.h"

namespace qx {

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);

constexpr wchar_t kDocumentationPath[] = L"/ai-doc/SPEECH/qknh9i8ed";

constexpr UINT_PTR kContentBoxSubclass = 1;

void addListItem(HWND list, const std::wstring& text) {
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void selectListItem(HWND list, int index) { ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }

// The window's small icon: the image of the icon resource that fits the
// system's small-icon size (16, 20 or 24 pixels at 96, 120 or 144 DPI), so
// that the title bar shows it unscaled. Null when it cannot be loaded.
UniqueHicon loadSmallIcon() {
    return UniqueHicon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP),
                                                       IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                       ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR)));
}

// The DPI that the window is laid out for. The process is system DPI aware
// (see the manifest), so this is the system DPI. GetDpiForWindow exists from
// Windows 10 1607 on; Windows 7 and 8 answer through the window's DC.
int windowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    if (HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
        if (FARPROC found = ::GetProcAddress(user32, "GetDpiForWindow")) {
            const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(found));
            if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
        }
    }
    int dpi = 0;
    if (HDC dc = ::GetDC(window)) {
        dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
        ::ReleaseDC(window, dc);
    }
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

void MainWindow::run() noexcept {
    ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, &MainWindow::dialogProc,
                      reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainWindow*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        self->onCreated();
        return TRUE;  // the dialog manager focuses the first tab stop
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->handleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == IDC_SAVE && code == BN_CLICKED) {
            onSaveClicked();
        } else if (id == IDC_START && code == BN_CLICKED) {
            onStartClicked();
        } else if (id == IDC_CONTENT && code == EN_CHANGE) {
            onContentChanged();
        } else if (id != IDOK && id != IDCANCEL) {
            return FALSE;
        }
        // Enter and Esc arrive as IDOK and IDCANCEL; the window has no OK or
        // Cancel, so they do nothing.
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->idFrom == IDC_DOC_LINK && header->code == NM_CLICK) {
            onLinkClicked();
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        // The close box, the system menu's Close and Alt+F4 (as SC_CLOSE,
        // which the system turns into WM_CLOSE), and a close request from
        // another program (taskkill without /F, the session ending). Esc in
        // the content box would arrive here too; that box keeps it
        // (contentBoxProc).
        ::EndDialog(window_, 0);
        return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
        return controlColours(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
        return FALSE;
    }
}

INT_PTR MainWindow::controlColours(UINT message, HDC dc, HWND control) const {
    const Controls& c = controls_;
    const bool whiteBox = control == c.content || control == c.secretKey || control == c.apiKey ||
                          control == c.speed || control == c.pitch || control == c.volume || control == c.speaker;
    // The drop-down part of a list is a window of its own; it is the only
    // list box in this window.
    if (whiteBox || message == WM_CTLCOLORLISTBOX) {
        ::SetTextColor(dc, kBlack);
        ::SetBkColor(dc, kWhite);
        return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
    }
    if (control == c.counter || control == c.forceToken) {
        ::SetTextColor(dc, control == c.counter ? kRed : kBlack);
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    return FALSE;
}

void MainWindow::onCreated() {
    bindControls();
    ::SetWindowSubclass(controls_.content, &MainWindow::contentBoxProc, kContentBoxSubclass,
                        reinterpret_cast<DWORD_PTR>(this));
    setUpCounter();
    setDocumentationUrl();
    setSmallIcon();
    readSettings();
    state_.speakerNumbers = speakerNumberTable();
    fillLists();
}

LRESULT CALLBACK MainWindow::contentBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR data) {
    auto* self = reinterpret_cast<MainWindow*>(data);
    switch (message) {
    case WM_KEYDOWN:
        // A multi-line edit box in a dialog answers Esc by posting WM_CLOSE to
        // the dialog (Windows and Wine alike). Esc does nothing here; WM_CLOSE
        // closes the window.
        if (wParam == VK_ESCAPE) return 0;
        break;
    case WM_GETDLGCODE:
        // The dialog manager selects the whole text of an edit box it moves
        // the focus to, when the box says it has a selection to set.
        if (self->keepContentSelection_)
            return ::DefSubclassProc(box, message, wParam, lParam) & ~static_cast<LRESULT>(DLGC_HASSETSEL);
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(box, &MainWindow::contentBoxProc, kContentBoxSubclass);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(box, message, wParam, lParam);
}

void MainWindow::bindControls() {
    auto item = [this](int id) { return ::GetDlgItem(window_, id); };
    Controls& c = controls_;
    c.content = item(IDC_CONTENT);
    c.secretKey = item(IDC_SECRET_KEY);
    c.apiKey = item(IDC_API_KEY);
    c.save = item(IDC_SAVE);
    c.start = item(IDC_START);
    c.link = item(IDC_DOC_LINK);
    c.forceToken = item(IDC_FORCE_TOKEN);
    c.speed = item(IDC_SPEED);
    c.pitch = item(IDC_PITCH);
    c.volume = item(IDC_VOLUME);
    c.speaker = item(IDC_SPEAKER);
    c.counter = item(IDC_COUNTER);
}

void MainWindow::setUpCounter() {
    ::InvalidateRect(controls_.counter, nullptr, TRUE);  // red from the next paint on
    // Height 15 is in pixels at 96 DPI; unlike the template's dialog units it
    // does not grow with the system DPI by itself.
    const int height = ::MulDiv(15, windowDpi(window_), USER_DEFAULT_SCREEN_DPI);
    counterFont_.reset(::CreateFontW(height, 0, 0, 0, 800, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"宋体"));
    ::SendMessageW(controls_.counter, WM_SETFONT, reinterpret_cast<WPARAM>(counterFont_.get()), TRUE);
}

void MainWindow::setDocumentationUrl() {
    const std::wstring url = L"https://" + widenText(QX_DOC_HOST) + kDocumentationPath;
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = 0;
    // The control's URL field holds L_MAX_URL_LENGTH units, terminator included.
    const std::size_t units = std::min<std::size_t>(url.size(), L_MAX_URL_LENGTH - 1);
    std::wmemcpy(item.szUrl, url.data(), units);
    item.szUrl[units] = L'\0';
    ::SendMessageW(controls_.link, LM_SETITEM, 0, reinterpret_cast<LPARAM>(&item));
}

void MainWindow::setSmallIcon() {
    smallIcon_ = loadSmallIcon();
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
}

void MainWindow::readSettings() {
    state_.settingsPath = SettingsFile::locate();
    const SettingsFile settings(state_.settingsPath);
    setWindowText(controls_.apiKey, settings.readKey("AK"));
    setWindowText(controls_.secretKey, settings.readKey("SK"));
    state_.setAccessToken(settings.readKey("AT"));
}

void MainWindow::fillLists() {
    for (int n = 1; n <= kSpeedItems; ++n) {
        const std::wstring text = numberItemText(n - 1.0);
        addListItem(controls_.speed, text);
        addListItem(controls_.pitch, text);
    }
    selectListItem(controls_.speed, kSpeedSelection);
    selectListItem(controls_.pitch, kPitchSelection);

    for (int n = 1; n <= kVolumeItems; ++n) addListItem(controls_.volume, numberItemText(n - 1.0));
    selectListItem(controls_.volume, kVolumeSelection);

    std::vector<std::wstring> displayNames;
    displayNames.reserve(kSpeakers.size());
    for (const Speaker& speaker : kSpeakers) displayNames.emplace_back(speaker.displayName);
    for (const std::wstring& name : displayNames) addListItem(controls_.speaker, name);
    selectListItem(controls_.speaker, kSpeakerSelection);
}

void MainWindow::onContentChanged() {
    const std::size_t bytes = windowText(controls_.content).size();
    ::SetWindowTextW(controls_.counter, counterText(bytes).c_str());
}

void MainWindow::onSaveClicked() {
    const SettingsFile settings(state_.settingsPath);
    settings.writeKey("AK", windowText(controls_.apiKey));
    settings.writeKey("SK", windowText(controls_.secretKey));
}

void MainWindow::onStartClicked() {
    // Exact comparison with the empty text: keys of spaces count as present.
    if (windowText(controls_.secretKey).empty()) return askForKeys(controls_.secretKey);
    if (windowText(controls_.apiKey).empty()) return askForKeys(controls_.apiKey);

    // A disabled control cannot keep the focus; leave the keyboard usable.
    if (::GetFocus() == controls_.start) focusContentKeepingSelection();
    ::EnableWindow(controls_.start, FALSE);
    // No job, so nothing would ever enable the button again.
    if (!startJob()) ::EnableWindow(controls_.start, TRUE);
}

// Through the dialog manager, which also hands the default-button look back
// from Start; but the text and selection stay as they were, so that typing
// right after Start (while the job may still read the box) edits the text
// rather than replacing it.
void MainWindow::focusContentKeepingSelection() {
    keepContentSelection_ = true;
    ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(controls_.content), TRUE);
    keepContentSelection_ = false;
}

bool MainWindow::startJob() noexcept {
    try {
        return SynthesisJob::start(
            std::make_unique<JobContext>(*this, state_, SettingsFile(state_.settingsPath), outputDirectory()));
    } catch (const std::exception&) {
        // Not even the job's context could be made: as when no thread can be.
        return false;
    }
}

Text MainWindow::text(JobField field) {
    switch (field) {
    case JobField::Content: return windowText(controls_.content);
    case JobField::SecretKey: return windowText(controls_.secretKey);
    case JobField::ApiKey: return windowText(controls_.apiKey);
    // A drop-down list's window text is the text of its selected item.
    case JobField::Speed: return windowText(controls_.speed);
    case JobField::Pitch: return windowText(controls_.pitch);
    case JobField::Volume: return windowText(controls_.volume);
    }
    return {};
}

bool MainWindow::forceTokenTicked() noexcept {
    return ::SendMessageW(controls_.forceToken, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int MainWindow::speakerPosition() noexcept {
    return static_cast<int>(::SendMessageW(controls_.speaker, CB_GETCURSEL, 0, 0));
}

void MainWindow::enableStart() noexcept { ::EnableWindow(controls_.start, TRUE); }

// No owner: the window stays usable while a job's message is open.
void MainWindow::showMessage(const wchar_t* text, const wchar_t* title) noexcept {
    ::MessageBoxW(nullptr, text, title, MB_OK);
}

// The typed text stays where it is; the user is told and taken to the box
// that needs filling.
void MainWindow::askForKeys(HWND emptyBox) {
    ::MessageBoxW(window_, L"请输入 Secret Key 和 API Key", L"提示", MB_OK);
    ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(emptyBox), TRUE);
}

void MainWindow::onLinkClicked() {
    LITEM item{};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    item.iLink = 0;
    if (!::SendMessageW(controls_.link, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item))) return;
    item.szUrl[L_MAX_URL_LENGTH - 1] = L'\0';
    if (item.szUrl[0] == L'\0') return;
    // shell32 is loaded at the first click: imported, it and the DLLs it
    // imports would load with the program and delay the window each time it
    // starts. From the system folder only, as the import would have been
    // (shell32 is one of the system's KnownDLLs). Kept until the process
    // ends: the shell may leave work of its own running after the call.
    static const UniqueHmodule shell = loadSystemLibrary(L"shell32.dll");
    // decltype keeps WINAPI in the pointer's type: __stdcall in the 32-bit
    // build, where calling through a __cdecl pointer would unbalance the stack.
    const auto shellExecute =
        shell ? procedureAddress<decltype(&::ShellExecuteW)>(shell.get(), "ShellExecuteW") : nullptr;
    if (!shellExecute) return;
    // The shell may hand the address to COM-based handlers.
    const ComScope com;
    shellExecute(window_, L"open", item.szUrl, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace qx
