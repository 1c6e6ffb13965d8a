// The smallest program that shows a dialog the way QXtts does: the baselines
// of the start-up benchmark. Built twice: with a one-control template of its
// own, and with the program's own resources (template 1000), so that the
// program's share of its start-up can be told from its template's.
#include <windows.h>
#include <commctrl.h>

#ifndef QX_BENCH_TEMPLATE
#error "QX_BENCH_TEMPLATE names the dialog template to show"
#endif

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
    // The program's template holds a link control: without its class the
    // dialog cannot be made.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(QX_BENCH_TEMPLATE), nullptr, &dialogProc, 0);
    ::ExitProcess(0);
}
