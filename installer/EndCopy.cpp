// endcopy.dll: the package's custom actions for the copies of ovq that run
// while the package replaces or removes the program (ovq.wxs schedules them):
//
//   EndRunningCopies    deferred, before any file of the program is touched:
//                       ends every running copy, in every session, and keeps
//                       the list of those it ended (Copies.h);
//   StartEndedCopies    commit, once the run has succeeded: starts the
//                       installed ovq.exe again in each session where a copy
//                       was ended, as that session's user; after a removal,
//                       starts nothing;
//   RestoreEndedCopies  rollback, when the run fails or is cancelled after
//                       the copies were ended: Windows Installer has put the
//                       old files back, and each ended copy's own program file
//                       starts again in its session.
//
// Each is given its data in CustomActionData (set by the package): the run's
// product code, and for StartEndedCopies "|" and the installed ovq.exe, or
// "|" alone after a removal. None of them ever fails the installation: what
// each did, and what it could not do, is written to the log (msiexec /l*v).
//
// Like ovq.exe, it links no C runtime.

#include "EndCopy.h"

#include <msiquery.h>

#include "Copies.h"
#include "EndedCopies.h"
#include "InstallLog.h"
#include "platform/Memory.h"

namespace {

// The action's data: the product code, and what follows a "|" (or nothing).
struct ActionData {
    char product[64];
    char exe[MAX_PATH];
};

bool ReadActionData(MSIHANDLE install, ActionData* data)
{
    char text[sizeof(data->product) + MAX_PATH + 2];
    DWORD length = sizeof(text);
    if (MsiGetPropertyA(install, "CustomActionData", text, &length) != ERROR_SUCCESS || text[0] == '\0' ||
        text[0] == '|') {
        Say(install, "no product code in the action's data: the copies ended are not started again");
        return false;
    }
    const int productSize = sizeof(data->product);
    int bar = 0;
    while (text[bar] != '\0' && text[bar] != '|')
        ++bar;
    lstrcpynA(data->product, text, bar + 1 < productSize ? bar + 1 : productSize);
    data->exe[0] = '\0';
    if (text[bar] == '|')
        lstrcpynA(data->exe, text + bar + 1, MAX_PATH);
    return true;
}

// Whether an earlier copy of the list ran in the same session.
bool SessionSeen(const EndedCopy* copies, int index)
{
    for (int i = 0; i < index; ++i)
        if (copies[i].session == copies[index].session)
            return true;
    return false;
}

// The list of the run; false, and a line in the log, when it cannot be taken.
bool TakeList(MSIHANDLE install, const char* product, EndedCopy** copies, int* count)
{
    *count = TakeEndedCopies(product, copies);
    if (*count >= 0)
        return true;
    Say(install, "cannot read the list of the copies ended: none is started again");
    return false;
}

// The list of the run taken, and the program started in each of its sessions
// once: the installed exe (data.exe; none after a removal), or, after a
// rollback, each copy's own program file.
void StartAgain(MSIHANDLE install, bool fromOwnFiles)
{
    ActionData data;
    EndedCopy* copies = nullptr;
    int count = 0;
    if (!ReadActionData(install, &data) || !TakeList(install, data.product, &copies, &count))
        return;
    if (fromOwnFiles && count > 0)
        Say(install, "the run is rolled back: the copies ended start again from their own program files");
    for (int i = 0; i < count; ++i) {
        if (SessionSeen(copies, i))
            continue;
        const char* exe = fromOwnFiles ? copies[i].exe : data.exe;
        if (exe[0] != '\0')
            StartInSession(install, copies[i].session, exe);
        else if (fromOwnFiles)
            Say(install, "cannot start the copy of session %lu again: its program file was not known",
                copies[i].session);
        else
            Say(install, "the program is removed: nothing is started in session %lu, where a copy was ended",
                copies[i].session);
    }
    FreeMemory(copies);
}

}  // namespace

// Without its data the copies are ended all the same, since the files must be
// free; the list, which is kept under the product code, cannot be.
extern "C" UINT WINAPI EndRunningCopies(MSIHANDLE install)
{
    ActionData data;
    if (!ReadActionData(install, &data))
        data.product[0] = '\0';
    EndEveryCopy(install, data.product);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI StartEndedCopies(MSIHANDLE install)
{
    StartAgain(install, false);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI RestoreEndedCopies(MSIHANDLE install)
{
    StartAgain(install, true);
    return ERROR_SUCCESS;
}

// The DLL's entry point: nothing to set up or tear down.
extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

#ifdef _WIN64
// One absolute address, so that the 64-bit DLL carries a base relocation
// directory and can be loaded elsewhere than at its preferred base, as ovq.exe
// does for the same reason (src/platform/RelocationAnchor.cpp). Kept by the
// link (--require-defined), never read.
extern "C" const void* const EndCopyRelocationAnchor = reinterpret_cast<const void*>(&DllEntry);
#endif
