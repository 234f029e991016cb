// The continuous system-required state for the whole run, and the 900 ms tick
// that keeps the display on and restarts the user-idle time while the permit
// switch is off.

#include "idle/KeepAwake.h"

#include "UTypes.h"
#include "tray/TrayMenu.h"

void BeginKeepAwake()
{
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    SetTimer(App.MainWindow, IDT_KEEPAWAKE, KEEPAWAKE_PERIOD_MS, nullptr);
}

void KeepAwakeTick()
{
    if (IsMenuItemChecked(App.TrayMenu, IDM_PERMIT))
        return;  // the screen saver is permitted
    // A one-off display reset; the continuous state stays as it was.
    SetThreadExecutionState(ES_DISPLAY_REQUIRED);
    // A relative move of zero distance: the cursor stays, the idle time restarts.
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
}

void EndKeepAwake()
{
    KillTimer(App.MainWindow, IDT_KEEPAWAKE);
    SetThreadExecutionState(ES_CONTINUOUS);
}
