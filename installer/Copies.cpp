// The package's custom actions run as the system account in session 0 (the
// deferred, commit and rollback ones, which do not impersonate): no window of
// a user's session is seen from there, and a process can be started in a
// user's session only with a token of that session. So the copies are found
// among the processes, by their program file's name, and each -x is started
// with the token of the copy it is meant for.

#include "Copies.h"

#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include "EndedCopies.h"
#include "InstallLog.h"

namespace {

// How long the copies of one batch have, together, to end once asked; and
// how long a copy the package ended has to be gone.
const DWORD kAskedDeadlineMs = 30000;
const DWORD kEndedDeadlineMs = 5000;
// The copies asked at once: a handful on a PC, one for each signed-in user on
// a terminal server, where they go in batches.
const int kBatch = 64;
// What ovq's own exit codes are not: the exit code of a copy the package ended.
const UINT kEndedByPackage = 0x0F0;

char kInteractiveDesktop[] = "winsta0\\default";

struct RunningCopy {
    DWORD process;
    HANDLE handle;
    bool sessionKnown;
    DWORD session;
    char exe[MAX_PATH];
    HANDLE launch;  // its ovq.exe -x, or null when it could not be asked
};

struct Batch {
    RunningCopy copies[kBatch];
    int count;
    EndedCopy ended[kBatch];
    int endedCount;
};

DWORD Remaining(DWORD start, DWORD deadline)
{
    DWORD spent = GetTickCount() - start;  // unsigned: right across the wrap
    return spent >= deadline ? 0 : deadline - spent;
}

DWORD OwnSession()
{
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0xFFFFFFFF;
}

// The start-up record of a process for session: the interactive desktop of
// that session, where its user's programs run. A process in the caller's own
// session takes the caller's desktop instead, the one its programs run on:
// the system account's actions run in session 0, where no user's copy runs,
// and a run in a user's own session (Wine's only one, whose desktop has
// another name) is on that user's desktop already.
// It is given no standard handles: the programs started are window programs,
// and a handle of the installation's own (Wine passes a caller's on) would
// stay open in them for as long as they run.
void StartupFor(DWORD session, STARTUPINFOA* startup)
{
    ZeroMemory(startup, sizeof(*startup));
    startup->cb = sizeof(*startup);
    startup->dwFlags = STARTF_USESTDHANDLES;
    if (session != OwnSession())
        startup->lpDesktop = kInteractiveDesktop;
}

// The copy in process id, opened to be waited for and ended, with its program
// file and session; false, and a line in the log, when it cannot be opened.
bool OpenCopy(MSIHANDLE install, DWORD id, RunningCopy* copy)
{
    ZeroMemory(copy, sizeof(*copy));
    copy->process = id;
    copy->handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
    if (copy->handle == nullptr) {
        Say(install, "cannot open the copy in process %lu (error %lu): it is left running", id, GetLastError());
        return false;
    }
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameA(copy->handle, 0, copy->exe, &length))
        copy->exe[0] = '\0';
    copy->sessionKnown = ProcessIdToSessionId(id, &copy->session) != FALSE;
    return true;
}

// Asks the copy to end: its own program file with -x, started with the
// copy's own token, so in its session, as its user and at its level (a launch
// below the copy's level could not hand its -x over). Without the right to
// start a process with another token (a run that is not the system
// account's), a copy in the caller's own session is asked from there.
void AskToEnd(MSIHANDLE install, RunningCopy* copy, DWORD ownSession)
{
    if (copy->exe[0] == '\0') {
        Say(install, "cannot read the program file of the copy in process %lu", copy->process);
        return;
    }
    char command[MAX_PATH + 8];
    wsprintfA(command, "\"%s\" -x", copy->exe);
    STARTUPINFOA startup;
    StartupFor(copy->session, &startup);
    PROCESS_INFORMATION launched;
    BOOL started = FALSE;
    HANDLE token = nullptr;
    if (OpenProcessToken(copy->handle, TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &token)) {
        HANDLE primary = nullptr;
        if (DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
            started = CreateProcessAsUserA(primary, copy->exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                           &startup, &launched);
            CloseHandle(primary);
        }
        CloseHandle(token);
    }
    if (!started && copy->sessionKnown && copy->session == ownSession)
        started = CreateProcessA(copy->exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &launched);
    if (!started) {
        Say(install, "cannot start %s in session %lu for the copy in process %lu (error %lu)", command, copy->session,
            copy->process, GetLastError());
        return;
    }
    CloseHandle(launched.hThread);
    copy->launch = launched.hProcess;
}

// The copy's program file for the log.
const char* FileOf(const RunningCopy* copy)
{
    return copy->exe[0] != '\0' ? copy->exe : "its program file unknown";
}

// Waits for an asked copy until the batch's deadline, and ends it when it is
// still there (or was never asked). An ended copy joins the batch's list.
void SeeEnded(MSIHANDLE install, Batch* batch, RunningCopy* copy, DWORD asked)
{
    bool ended = copy->launch != nullptr &&
                 WaitForSingleObject(copy->handle, Remaining(asked, kAskedDeadlineMs)) == WAIT_OBJECT_0;
    if (ended) {
        DWORD copyExit = STILL_ACTIVE;
        if (!GetExitCodeProcess(copy->handle, &copyExit))
            copyExit = STILL_ACTIVE;
        DWORD waited = GetTickCount() - asked;
        // The -x hands over and exits before the copy has finished its shut-down.
        DWORD launchExit = STILL_ACTIVE;
        if (WaitForSingleObject(copy->launch, kEndedDeadlineMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(copy->launch, &launchExit))
            launchExit = STILL_ACTIVE;
        Say(install,
            "the copy in session %lu (process %lu, %s) ended with exit code %lu, %lu ms after its own -x (which exited "
            "with %lu)",
            copy->session, copy->process, FileOf(copy), copyExit, waited, launchExit);
    } else {
        // TerminateProcess returns before the process has gone; a wait that
        // fails then tells nothing more, and the process goes all the same.
        bool terminated = TerminateProcess(copy->handle, kEndedByPackage) != FALSE;
        DWORD error = terminated ? ERROR_SUCCESS : GetLastError();
        ended = terminated;
        if (!terminated)
            Say(install, "the copy in session %lu (process %lu, %s) could not be ended (error %lu): it is left running",
                copy->session, copy->process, FileOf(copy), error);
        else if (WaitForSingleObject(copy->handle, kEndedDeadlineMs) != WAIT_TIMEOUT)
            Say(install, "the copy in session %lu (process %lu, %s) %s: the package ended it", copy->session,
                copy->process, FileOf(copy),
                copy->launch != nullptr ? "did not end within 30 s of its -x" : "was not asked");
        else
            Say(install,
                "the copy in session %lu (process %lu, %s) was ended by the package, but has not gone 5 s later",
                copy->session, copy->process, FileOf(copy));
    }
    if (copy->launch != nullptr)
        CloseHandle(copy->launch);
    CloseHandle(copy->handle);
    if (ended && copy->sessionKnown) {
        EndedCopy* entry = &batch->ended[batch->endedCount++];
        entry->session = copy->session;
        lstrcpynA(entry->exe, copy->exe, MAX_PATH);
    } else if (ended) {
        Say(install, "the session of the copy in process %lu is not known: the program is not started there again",
            copy->process);
    }
}

// Asks every copy of the batch, then sees each ended, then keeps the list.
void EndBatch(MSIHANDLE install, const char* product, Batch* batch, DWORD ownSession)
{
    DWORD asked = GetTickCount();
    for (int i = 0; i < batch->count; ++i)
        AskToEnd(install, &batch->copies[i], ownSession);
    batch->endedCount = 0;
    for (int i = 0; i < batch->count; ++i)
        SeeEnded(install, batch, &batch->copies[i], asked);
    LONG error = product[0] != '\0' ? KeepEndedCopies(product, batch->ended, batch->endedCount) : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        Say(install,
            "cannot keep the list of the %d copies ended (error %ld): the program is not started again in "
            "their sessions",
            batch->endedCount, error);
    batch->count = 0;
}

}  // namespace

void EndEveryCopy(MSIHANDLE install, const char* product)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        Say(install, "cannot list the running processes (error %lu): any copy of ovq is left running", GetLastError());
        return;
    }
    // Static: the batch is large, and the action runs once in its process.
    static Batch batch;
    batch.count = 0;
    DWORD ownSession = OwnSession();
    DWORD self = GetCurrentProcessId();
    int found = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, "ovq.exe") != 0 || entry.th32ProcessID == self)
            continue;
        ++found;
        if (OpenCopy(install, entry.th32ProcessID, &batch.copies[batch.count]) && ++batch.count == kBatch)
            EndBatch(install, product, &batch, ownSession);
    }
    // The list ends with ERROR_NO_MORE_FILES; anything else cut it short.
    DWORD listed = GetLastError();
    if (listed != ERROR_NO_MORE_FILES)
        Say(install, "the list of the running processes ended early (error %lu): a copy not on it is left running",
            listed);
    CloseHandle(snapshot);
    if (batch.count > 0)
        EndBatch(install, product, &batch, ownSession);
    if (found == 0)
        Say(install, "no copy of ovq runs");
}

bool StartInSession(MSIHANDLE install, DWORD session, const char* exe)
{
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) {
        Say(install, "cannot start %s in session %lu: no user's token for it (error %lu)", exe, session,
            GetLastError());
        return false;
    }
    // The user's own environment; without it, the program still runs.
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, token, FALSE))
        environment = nullptr;
    char folder[MAX_PATH];
    lstrcpynA(folder, exe, MAX_PATH);
    for (int i = lstrlenA(folder); i > 0; --i) {
        if (folder[i - 1] == '\\') {
            folder[i - 1] = '\0';
            break;
        }
    }
    char command[MAX_PATH + 3];
    wsprintfA(command, "\"%s\"", exe);
    STARTUPINFOA startup;
    StartupFor(session, &startup);
    PROCESS_INFORMATION started;
    bool ok = CreateProcessAsUserA(token, exe, command, nullptr, nullptr, FALSE,
                                   environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0, environment, folder,
                                   &startup, &started) != FALSE;
    if (ok) {
        Say(install, "started %s in session %lu as its user (process %lu)", exe, session, started.dwProcessId);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    } else {
        Say(install, "cannot start %s in session %lu (error %lu)", exe, session, GetLastError());
    }
    if (environment != nullptr)
        DestroyEnvironmentBlock(environment);
    CloseHandle(token);
    return ok;
}
