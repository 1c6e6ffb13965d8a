// The smallest program that shows a dialog the way QXtts does: the baseline
// of the start-up benchmark.
#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        ::EndDialog(window, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, &dialogProc, 0);
    ::ExitProcess(0);
}
