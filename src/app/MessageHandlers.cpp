// The WM_SETTEXT hand-off and the menu commands.

#include "app/MessageHandlers.h"

#include "UTypes.h"
#include "command/ParseCommandText.h"
#include "platform/AnsiText.h"
#include "platform/Memory.h"
#include "tray/TrayMenu.h"
#include "tray/VersionBox.h"

LRESULT OnSetText(HWND window, WPARAM wParam, LPARAM lParam)
{
    const char* text = reinterpret_cast<const char*>(lParam);
    WideText wide = AnsiToWide(text != nullptr ? text : "");
    if (wide.Units != nullptr)
        ParseCommandText(wide.Units, wide.Length);
    FreeMemory(wide.Units);

    // The title becomes the text as received, after its commands have run.
    return DefWindowProcA(window, WM_SETTEXT, wParam, lParam);
}

void OnMenuCommand(WPARAM wParam)
{
    if (HIWORD(wParam) != 0)
        return;
    switch (LOWORD(wParam)) {
    case IDM_EXIT:    PostQuitMessage(0); break;
    case IDM_VERSION: ShowVersionBox(); break;
    case IDM_PERMIT:  TogglePermit(); break;
    }
}
