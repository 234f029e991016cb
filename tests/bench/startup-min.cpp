// ovq's start-up work and nothing else, as a program that does it in the
// fewest lines: a marker mutex of its own name, the class with the icon
// "MAINICON", the hidden WS_POPUP window, the popup menu of ovq's three items
// and separator (the same code page 932 texts, res/Texts.h), UpdateWindow,
// "TaskbarCreated" registered and let through the message filter, the
// notification icon added with the same first-version record and tip, the
// continuous system-required state, the 900 ms timer, the message loop. It is
// linked with ovq's own resources (icon, version block, manifest), so Windows
// loads for it what it loads for ovq. ./bench.sh times its start-up beside
// ovq's: the difference is what ovq's own code costs (its command line, read
// into a heap block) over the work it cannot do without.
//
// Its class (OvqBenchStartup) and mutex name are not ovq's: it never takes a
// hand-off and never counts as a running ovq. It makes no tick, so its timer
// messages go to DefWindowProc.
//
// Its shut-down comes after the loop, in ovq's order, not in WM_DESTROY: the
// benchmark's start-up ends the moment the window is gone, and deleting the
// tray icon (which waits for the shell) inside WM_DESTROY would fall into that
// time, where in ovq it comes after.
//
// Size and imports: 8192 bytes (win32 preset) and 9216 bytes (win64), against
// ovq.exe's 10752 and 11776; 3.3 KiB of each is ovq's resources (icon, version
// block, manifest). It imports from KERNEL32, USER32 and SHELL32, as ovq.exe.

#include <windows.h>
#include <shellapi.h>

#include "Texts.h"
#include "UTypes.h"  // ovq's ids, timer period, icon name and first-version icon record

static const char ClassName[] = "OvqBenchStartup";

static LRESULT CALLBACK StartupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The record with its constant fields and the tip (its text and zero fill)
// filled in the image, since no C runtime is linked to copy them; ovq copies
// the same 64 bytes at run time. The window and the icon come at start-up.
static IconDataV1 IconData = {
    NOTIFYICONDATAA_V1_SIZE,           // cbSize
    nullptr,                           // hWnd, at start-up
    TRAY_ICON_ID,                      // uID
    NIF_MESSAGE | NIF_ICON | NIF_TIP,  // uFlags
    WM_TRAYNOTIFY,                     // uCallbackMessage
    nullptr,                           // hIcon, at start-up
    TEXT_TRAY_TIP,                     // szTip
};

// Static, so zero-filled without a call of memset.
static WNDCLASSA WindowClass;
static MSG LoopMessage;

// ChangeWindowMessageFilterEx is looked up, as ovq does (it came with Windows 7).
static void AllowMessage(HWND window, UINT message)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (message == 0 || user32 == nullptr)
        return;
    auto allow = reinterpret_cast<decltype(&ChangeWindowMessageFilterEx)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    if (allow != nullptr)
        allow(window, message, MSGFLT_ALLOW, nullptr);
}

extern "C" void ProgramEntry()
{
    CreateMutexA(nullptr, FALSE, "OvqBenchStartupMarker");

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WindowClass.style = CS_HREDRAW | CS_VREDRAW;
    WindowClass.lpfnWndProc = StartupWindowProc;
    WindowClass.hInstance = instance;
    WindowClass.hIcon = LoadIconA(instance, OVQ_ICON_NAME);
    WindowClass.lpszClassName = ClassName;
    if (RegisterClassA(&WindowClass) == 0)
        ExitProcess(1);
    HWND window =
        CreateWindowExA(0, ClassName, "startup-min", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        ExitProcess(1);

    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, IDM_PERMIT, TEXT_MENU_PERMIT);
    AppendMenuA(menu, MF_STRING, IDM_VERSION, TEXT_MENU_VERSION);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_EXIT, TEXT_MENU_EXIT);
    UpdateWindow(window);

    AllowMessage(window, RegisterWindowMessageA("TaskbarCreated"));
    IconData.hWnd = window;
    IconData.hIcon = WindowClass.hIcon;
    NOTIFYICONDATAA* record = reinterpret_cast<NOTIFYICONDATAA*>(&IconData);
    Shell_NotifyIconA(NIM_ADD, record);

    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    SetTimer(window, IDT_KEEPAWAKE, KEEPAWAKE_PERIOD_MS, nullptr);

    for (;;) {
        BOOL got = GetMessageA(&LoopMessage, nullptr, 0, 0);
        if (got == 0)
            break;
        if (got == -1)
            continue;
        TranslateMessage(&LoopMessage);
        DispatchMessageA(&LoopMessage);
    }

    KillTimer(window, IDT_KEEPAWAKE);
    SetThreadExecutionState(ES_CONTINUOUS);
    Shell_NotifyIconA(NIM_DELETE, record);
    DestroyMenu(menu);
    DestroyWindow(window);
    ExitProcess(static_cast<UINT>(LoopMessage.wParam));
}
