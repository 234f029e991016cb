// Routes every message of the main window to the code that owns it.

#include "app/WindowProc.h"

#include "UTypes.h"
#include "app/MessageHandlers.h"
#include "idle/KeepAwake.h"
#include "tray/TrayIcon.h"

// One route a line, aligned as a table.
// clang-format off
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:    PostQuitMessage(0); return 0;
    case WM_SETTEXT:    return OnSetText(window, wParam, lParam);
    case WM_COMMAND:    OnMenuCommand(wParam); return 0;
    case WM_TIMER:      KeepAwakeTick(); RetryTrayIcon(); return 0;
    case WM_TRAYNOTIFY: OnTrayNotify(window, lParam); return 0;
    }
    // The shell's number for "TaskbarCreated" is known only at run time.
    if (message == App.TaskbarCreatedMsg) { ReAddTrayIcon(); return 0; }
    return DefWindowProcA(window, message, wParam, lParam);
}
// clang-format on
