// The version box of the tray menu.
#pragma once

// The program's name, version and command-line options, lines joined by CR.
const char* GetVersionText();

void ShowVersionBox();
