#include <windows.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "job/program_state.h"
#include "platform/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a library by name: system code loads some later
    // (the theme and version libraries), and the program's folder may hold
    // files of any name.
    qx::restrictDllSearch();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LINK_CLASS};
    ::InitCommonControlsEx(&controls);

    qx::MainWindow window(qx::programState());
    window.run();
    // At once, whether or not a job is still running.
    ::ExitProcess(0);
}
