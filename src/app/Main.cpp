// Process entry: single-instance test and hand-off, the hidden main window,
// start-up, the message loop and shut-down.

#include "UTypes.h"
#include "app/CommandLine.h"
#include "app/WindowProc.h"
#include "idle/KeepAwake.h"
#include "tray/TrayIcon.h"
#include "tray/TrayMenu.h"

AppState App;

// After the loop this holds the quit message, whose wParam is the exit code.
static MSG LoopMessage;

// A second copy whose marker holder has no window yet: a copy that is still
// starting, or one that is ending. Waits for the window, and returns it; or
// returns null when the marker has gone meanwhile and this launch has made it
// anew, which makes it the first copy, holding that handle for its run. Ends
// the process with 1 when no window has come by the deadline.
//
// The marker is held only for the moment of each look. The name lives as long
// as any handle to it is open: a launch that kept its handle while sleeping
// would keep the marker of an ended copy alive, and two such launches could
// keep it alive for each other for ever. A look whose CreateMutexA fails
// proves nothing and counts as held: only a marker made anew lets this launch
// run, so no failure can make a second resident copy. A handle that will not
// close keeps the name held; the launch then waits out the deadline.
//
// The thread owns no window, so nothing waits for it to take messages while
// it sleeps.
static HWND WaitForRunningWindow(HANDLE marker)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (marker != nullptr)
            CloseHandle(marker);
        // Unsigned: the difference stays right when the tick count wraps.
        if (GetTickCount() - start >= HANDOFF_WAIT_MS)
            ExitProcess(1);
        Sleep(HANDOFF_POLL_MS);
        marker = CreateMutexA(nullptr, FALSE, OVQ_MUTEX_NAME);
        if (marker != nullptr && GetLastError() != ERROR_ALREADY_EXISTS)
            return nullptr;
        HWND running = FindWindowA(OVQ_WINDOW_CLASS, nullptr);
        if (running != nullptr)
            return running;
    }
}

// A second copy: hand the command string to the running copy, then end with
// 1. Returns only when the running copy ended while this launch waited for
// its window: this launch is then the first copy and runs its own arguments.
// A plain second launch has nothing to deliver and ends at once.
static void ForwardToRunningInstance(HANDLE marker)
{
    if (App.ArgumentCount == 0)
        ExitProcess(1);
    HWND running = FindWindowA(OVQ_WINDOW_CLASS, nullptr);
    if (running == nullptr)
        running = WaitForRunningWindow(marker);
    if (running == nullptr)
        return;
    // Should the window go between the look and the send (another launch's
    // -x, or the Exit command), the text arrives nowhere and this launch still
    // ends with 1: the same end as had the text come just before that exit.
    SendMessageA(running, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(App.CommandString));
    ExitProcess(1);
}

static void CreateMainWindow()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);

    ZeroMemory(&App.WindowClass, sizeof(App.WindowClass));
    App.WindowClass.style = CS_HREDRAW | CS_VREDRAW;
    App.WindowClass.lpfnWndProc = WindowProc;
    App.WindowClass.hInstance = instance;
    App.WindowClass.hIcon = LoadIconA(instance, OVQ_ICON_NAME);
    App.WindowClass.lpszClassName = OVQ_WINDOW_CLASS;
    if (RegisterClassA(&App.WindowClass) == 0)
        ExitProcess(1);

    App.MainWindow =
        CreateWindowExA(0, OVQ_WINDOW_CLASS, OVQ_SHORT_NAME, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (App.MainWindow == nullptr)
        ExitProcess(1);
}

static void RunMessageLoop()
{
    for (;;) {
        BOOL got = GetMessageA(&LoopMessage, nullptr, 0, 0);
        if (got == 0)
            return;
        // -1: no message was taken, and the record still holds the last one,
        // which must not run a second time.
        if (got == -1)
            continue;
        TranslateMessage(&LoopMessage);
        DispatchMessageA(&LoopMessage);
    }
}

[[noreturn]] static void ShutDown()
{
    EndKeepAwake();
    RemoveTrayIcon();
    DestroyTrayMenu();
    DestroyWindow(App.MainWindow);
    // Windows exit codes are 32-bit: a posted quit code above 65535 is kept as it is.
    ExitProcess(static_cast<UINT>(LoopMessage.wParam));
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    BuildCommandString();

    // A second copy hands its arguments over and ends; it comes back only as
    // the first copy, when the running copy ended while it waited.
    HANDLE marker = CreateMutexA(nullptr, FALSE, OVQ_MUTEX_NAME);
    if (marker != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        ForwardToRunningInstance(marker);

    CreateMainWindow();
    CreateTrayMenu();
    UpdateWindow(App.MainWindow);
    InitTrayIcon();

    // The own arguments run now, inside this call, before the first tick.
    if (App.ArgumentCount > 0)
        SendMessageA(App.MainWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(App.CommandString));

    BeginKeepAwake();
    RunMessageLoop();
    ShutDown();
}
