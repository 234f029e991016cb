// The version box: name, version and the three command-line options.

#include "tray/VersionBox.h"

#include "Texts.h"
#include "UTypes.h"
#include "Version.h"

// Seven lines joined by a single CR, the third empty; no LF, no final CR.
// One line of the box a line.
// clang-format off
static const char VersionText[] =
    TEXT_VERSION_TITLE "\r"
    OVQ_SHORT_NAME " Ver:" OVQ_VERSION_TEXT "\r"
    "\r"
    TEXT_VERSION_OPTIONS "\r"
    TEXT_VERSION_OPTION_S "\r"
    TEXT_VERSION_OPTION_C "\r"
    TEXT_VERSION_OPTION_X;
// clang-format on

const char* GetVersionText()
{
    return VersionText;
}

void ShowVersionBox()
{
    MessageBoxA(App.MainWindow, GetVersionText(), TEXT_VERSION_CAPTION, MB_OK | MB_SETFOREGROUND);
}
