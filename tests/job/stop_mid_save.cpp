// stop_mid_save DIRECTORY EVENT: starts saving audio into DIRECTORY under a
// stamp whose name is taken, and when the save asks for another stamp (the
// audio is in the temporary file by then) signals the named event and waits
// to be killed. For SaveAudioFile.ProcessKilledMidSaveLeavesNoTemporaryFile.
#include <windows.h>

#include "job/audio_file.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring event = argv[2];
    (void)qx::saveAudioFile(argv[1], qx::Bytes(100000, 0x5A), "1704067200123", [&]() -> qx::Text {
        ::SetEvent(::OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str()));
        ::Sleep(INFINITE);
        return {};
    });
    return 1;
}
