// The tray popup menu; the check mark of IDM_PERMIT is the permit switch.
#pragma once

#include <windows.h>

void CreateTrayMenu();
void DestroyTrayMenu();
void ShowTrayMenu(HWND owner);

// Check marks, always addressed by command identifier.
bool IsMenuItemChecked(HMENU menu, UINT command);
void SetMenuItemChecked(HMENU menu, UINT command, bool checked);
void ToggleMenuItemCheck(HMENU menu, UINT command);

// Inverts the permit switch.
void TogglePermit();
