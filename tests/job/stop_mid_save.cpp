// stop_mid_save DIRECTORY EVENT BYTES: saves BYTES of audio into DIRECTORY
// under a stamp whose name is taken, and when the save asks for another stamp
// (the audio is in the temporary file by then) signals the named event and
// waits to be killed. The test that kills it mid-save either waits for the
// event (killed in the rename retry) or stops it while the temporary file is
// still growing (killed in the write itself).
#include <windows.h>

#include <cwchar>

#include "job/audio_file.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const std::wstring event = argv[2];
    const qx::Bytes audio(std::wcstoul(argv[3], nullptr, 10), 0x5A);
    (void)qx::saveAudioFile(argv[1], audio, "1704067200123", [&]() -> qx::Text {
        ::SetEvent(::OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str()));
        ::Sleep(INFINITE);
        return {};
    });
    return 1;
}
