// Where the Windows process starts. The program links no C runtime, so nothing
// runs before this: no start-up code, no static constructors (the program has
// none), no argument parsing. WinMain reads its command line and module handle
// itself and ends the process with ExitProcess; it never returns here.

#include <windows.h>

extern "C" void ProgramEntry()
{
    WinMain(nullptr, nullptr, nullptr, SW_SHOWDEFAULT);
}
