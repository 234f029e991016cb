// The three commands: -x ends the program, -s inverts the permit switch,
// -c clears it. Letters a to z compare case-insensitively, every other byte
// exactly; every other token is ignored.

#include "command/ExecuteCommand.h"

#include "UTypes.h"
#include "tray/TrayMenu.h"

// A command is exactly two bytes: a hyphen-minus and the command letter.
static bool IsCommandWord(const char* token, char upperLetter)
{
    if (token[0] != '-' || token[1] == '\0' || token[2] != '\0')
        return false;
    unsigned char letter = static_cast<unsigned char>(token[1]);
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<unsigned char>(letter - 32);
    return letter == static_cast<unsigned char>(upperLetter);
}

bool ExecuteCommand(const char* token)
{
    if (IsCommandWord(token, 'X')) {
        DestroyWindow(App.MainWindow);
        return true;
    }
    if (IsCommandWord(token, 'S'))
        TogglePermit();
    if (IsCommandWord(token, 'C'))
        SetMenuItemChecked(App.TrayMenu, IDM_PERMIT, false);
    return false;
}
