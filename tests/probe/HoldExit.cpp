// holdexit.dll: loaded into a running ovq by `probe inject-load`, it makes that
// process slow to end, as a loaded machine or a slow shell can: when the process
// ends (ExitProcess detaches every DLL, ovq.exe still mapped) its DllMain
// sleeps kHoldMs first. The release test so shows that the installer package
// waits for the running copy's process to be gone, and not only for the
// `ovq.exe -x` that asked it to end (tests/release/check-install.sh).

#include <windows.h>

namespace {
const DWORD kHoldMs = 5000;
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // A non-null reserved on detach: the process is ending, not a FreeLibrary.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) Sleep(kHoldMs);
    return TRUE;
}
