// The copies of ovq that a run of the package ended, kept from the action
// that ends them to the one that starts the program again: in the registry,
// since each custom action may run in a process of its own.
#pragma once

#include <windows.h>

// One ended copy: the session it ran in and the program file it ran from
// ("" when it could not be read).
struct EndedCopy {
    DWORD session;
    char exe[MAX_PATH];
};

// Adds copies to the list of the run of product (its product code). Returns
// ERROR_SUCCESS, or the error that kept the list from being written.
LONG KeepEndedCopies(const char* product, const EndedCopy* copies, int count);

// The list of the run of product, taken out of the registry: the copies in
// the order they were kept, in a block that FreeMemory gives back. Returns
// their number (0 and a null block for none), or -1 when the list is there
// but cannot be read or taken out (it is then left where it is).
int TakeEndedCopies(const char* product, EndedCopy** copies);
