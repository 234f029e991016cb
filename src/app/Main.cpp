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

// A second copy: hand the command string to the running copy, then end.
[[noreturn]] static void ForwardToRunningInstance()
{
    if (App.ArgumentCount > 0) {
        HWND running = FindWindowA(OVQ_WINDOW_CLASS, nullptr);
        if (running != nullptr)
            SendMessageA(running, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(App.CommandString));
    }
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

    HANDLE marker = CreateMutexA(nullptr, FALSE, OVQ_MUTEX_NAME);
    if (marker != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        ForwardToRunningInstance();

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
