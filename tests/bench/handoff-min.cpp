// The hand-off of a second launch and nothing else: find the running copy's
// window by its class, send it the text "ovq -s" by WM_SETTEXT, exit with 1.
// ./bench.sh times it against `ovq.exe -s`, which does the same after its own
// start-up work (command line, single-copy mutex).

#include <windows.h>

extern "C" void ProgramEntry()
{
    HWND running = FindWindowA("TApp_TOOLScrBlock", nullptr);
    if (running != nullptr)
        SendMessageA(running, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ovq -s"));
    ExitProcess(1);
}
