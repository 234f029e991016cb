// A resident tick and nothing else: one hidden WS_POPUP window, a 900 ms timer,
// and on each tick the calls of ovq's tick: the permit switch read as the check
// mark of a menu item (GetMenuState), and while it is not checked the display
// kept on (SetThreadExecutionState) and the idle time restarted by a move of
// zero distance (mouse_event). Started as "tick-min.exe on", the item is
// checked, and a tick is the one read. ./bench.sh compares ovq's resident CPU
// time with it. WM_CLOSE ends it, as it ends ovq.

#include <windows.h>

enum : UINT { PermitItem = 202 };
enum : UINT_PTR { TickTimer = 1 };
enum : UINT { TickPeriodMs = 900 };  // ovq's KEEPAWAKE_PERIOD_MS

static HMENU SwitchMenu;

static void Tick()
{
    if ((GetMenuState(SwitchMenu, PermitItem, MF_BYCOMMAND) & MF_CHECKED) == MF_CHECKED)
        return;
    SetThreadExecutionState(ES_DISPLAY_REQUIRED);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
}

static LRESULT CALLBACK TickWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER: Tick(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Whether the command line ends with " on" (no C runtime to parse it).
static bool SwitchedOn()
{
    const char* text = GetCommandLineA();
    const char* end = text;
    while (*end != '\0')
        ++end;
    return end - text >= 3 && end[-3] == ' ' && end[-2] == 'o' && end[-1] == 'n';
}

// Static, so zero-filled without a call of memset (no C runtime is linked).
static WNDCLASSA WindowClass;
static MSG LoopMessage;

extern "C" void ProgramEntry()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    SwitchMenu = CreatePopupMenu();
    if (SwitchMenu == nullptr || !AppendMenuA(SwitchMenu, MF_STRING, PermitItem, "permit"))
        ExitProcess(1);
    if (SwitchedOn())
        CheckMenuItem(SwitchMenu, PermitItem, MF_BYCOMMAND | MF_CHECKED);
    WindowClass.lpfnWndProc = TickWindowProc;
    WindowClass.hInstance = instance;
    WindowClass.lpszClassName = "OvqBenchTick";
    if (RegisterClassA(&WindowClass) == 0)
        ExitProcess(1);
    HWND window =
        CreateWindowExA(0, "OvqBenchTick", "tick-min", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr || SetTimer(window, TickTimer, TickPeriodMs, nullptr) == 0)
        ExitProcess(1);
    while (GetMessageA(&LoopMessage, nullptr, 0, 0) > 0) {
        TranslateMessage(&LoopMessage);
        DispatchMessageA(&LoopMessage);
    }
    ExitProcess(static_cast<UINT>(LoopMessage.wParam));
}
