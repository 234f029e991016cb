// The lines the package's custom actions write into the installation's log.
#pragma once

#include <windows.h>
#include <msi.h>

// One line into the verbose log (msiexec /l*v): "ovq: " and the text that
// wsprintfA makes of format and its arguments (at most 1,024 characters).
void Say(MSIHANDLE install, const char* format, ...);
