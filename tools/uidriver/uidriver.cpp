// uidriver: drives a dialog window of another process from the command line,
// for end-to-end tests and scripts. Finds the window by its caption and waits,
// with a bounded timeout, until it is visible and its last control exists.
// Output is UTF-8 on stdout, exactly as read (no trailing newline unless said).
//
//   uidriver [--caption TEXT] [--exe PATH] [--pid N] [--last ID] [--timeout SEC] COMMAND ...
//
// Commands:
//   wait                    wait until the window is ready; print its process id
//   exists                  print 1 if the window exists now, else 0 (no waiting)
//   text ID                 print the control's text
//   text ID VALUE           set the text; an edit box gets it as typing does
//                           (select all, replace), so its change notification fires
//   click ID                click a button (posted: the handler may open a modal box)
//   check ID [0|1]          print the check state, or click until it is as given
//   select ID INDEX         select a list item, with the selection-change notification
//   selection ID            print "<index>\t<text>" of the list's selected item
//   items ID                print the list's items, one per line
//   enabled ID              print 1 or 0
//   focus                   print the id of the control that has the focus (0: none)
//   key ID return|escape|tab|alt-f4  press a key in a control
//   type TEXT               type TEXT into the control that has the focus
//   edit-sel ID [START END] print "<start> <end>" of an edit box's selection, or set it
//   msgbox [--wait SEC] [--keep]
//                           print {"title":..,"text":..,"owner":"main"|"none"|"other"}
//                           for the target process's open message box, then press OK
//   click-timed ID [--wait SEC] [--keep]
//                           click, print the milliseconds until a message box
//                           shows its text, then as msgbox
//   memory                  print {"working_set":..,"peak_working_set":..} in bytes
//   rect ID                 print "x y width height" of the control's window in screen
//                           pixels, then the client area's width and height; ID 0 is the
//                           main window itself
//   dpi                     print the system DPI (as a DPI-aware program sees it)
//   link-url ID             print the URL of link item 0 of a SysLink control
//   link-click ID           click link item 0 of a SysLink control
//   close                   close the window as its close box does
//   wm-close                ask the window to close as another program does
//                           (WM_CLOSE, as taskkill without /F sends it)
//   wait-closed             wait until the window is gone
//   acp                     print this process's ANSI code page (what Wine gives a
//                           program started in the same environment)
//   session                 read commands from standard input, one a line, each
//                           the arguments above (options, command, its arguments)
//                           separated by tabs; answer each with the line
//                           "<exit code> <stdout bytes> <stderr bytes>" and then
//                           those bytes. Ends at the end of the input. Saves a
//                           process start under Wine (a few hundred ms) per command.
//   launch EXE [ARG...]     start EXE, wait until its window is ready, print the
//                           milliseconds from process creation to ready, then its pid.
//                           Under Wine the program keeps this driver's host output
//                           descriptors open while it runs: send the output to a
//                           file, not a pipe that someone reads to its end.
//
// VALUE and TEXT may be given as "hex:<UTF-8 bytes in hex>" (for shells and
// locales that cannot pass Chinese text on a command line).
// Exit codes: 0 done, 1 window or box not found in time / failed, 2 usage.

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::wstring caption = L"Vorin语音在线合成";
    std::wstring exe;  // full Windows path; empty: any process
    DWORD pid = 0;     // 0: any process
    int lastControl = 1018;
    // Long enough for a window that starts while the machine compiles and runs
    // other tests beside it (seen above 15 s); a window that is there returns at once.
    double timeoutSeconds = 60.0;
};

struct Target {
    HWND window = nullptr;
    DWORD pid = 0;
    DWORD thread = 0;
};

// In a session each command's output is collected here and sent back with
// its exit code; otherwise it goes straight to the standard handles.
std::string* g_sessionOut = nullptr;
std::string* g_sessionErr = nullptr;

void writeHandle(DWORD which, const std::string& bytes) {
    HANDLE out = ::GetStdHandle(which);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

void writeStdout(const std::string& bytes) {
    if (g_sessionOut) {
        *g_sessionOut += bytes;
        return;
    }
    writeHandle(STD_OUTPUT_HANDLE, bytes);
}

std::string utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring fromUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

void fail(const std::wstring& message) {
    const std::string text = "uidriver: " + utf8(message) + "\n";
    if (g_sessionErr) {
        *g_sessionErr += text;
        return;
    }
    writeHandle(STD_ERROR_HANDLE, text);
}

// "hex:E4BDA0" -> the UTF-8 text those bytes spell; anything else as given.
std::optional<std::wstring> argumentText(const std::wstring& arg) {
    if (arg.rfind(L"hex:", 0) != 0) return arg;
    std::string bytes;
    const std::wstring hex = arg.substr(4);
    if (hex.size() % 2 != 0) return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        wchar_t pair[3] = {hex[i], hex[i + 1], 0};
        wchar_t* end = nullptr;
        const unsigned long value = std::wcstoul(pair, &end, 16);
        if (end != pair + 2) return std::nullopt;
        bytes.push_back(static_cast<char>(value));
    }
    return fromUtf8(bytes);
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring windowText(HWND window) {
    const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const LRESULT n = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

std::wstring processImage(DWORD pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return {};
    wchar_t path[4096];
    DWORD size = 4096;
    std::wstring image;
    if (::QueryFullProcessImageNameW(process, 0, path, &size)) image.assign(path, size);
    ::CloseHandle(process);
    return image;
}

struct Search {
    const Options* options;
    HWND found = nullptr;
};

BOOL CALLBACK matchMainWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (className(window) != L"#32770") return TRUE;
    wchar_t caption[256] = {};
    ::GetWindowTextW(window, caption, 256);
    if (search->options->caption != caption) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (search->options->pid != 0 && pid != search->options->pid) return TRUE;
    if (!search->options->exe.empty() && lower(processImage(pid)) != lower(search->options->exe)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND findMainWindow(const Options& options) {
    Search search{&options};
    ::EnumWindows(&matchMainWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The dialog exists a little before it is ready (invisible, controls missing).
bool ready(HWND window, const Options& options) {
    return ::IsWindowVisible(window) && ::GetDlgItem(window, options.lastControl) != nullptr;
}

std::optional<Target> waitForWindow(const Options& options, DWORD pollMs = 20) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(options.timeoutSeconds * 1000);
    for (;;) {
        HWND window = findMainWindow(options);
        if (window && ready(window, options)) {
            Target target{window};
            target.thread = ::GetWindowThreadProcessId(window, &target.pid);
            return target;
        }
        if (::GetTickCount64() >= deadline) return std::nullopt;
        ::Sleep(pollMs);
    }
}

// Returns once the window's thread has handled what was posted before: the
// first message is taken while the thread fetches the posted one, the second
// after that has been dispatched (or inside a modal loop it opened).
void sync(HWND window) {
    for (int i = 0; i < 2; ++i) {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    }
}

std::optional<int> number(const std::wstring& text) {
    if (text.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (*end != L'\0') return std::nullopt;
    return static_cast<int>(value);
}

HWND control(const Target& target, const std::wstring& idText) {
    const auto id = number(idText);
    if (!id) return nullptr;
    return ::GetDlgItem(target.window, *id);
}

std::string jsonString(std::wstring_view text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"': out += "\\\""; break;
        case L'\\': out += "\\\\"; break;
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += utf8(std::wstring_view(&c, 1));
            }
        }
    }
    return out + "\"";
}

struct BoxSearch {
    DWORD pid;
    HWND exclude;
    HWND found = nullptr;
};

BOOL CALLBACK matchMessageBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    if (window == search->exclude || className(window) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid) return TRUE;
    search->found = window;
    return FALSE;
}

HWND findMessageBox(const Target& target) {
    BoxSearch search{target.pid, target.window};
    ::EnumWindows(&matchMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct AllBoxes {
    DWORD pid;
    HWND exclude;
    std::vector<HWND> found;
};

BOOL CALLBACK collectMessageBox(HWND window, LPARAM param) {
    auto* all = reinterpret_cast<AllBoxes*>(param);
    BoxSearch one{all->pid, all->exclude};
    if (!matchMessageBox(window, reinterpret_cast<LPARAM>(&one))) all->found.push_back(window);
    return TRUE;
}

std::vector<HWND> messageBoxes(const Target& target) {
    AllBoxes all{target.pid, target.window, {}};
    ::EnumWindows(&collectMessageBox, reinterpret_cast<LPARAM>(&all));
    return all.found;
}

bool waitGone(HWND window, double seconds) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (::IsWindow(window)) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(20);
    }
    return true;
}

int commandMessageBox(const Target& target, const std::vector<std::wstring>& args) {
    double waitSeconds = 5.0;
    bool keep = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--wait" && i + 1 < args.size()) {
            waitSeconds = std::wcstod(args[++i].c_str(), nullptr);
        } else if (args[i] == L"--keep") {
            keep = true;
        } else {
            return kExitUsage;
        }
    }
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(waitSeconds * 1000);
    HWND box = nullptr;
    for (;;) {
        box = findMessageBox(target);
        // The box's static text comes a moment after the box itself.
        if (box && ::GetDlgItem(box, 0xFFFF)) break;
        if (::GetTickCount64() >= deadline) {
            fail(L"no message box");
            return kExitFailed;
        }
        ::Sleep(20);
    }
    HWND owner = ::GetWindow(box, GW_OWNER);
    const char* ownerName = owner == nullptr ? "none" : owner == target.window ? "main" : "other";
    writeStdout("{\"title\":" + jsonString(windowText(box)) + ",\"text\":" +
                jsonString(windowText(::GetDlgItem(box, 0xFFFF))) + ",\"owner\":\"" + ownerName + "\"}\n");
    if (keep) return kExitOk;
    HWND ok = ::GetDlgItem(box, IDOK);
    ::PostMessageW(ok ? ok : box, ok ? BM_CLICK : WM_COMMAND, ok ? 0 : IDOK, 0);
    if (!waitGone(box, 5.0)) {
        fail(L"message box did not close");
        return kExitFailed;
    }
    return kExitOk;
}

// Clicks a button and measures the time until a message box of the target
// process shows its text, polling every millisecond; prints the milliseconds
// and then handles the box as `msgbox` does.
int commandClickTimed(const Target& target, const std::vector<std::wstring>& args) {
    if (args.empty()) return kExitUsage;
    HWND item = control(target, args[0]);
    if (!item) {
        fail(L"no control " + args[0]);
        return kExitFailed;
    }
    const std::vector<std::wstring> boxArgs(args.begin() + 1, args.end());
    double waitSeconds = 60.0;
    for (std::size_t i = 0; i + 1 < boxArgs.size(); ++i)
        if (boxArgs[i] == L"--wait") waitSeconds = std::wcstod(boxArgs[i + 1].c_str(), nullptr);
    LARGE_INTEGER frequency{}, start{}, now{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    ::PostMessageW(item, BM_CLICK, 0, 0);
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(waitSeconds * 1000);
    for (;;) {
        HWND box = findMessageBox(target);
        if (box && ::GetDlgItem(box, 0xFFFF)) break;
        if (::GetTickCount64() >= deadline) {
            fail(L"no message box");
            return kExitFailed;
        }
        ::Sleep(1);
    }
    ::QueryPerformanceCounter(&now);
    const double ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    char line[32];
    std::snprintf(line, sizeof line, "%.1f\n", ms);
    writeStdout(line);
    return commandMessageBox(target, boxArgs);
}

// The target process's working set and its peak, in bytes.
int commandMemory(const Target& target) {
    qx::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, target.pid));
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!process || !::GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) {
        fail(L"no memory figures for the process");
        return kExitFailed;
    }
    writeStdout("{\"working_set\":" + std::to_string(counters.WorkingSetSize) +
                ",\"peak_working_set\":" + std::to_string(counters.PeakWorkingSetSize) + "}\n");
    return kExitOk;
}

int commandText(const Target& target, const std::vector<std::wstring>& args) {
    if (args.empty() || args.size() > 2) return kExitUsage;
    HWND item = control(target, args[0]);
    if (!item) {
        fail(L"no control " + args[0]);
        return kExitFailed;
    }
    if (args.size() == 1) {
        writeStdout(utf8(windowText(item)));
        return kExitOk;
    }
    const auto value = argumentText(args[1]);
    if (!value) return kExitUsage;
    if (lower(className(item)) == L"edit") {
        ::SendMessageW(item, EM_SETSEL, 0, -1);
        ::SendMessageW(item, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(value->c_str()));
    } else {
        ::SendMessageW(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value->c_str()));
    }
    return kExitOk;
}

// The number of the last click whose handler has returned. A click that
// opens a message box returns before its handler does, so the callback can
// come during a later command: it must not write to that click's stack frame
// (it did, and the later command crashed in the 32-bit build). Clicks are
// numbered instead, and the callback only records the number.
ULONG_PTR g_lastClickHandled = 0;
ULONG_PTR g_lastClickSent = 0;

void CALLBACK clickHandled(HWND, UINT, ULONG_PTR click, LRESULT) { g_lastClickHandled = click; }

// Returns once the click has been handled: when the button's procedure has
// returned, or when a new message box of the target has opened (a handler
// that shows one returns only once it is closed). Waiting for messages sent
// after a posted click is not enough: the click activates and focuses, and
// the window's thread may take those messages in the middle of it.
int commandClick(const Target& target, HWND item) {
    const std::vector<HWND> boxesBefore = messageBoxes(target);
    const ULONG_PTR click = ++g_lastClickSent;
    const auto done = [click] { return g_lastClickHandled == click; };
    if (!::SendMessageCallbackW(item, BM_CLICK, 0, 0, &clickHandled, click)) {
        fail(L"cannot click");
        return kExitFailed;
    }
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (!done() && ::GetTickCount64() < deadline) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);  // runs the callback
        if (done()) break;
        bool newBox = false;
        for (HWND box : messageBoxes(target))
            newBox = newBox || std::find(boxesBefore.begin(), boxesBefore.end(), box) == boxesBefore.end();
        if (newBox) break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return kExitOk;
}

int commandCheck(const Target& target, const std::vector<std::wstring>& args) {
    if (args.empty() || args.size() > 2) return kExitUsage;
    HWND item = control(target, args[0]);
    if (!item) return kExitFailed;
    if (args.size() == 1) {
        writeStdout(::SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1\n" : "0\n");
        return kExitOk;
    }
    const bool wanted = args[1] == L"1";
    for (int i = 0; i < 3 && (::SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED) != wanted; ++i)
        commandClick(target, item);
    return (::SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED) == wanted ? kExitOk : kExitFailed;
}

std::wstring listItem(HWND list, int index) {
    const LRESULT length = ::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT n = ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

int commandSelect(const Target& target, const std::vector<std::wstring>& args) {
    if (args.size() != 2) return kExitUsage;
    HWND list = control(target, args[0]);
    const auto index = number(args[1]);
    if (!list || !index) return kExitFailed;
    if (::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(*index), 0) == CB_ERR) return kExitFailed;
    ::SendMessageW(target.window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    return kExitOk;
}

int commandSelection(HWND list) {
    const LRESULT index = ::SendMessageW(list, CB_GETCURSEL, 0, 0);
    writeStdout(std::to_string(index) + "\t" + utf8(index == CB_ERR ? L"" : listItem(list, static_cast<int>(index))) +
                "\n");
    return kExitOk;
}

int commandItems(HWND list) {
    const LRESULT count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
    std::string out;
    for (LRESULT i = 0; i < count; ++i) out += utf8(listItem(list, static_cast<int>(i))) + "\n";
    writeStdout(out);
    return kExitOk;
}

int commandFocus(const Target& target) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    int id = 0;
    if (::GetGUIThreadInfo(target.thread, &info) && info.hwndFocus && ::GetParent(info.hwndFocus) == target.window)
        id = ::GetDlgCtrlID(info.hwndFocus);
    writeStdout(std::to_string(id) + "\n");
    return kExitOk;
}

int commandKey(const Target& target, const std::vector<std::wstring>& args) {
    if (args.size() != 2) return kExitUsage;
    HWND item = control(target, args[0]);
    if (!item) return kExitFailed;
    UINT key = 0;
    bool alt = false;
    if (args[1] == L"return") key = VK_RETURN;
    else if (args[1] == L"escape") key = VK_ESCAPE;
    else if (args[1] == L"tab") key = VK_TAB;
    else if (args[1] == L"alt-f4") key = VK_F4, alt = true;
    else return kExitUsage;
    const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    // With Alt held the keys arrive as system keys, with the context bit set.
    const UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
    const UINT up = alt ? WM_SYSKEYUP : WM_KEYUP;
    const LPARAM context = alt ? (1u << 29) : 0;
    ::PostMessageW(item, down, key, 1 | (scan << 16) | context);
    ::PostMessageW(item, up, key, 1 | (scan << 16) | context | (1u << 30) | (1u << 31));
    sync(target.window);
    return kExitOk;
}

// Characters as the keyboard gives them to the focused control, one WM_CHAR
// per UTF-16 unit.
int commandType(const Target& target, const std::vector<std::wstring>& args) {
    if (args.size() != 1) return kExitUsage;
    const auto text = argumentText(args[0]);
    if (!text) return kExitUsage;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(target.thread, &info) || !info.hwndFocus) {
        fail(L"nothing has the focus");
        return kExitFailed;
    }
    // Sent, not posted: the next command (a read of the text, say) must not
    // overtake characters still waiting in the queue.
    for (wchar_t c : *text) {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(info.hwndFocus, WM_CHAR, c, 1, SMTO_NORMAL, 5000, &result);
    }
    return kExitOk;
}

int commandEditSelection(const Target& target, const std::vector<std::wstring>& args) {
    if (args.size() != 1 && args.size() != 3) return kExitUsage;
    HWND item = control(target, args[0]);
    if (!item) return kExitFailed;
    if (args.size() == 3) {
        const auto start = number(args[1]);
        const auto end = number(args[2]);
        if (!start || !end) return kExitUsage;
        ::SendMessageW(item, EM_SETSEL, static_cast<WPARAM>(*start), static_cast<LPARAM>(*end));
        return kExitOk;
    }
    // Positions as the return value (both below 65536 here): pointers would
    // name this process's memory.
    const LRESULT packed = ::SendMessageW(item, EM_GETSEL, 0, 0);
    const unsigned start = LOWORD(packed);
    const unsigned end = HIWORD(packed);
    writeStdout(std::to_string(start) + " " + std::to_string(end) + "\n");
    return kExitOk;
}

// LM_GETITEM fills a structure in the caller's memory, which the system does
// not carry across processes: the structure is placed in the target's memory.
int commandLinkUrl(const Target& target, HWND link) {
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, target.pid);
    if (!process) return kExitFailed;
    int status = kExitFailed;
    void* remote = ::VirtualAllocEx(process, nullptr, sizeof(LITEM), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote) {
        LITEM item{};
        item.mask = LIF_ITEMINDEX | LIF_URL;
        item.iLink = 0;
        SIZE_T moved = 0;
        if (::WriteProcessMemory(process, remote, &item, sizeof item, &moved) &&
            ::SendMessageW(link, LM_GETITEM, 0, reinterpret_cast<LPARAM>(remote)) &&
            ::ReadProcessMemory(process, remote, &item, sizeof item, &moved)) {
            item.szUrl[L_MAX_URL_LENGTH - 1] = L'\0';
            writeStdout(utf8(item.szUrl) + "\n");
            status = kExitOk;
        }
        ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    ::CloseHandle(process);
    return status;
}

int commandRect(HWND window) {
    RECT outer{}, client{};
    if (!::GetWindowRect(window, &outer) || !::GetClientRect(window, &client)) return kExitFailed;
    writeStdout(std::to_string(outer.left) + " " + std::to_string(outer.top) + " " +
                std::to_string(outer.right - outer.left) + " " + std::to_string(outer.bottom - outer.top) + " " +
                std::to_string(client.right) + " " + std::to_string(client.bottom) + "\n");
    return kExitOk;
}

int commandDpi() {
    HDC screen = ::GetDC(nullptr);
    if (!screen) return kExitFailed;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    writeStdout(std::to_string(dpi) + "\n");
    return kExitOk;
}

int commandLinkClick(const Target& target, HWND link) {
    RECT client{};
    ::GetClientRect(link, &client);
    const LPARAM point = MAKELPARAM(8, (client.bottom - client.top) / 2);
    ::PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::PostMessageW(link, WM_LBUTTONUP, 0, point);
    sync(target.window);
    return kExitOk;
}

int commandLaunch(Options options, const std::vector<std::wstring>& args) {
    if (args.empty()) return kExitUsage;
    std::wstring commandLine;
    for (const std::wstring& arg : args) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += L'"' + arg + L'"';
    }
    std::wstring directory = args[0];
    const std::size_t cut = directory.find_last_of(L"\\/");
    directory = cut == std::wstring::npos ? L"." : directory.substr(0, cut);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, begin, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&begin);
    const BOOL started = ::CreateProcessW(args[0].c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, directory.c_str(), &startup, &process);
    if (!started) {
        fail(L"cannot start " + args[0]);
        return kExitFailed;
    }
    options.pid = process.dwProcessId;
    const auto target = waitForWindow(options, 1);
    ::QueryPerformanceCounter(&end);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (!target) {
        fail(L"window not ready");
        return kExitFailed;
    }
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart;
    char line[64];
    std::snprintf(line, sizeof line, "%.1f %lu\n", ms, static_cast<unsigned long>(process.dwProcessId));
    writeStdout(line);
    return kExitOk;
}

int run(std::vector<std::wstring> args) {
    Options options;
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind(L"--", 0) == 0; ++i) {
        if (i + 1 >= args.size()) return kExitUsage;
        const std::wstring& name = args[i];
        const std::wstring& value = args[++i];
        if (name == L"--caption") {
            const auto text = argumentText(value);
            if (!text) return kExitUsage;
            options.caption = *text;
        } else if (name == L"--exe") {
            options.exe = value;
        } else if (name == L"--pid") {
            options.pid = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
        } else if (name == L"--last") {
            options.lastControl = number(value).value_or(0);
        } else if (name == L"--timeout") {
            options.timeoutSeconds = std::wcstod(value.c_str(), nullptr);
        } else {
            return kExitUsage;
        }
    }
    if (i >= args.size()) return kExitUsage;
    const std::wstring command = args[i];
    const std::vector<std::wstring> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

    if (command == L"launch") return commandLaunch(options, rest);
    if (command == L"acp") {
        writeStdout(std::to_string(::GetACP()) + "\n");
        return kExitOk;
    }
    if (command == L"exists") {
        writeStdout(findMainWindow(options) ? "1\n" : "0\n");
        return kExitOk;
    }
    if (command == L"wait-closed") {
        HWND window = findMainWindow(options);
        if (!window || waitGone(window, options.timeoutSeconds)) return kExitOk;
        fail(L"window still open");
        return kExitFailed;
    }

    const auto target = waitForWindow(options);
    if (!target) {
        fail(L"window \"" + options.caption + L"\" not ready");
        return kExitFailed;
    }
    auto withControl = [&](auto action) -> int {
        if (rest.size() != 1) return kExitUsage;
        HWND item = control(*target, rest[0]);
        if (!item) {
            fail(L"no control " + rest[0]);
            return kExitFailed;
        }
        return action(item);
    };

    if (command == L"wait") {
        writeStdout(std::to_string(target->pid) + "\n");
        return kExitOk;
    }
    if (command == L"text") return commandText(*target, rest);
    if (command == L"click") return withControl([&](HWND item) { return commandClick(*target, item); });
    if (command == L"check") return commandCheck(*target, rest);
    if (command == L"select") return commandSelect(*target, rest);
    if (command == L"selection") return withControl([&](HWND item) { return commandSelection(item); });
    if (command == L"items") return withControl([&](HWND item) { return commandItems(item); });
    if (command == L"enabled")
        return withControl([&](HWND item) {
            writeStdout(::IsWindowEnabled(item) ? "1\n" : "0\n");
            return kExitOk;
        });
    if (command == L"focus") return commandFocus(*target);
    if (command == L"key") return commandKey(*target, rest);
    if (command == L"type") return commandType(*target, rest);
    if (command == L"edit-sel") return commandEditSelection(*target, rest);
    if (command == L"msgbox") return commandMessageBox(*target, rest);
    if (command == L"click-timed") return commandClickTimed(*target, rest);
    if (command == L"memory") return commandMemory(*target);
    if (command == L"dpi") return commandDpi();
    if (command == L"rect") {
        if (rest.size() == 1 && rest[0] == L"0") return commandRect(target->window);
        return withControl([&](HWND item) { return commandRect(item); });
    }
    if (command == L"link-url") return withControl([&](HWND item) { return commandLinkUrl(*target, item); });
    if (command == L"link-click") return withControl([&](HWND item) { return commandLinkClick(*target, item); });
    if (command == L"close") {
        ::PostMessageW(target->window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return kExitOk;
    }
    if (command == L"wm-close") {
        ::PostMessageW(target->window, WM_CLOSE, 0, 0);
        return kExitOk;
    }
    fail(L"unknown command " + command);
    return kExitUsage;
}

int runSession() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    for (;;) {
        std::size_t end;
        while ((end = pending.find('\n')) == std::string::npos) {
            char chunk[4096];
            DWORD n = 0;
            if (!::ReadFile(in, chunk, sizeof chunk, &n, nullptr) || n == 0) return kExitOk;
            pending.append(chunk, n);
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::wstring> args;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find('\t', start);
            args.push_back(fromUtf8(std::string_view(line).substr(start, tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        std::string out, err;
        g_sessionOut = &out;
        g_sessionErr = &err;
        const bool nested = !args.empty() && args.back() == L"session";
        const int status = nested ? kExitUsage : run(std::move(args));
        g_sessionOut = g_sessionErr = nullptr;
        writeHandle(STD_OUTPUT_HANDLE, std::to_string(status) + " " + std::to_string(out.size()) + " " +
                                           std::to_string(err.size()) + "\n" + out + err);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Sizes and positions as the target sees them: a DPI-unaware caller would
    // get them scaled back to 96 DPI.
    ::SetProcessDPIAware();
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == L"session") return runSession();
    const int status = run(std::move(args));
    if (status == kExitUsage) fail(L"usage: uidriver [--caption TEXT] [--exe PATH] [--pid N] [--last ID] "
                                   L"[--timeout SEC] COMMAND ... (see the top of uidriver.cpp)");
    return status;
}
