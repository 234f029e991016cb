// endcopy.dll: the installer package's custom action EndRunningCopy. It ends
// the copy of ovq that runs in the installing session through that copy's own
// command line, `ovq.exe -x`, and returns only once the copy's process has
// gone, so that no file of the program is in use when Windows Installer
// replaces or removes it.
//
// Waiting for the `-x` launch alone is not enough: that launch hands its -x to
// the running copy and exits at once, while the running copy still has its
// shut-down ahead (its tray icon goes, then its window) and its exe stays
// mapped until its process has ended. So the action finds the running copy's
// window, opens that window's process first, then starts the copy's own exe
// with -x, and waits for the process it opened.
//
// The package runs it immediately (not deferred) after costing and before
// InstallValidate, in the installing user's context, where that user's copy
// and its window are seen. It never fails the installation: when nothing
// runs there is nothing to do, and a copy that does not end within the
// deadline (a hung one, or one started as administrator, which a normal user
// cannot end) is left to Windows Installer's own handling of files in use.
// What it did is written to the installation's log (msiexec /l*v).
//
// Like ovq.exe, it links no C runtime: only KERNEL32, USER32 and MSI.

#include "UTypes.h"

#include <msi.h>
#include <msiquery.h>

namespace {

// The whole wait: the -x launch and the running copy's shut-down together.
const DWORD kDeadlineMs = 30000;

// One line into the installation's log, starting with "ovq: ".
void Log(MSIHANDLE install, const char* text)
{
    char line[1100];
    wsprintfA(line, "ovq: %s", text);
    MSIHANDLE record = MsiCreateRecord(0);
    if (record == 0)
        return;
    MsiRecordSetStringA(record, 0, line);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// Milliseconds left of the deadline that started at start.
DWORD Remaining(DWORD start)
{
    DWORD spent = GetTickCount() - start;  // unsigned: right across the wrap
    return spent >= kDeadlineMs ? 0 : kDeadlineMs - spent;
}

// Ends the running copy (process running, identified by id) through its own
// exe with -x, and waits for its process to end.
void EndCopy(MSIHANDLE install, HANDLE running, DWORD id)
{
    char message[1100];
    char exe[MAX_PATH * 2];
    DWORD length = sizeof(exe);
    if (!QueryFullProcessImageNameA(running, 0, exe, &length)) {
        wsprintfA(message, "cannot read the exe of the running copy (process %lu, error %lu)", id, GetLastError());
        Log(install, message);
        return;
    }
    char command[MAX_PATH * 2 + 8];
    wsprintfA(command, "\"%s\" -x", exe);

    DWORD start = GetTickCount();
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION launch;
    if (!CreateProcessA(exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &launch)) {
        wsprintfA(message, "cannot start %s (error %lu)", command, GetLastError());
        Log(install, message);
        return;
    }
    CloseHandle(launch.hThread);
    DWORD launchExit = STILL_ACTIVE;
    if (WaitForSingleObject(launch.hProcess, Remaining(start)) == WAIT_OBJECT_0)
        GetExitCodeProcess(launch.hProcess, &launchExit);
    CloseHandle(launch.hProcess);

    if (WaitForSingleObject(running, Remaining(start)) == WAIT_OBJECT_0) {
        wsprintfA(message, "ran %s (exit code %lu); the running copy (process %lu) ended after %lu ms", command,
                  launchExit, id, GetTickCount() - start);
    } else {
        wsprintfA(message, "ran %s; the running copy (process %lu) still runs after %lu ms", command, id, kDeadlineMs);
    }
    Log(install, message);
}

}  // namespace

extern "C" __declspec(dllexport) UINT WINAPI EndRunningCopy(MSIHANDLE install)
{
    HWND window = FindWindowA(OVQ_WINDOW_CLASS, nullptr);
    if (window == nullptr) {
        Log(install, "no copy runs in this session");
        return ERROR_SUCCESS;
    }
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE running = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (running == nullptr) {
        char message[100];
        wsprintfA(message, "cannot open the running copy (process %lu, error %lu)", id, GetLastError());
        Log(install, message);
        return ERROR_SUCCESS;
    }
    EndCopy(install, running, id);
    CloseHandle(running);
    return ERROR_SUCCESS;
}

// The DLL's entry point: nothing to set up or tear down.
extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

#ifdef _WIN64
// One absolute address, so that the 64-bit DLL carries a base relocation
// directory and can be loaded elsewhere than at its preferred base, as ovq.exe
// does for the same reason (src/platform/RelocationAnchor.cpp). Kept by the
// link (--require-defined), never read.
extern "C" const void* const EndCopyRelocationAnchor = reinterpret_cast<const void*>(&DllEntry);
#endif
