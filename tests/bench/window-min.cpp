// A resident window program and nothing else: one registered class, one hidden
// WS_POPUP window, the message loop. ./bench.sh compares ovq's start-up and
// memory with it. WM_CLOSE ends it, as it ends ovq.

#include <windows.h>

static LRESULT CALLBACK MinimalWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Static, so zero-filled without a call of memset (no C runtime is linked).
static WNDCLASSA WindowClass;
static MSG LoopMessage;

extern "C" void ProgramEntry()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WindowClass.lpfnWndProc = MinimalWindowProc;
    WindowClass.hInstance = instance;
    WindowClass.lpszClassName = "OvqBenchWindow";
    if (RegisterClassA(&WindowClass) == 0)
        ExitProcess(1);
    if (CreateWindowExA(0, "OvqBenchWindow", "window-min", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr) ==
        nullptr)
        ExitProcess(1);
    while (GetMessageA(&LoopMessage, nullptr, 0, 0) > 0) {
        TranslateMessage(&LoopMessage);
        DispatchMessageA(&LoopMessage);
    }
    ExitProcess(static_cast<UINT>(LoopMessage.wParam));
}
