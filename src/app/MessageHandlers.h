// Handlers of the main window's own messages that need more than one call.
#pragma once

#include <windows.h>

// A command text arrived as the window's title: run it, then store it.
LRESULT OnSetText(HWND window, WPARAM wParam, LPARAM lParam);

// A choice from the tray menu.
void OnMenuCommand(WPARAM wParam);
