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
    // WM_SETTEXT carries the address of its text in lParam: the message
    // defines the cast, and no optimisation is lost on a pointer read once.
    const char* text = reinterpret_cast<const char*>(lParam);  // NOLINT(performance-no-int-to-ptr)
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
    // One command a line, aligned as a table.
    // clang-format off
    switch (LOWORD(wParam)) {
    case IDM_EXIT:    PostQuitMessage(0); break;
    case IDM_VERSION: ShowVersionBox(); break;
    case IDM_PERMIT:  TogglePermit(); break;
    }
    // clang-format on
}
