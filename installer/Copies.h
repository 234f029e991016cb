// The copies of ovq that run on the machine, in any session: ended through
// their own command line before the package touches the program's files, and
// the program started again in a session once the package is done.
#pragma once

#include <windows.h>
#include <msi.h>

// Ends every running copy of ovq (every process of an ovq.exe) and keeps the
// list of those that ended for the run of product (EndedCopies.h). Each copy
// is asked to end by its own ovq.exe -x, started in its session as its user;
// a copy that has not ended 30 seconds after it was asked, or that cannot be
// asked, is ended by the package: ovq keeps nothing between runs, and a copy
// left running would keep its file in use until the PC restarts. Returns
// once every copy has gone, or has been named in the log as left running.
void EndEveryCopy(MSIHANDLE install, const char* product);

// Starts exe in the session as the user signed in to it, with that user's
// environment, in exe's folder, on the session's interactive desktop; false
// (and a line in the log) when it cannot.
bool StartInSession(MSIHANDLE install, DWORD session, const char* exe);
