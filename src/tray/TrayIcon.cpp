// The tray icon: added at start-up, retried on every tick until the shell
// accepts it, added anew when the shell re-creates its taskbar, deleted at
// shut-down. Every call passes the same record, filled once.

#include "tray/TrayIcon.h"

#include <stddef.h>

#include "Texts.h"
#include "UTypes.h"
#include "tray/TrayMenu.h"

// The shell knows this record by its size: the first version, up to the tip.
static_assert(sizeof(void*) != 4 || sizeof(IconDataV1) == NOTIFYICONDATAA_V1_SIZE,
              "the first-version icon record is 88 bytes");
static_assert(offsetof(IconDataV1, szTip) == offsetof(NOTIFYICONDATAA, szTip),
              "the first version is the start of the full record");

// The tip as one constant block: the text and its zero fill.
static const char TrayTip[sizeof(IconDataV1::szTip)] = TEXT_TRAY_TIP;

static NOTIFYICONDATAA* IconRecord()
{
    return reinterpret_cast<NOTIFYICONDATAA*>(&App.IconData);
}

void InitTrayIcon()
{
    App.TaskbarCreatedMsg = RegisterWindowMessageA("TaskbarCreated");

    ZeroMemory(&App.IconData, sizeof(App.IconData));
    App.IconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    App.IconData.uID = TRAY_ICON_ID;
    App.IconData.hWnd = App.MainWindow;
    App.IconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    App.IconData.uCallbackMessage = WM_TRAYNOTIFY;
    App.IconData.hIcon = App.WindowClass.hIcon;
    CopyMemory(App.IconData.szTip, TrayTip, sizeof(TrayTip));

    AddTrayIcon();
}

void AddTrayIcon()
{
    App.IconAdded = Shell_NotifyIconA(NIM_ADD, IconRecord()) != FALSE;
}

void ReAddTrayIcon()
{
    Shell_NotifyIconA(NIM_DELETE, IconRecord());
    AddTrayIcon();
}

void RetryTrayIcon()
{
    if (!App.IconAdded)
        AddTrayIcon();
}

void RemoveTrayIcon()
{
    Shell_NotifyIconA(NIM_DELETE, IconRecord());
}

// The menu opens when either mouse button is released over the icon.
void OnTrayNotify(HWND window, LPARAM lParam)
{
    if (lParam == WM_RBUTTONUP || lParam == WM_LBUTTONUP) {
        SetForegroundWindow(window);
        ShowTrayMenu(window);
    }
}
