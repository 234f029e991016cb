// The tray popup menu and the check-mark helpers.
//
// The permit switch has no variable of its own: it is the check mark of the
// menu item IDM_PERMIT, read and written only through the helpers below.

#include "tray/TrayMenu.h"

#include "Texts.h"
#include "UTypes.h"

void CreateTrayMenu()
{
    App.TrayMenu = CreatePopupMenu();
    AppendMenuA(App.TrayMenu, MF_STRING, IDM_PERMIT, TEXT_MENU_PERMIT);
    AppendMenuA(App.TrayMenu, MF_STRING, IDM_VERSION, TEXT_MENU_VERSION);
    AppendMenuA(App.TrayMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(App.TrayMenu, MF_STRING, IDM_EXIT, TEXT_MENU_EXIT);
}

void DestroyTrayMenu()
{
    DestroyMenu(App.TrayMenu);
}

// Opens the menu at the cursor; a choice arrives at owner as WM_COMMAND.
void ShowTrayMenu(HWND owner)
{
    POINT cursor = { 0, 0 };  // the screen's corner if the cursor cannot be read
    GetCursorPos(&cursor);
    TrackPopupMenu(App.TrayMenu, 0, cursor.x, cursor.y, 0, owner, nullptr);
}

// A missing item or menu gives 0xFFFFFFFF, which reads as checked.
bool IsMenuItemChecked(HMENU menu, UINT command)
{
    return (GetMenuState(menu, command, MF_BYCOMMAND) & MF_CHECKED) == MF_CHECKED;
}

void SetMenuItemChecked(HMENU menu, UINT command, bool checked)
{
    CheckMenuItem(menu, command, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void ToggleMenuItemCheck(HMENU menu, UINT command)
{
    SetMenuItemChecked(menu, command, !IsMenuItemChecked(menu, command));
}

void TogglePermit()
{
    ToggleMenuItemCheck(App.TrayMenu, IDM_PERMIT);
}
