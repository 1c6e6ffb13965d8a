#include <windows.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "job/program_state.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);

    qx::MainWindow window(qx::programState());
    window.run();
    // At once, whether or not a job is still running.
    ::ExitProcess(0);
}
