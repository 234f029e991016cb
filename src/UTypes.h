// The one process-wide record and the identifiers shared across the program.
#pragma once

#include <windows.h>
#include <shellapi.h>

enum : UINT {
    IDM_EXIT = 200,     // menu command: end the program
    IDM_VERSION = 201,  // menu command: show the version box
    IDM_PERMIT = 202,   // menu command and check item: the permit switch
};

enum : UINT_PTR { IDT_KEEPAWAKE = 8345 };
enum : UINT { KEEPAWAKE_PERIOD_MS = 900 };
enum : UINT { WM_TRAYNOTIFY = WM_USER + 100 };
enum : UINT { TRAY_ICON_ID = 13 };

// A second launch whose marker is held but which finds no window waits for it
// at most HANDOFF_WAIT_MS, looking every HANDOFF_POLL_MS. A starting copy has
// only its class and window to create after taking the marker: milliseconds
// on an idle machine, seconds when a loaded one starts many programs at once.
// A copy that is ending holds the marker without a window through its
// shut-down, whose slowest step, deleting the tray icon, waits for the shell.
// Five seconds cover both many times over, and are all that a launch loses
// when the name is held by something that never makes the window.
enum : DWORD { HANDOFF_WAIT_MS = 5000, HANDOFF_POLL_MS = 10 };

#define OVQ_WINDOW_CLASS "TApp_TOOLScrBlock"
#define OVQ_MUTEX_NAME "doaGD[da12_"
#define OVQ_ICON_NAME "MAINICON"
#define OVQ_SHORT_NAME "ovq"

// The first version of NOTIFYICONDATAA: everything up to and including the
// 64-byte tip. Older shells accept exactly this size.
struct IconDataV1 {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[64];
};

struct AppState {
    HWND MainWindow;
    WNDCLASSA WindowClass;
    char* CommandString;  // "ovq" and the arguments, each after one blank
    int ArgumentCount;
    HMENU TrayMenu;
    UINT TaskbarCreatedMsg;
    bool IconAdded;
    IconDataV1 IconData;
};

extern AppState App;
