// The tray icon: added at start-up, deleted and added again on every tick until
// the shell accepts it, added anew when the shell re-creates its taskbar (an
// announcement that even a copy started as administrator lets in), deleted at
// shut-down.
// Every call passes the same record, filled once.

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

// A copy started as administrator would never hear "TaskbarCreated": Windows
// drops messages from a less privileged process (the shell) to its window, and
// its icon would stay gone after the shell restarts. Only that one message is
// let through; the hand-off stays closed to less privileged senders. The
// function came with Windows 7, so it is looked up rather than imported, and
// where it is missing or fails nothing else changes. A number that was not
// registered names no message worth letting through.
static void AllowTaskbarCreated()
{
    if (App.TaskbarCreatedMsg == 0)
        return;
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (user32 == nullptr)
        return;
    // Through the one function type that converts to every other.
    auto allow = reinterpret_cast<decltype(&ChangeWindowMessageFilterEx)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    if (allow != nullptr)
        allow(App.MainWindow, App.TaskbarCreatedMsg, MSGFLT_ALLOW, nullptr);
}

void InitTrayIcon()
{
    App.TaskbarCreatedMsg = RegisterWindowMessageA("TaskbarCreated");
    AllowTaskbarCreated();

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

// A failed add may have landed after all: at a busy log-on the shell gives up
// waiting for the notification area after a few seconds and reports failure,
// and the notification area still shows the icon a moment later. An add alone
// would then be refused on every tick, since the shell holds that window's
// icon already. Deleting it first lets the add succeed; where no icon is
// shown, the delete fails at once and changes nothing.
void RetryTrayIcon()
{
    if (!App.IconAdded)
        ReAddTrayIcon();
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
