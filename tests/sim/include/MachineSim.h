// Control of the simulated machine from the host tests of the installer's
// custom actions (installer/): the sessions and the users signed in to them,
// the processes in them (copies of ovq among them), their tokens, the files
// on disk, the machine's registry and the installation the actions run in.
//
// Like the program's simulated layer (WinSim.h) it has one thread and a
// virtual clock, records every call as one line of text, and can make each
// call fail the way Windows reports that it failed. Other processes move on
// only with the clock: a copy asked to end by its -x ends when the clock
// reaches the moment its shut-down takes.
//
// The copies behave as ovq does: one per session (the marker and the window
// are the session's), a launch with -x hands it over to the session's copy and
// exits 1, or, with no copy there, becomes the copy and ends at once with 0; a
// launch without arguments where a copy runs exits 1, and otherwise becomes
// the session's copy. A hand-over from a launch below the copy's level (a
// copy run as administrator) is refused on the way, as Windows refuses it.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace machine {

// Forgets everything: sessions, processes, files, registry, the installation,
// failures and the log. The clock starts at 0. The action runs as the system
// account in session 0, which has no user.
void Reset();

// The virtual clock, in milliseconds; what GetTickCount returns.
DWORD Now();
void AdvanceClock(DWORD ms);

// A session, and the user signed in to it ("" for none). A user who signs out
// leaves the session without a user's token.
void AddSession(DWORD session, const std::string& user);
void SignOut(DWORD session);

// Who the custom action runs as: the system account in session 0 (the
// package's deferred, commit and rollback actions), or a user in that user's
// session, who may neither start a process with another token
// (CreateProcessAsUser, WTSQueryUserToken), nor open another user's
// processes, nor write to HKLM.
void RunActionAsSystem();
void RunActionAsUser(const std::string& user, DWORD session);

// Files on disk; a folder exists while a file in it does.
void AddFile(const std::string& path);
void RemoveFile(const std::string& path);

// A running copy of ovq, as its user started it in the session.
struct CopySpec {
    DWORD session;
    std::string exe;
    bool elevated = false;       // started as administrator
    DWORD endMs = 50;            // from a -x handed over to the end of its process
    bool ignoresMinusX = false;  // hung: the hand-over never comes back
};
DWORD StartCopy(const CopySpec& spec);
// Another program, running in the session as its user.
DWORD StartOther(DWORD session, const std::string& exe);

struct Process {
    DWORD id;
    std::string exe;
    std::string commandLine;
    DWORD session;
    std::string user;
    bool elevated;
    bool copy;  // the session's running copy of ovq (while alive)
    bool alive;
    DWORD exitCode;
    DWORD startedAt;
    DWORD endedAt;
    DWORD startedBy;  // the process that started it; 0 for one set up by a test
    std::string directory;
    std::string desktop;  // "" when it took its starter's
    bool environment;     // started with an environment block of its own
};
std::vector<Process> Processes();
Process ProcessOf(DWORD id);
// The copies of ovq that run now.
std::vector<Process> RunningCopies();
// The custom action's own process.
DWORD ActionProcess();

// The machine's registry (HKLM): whether a key exists and is volatile, and
// the strings of a REG_MULTI_SZ value (empty when there is none).
bool KeyExists(const std::string& key);
bool KeyVolatile(const std::string& key);
std::vector<std::string> MultiString(const std::string& key, const std::string& value);
void SetMultiString(const std::string& key, const std::string& value, const std::vector<std::string>& strings);

// The installation the actions run in: their CustomActionData, and the
// lines they wrote into its log, in order.
MSIHANDLE Install();
void SetActionData(const std::string& data);
const std::vector<std::string>& InstallLog();

// The log of calls, and fault injection (see WinSim.h): the named call fails
// as Windows reports a failure, the n-th time from now and times - 1 after.
const std::vector<std::string>& Calls();
void ClearCalls();
void FailNth(const std::string& call, int n, int times = 1);
void FailTimes(const std::string& call, int times);
int PendingFailures();
std::string FaultNameOf(const std::string& line);
bool CanFail(const std::string& faultName);

// What the action holds: open handles (processes, threads, tokens, keys,
// snapshots, records), heap blocks and environment blocks.
size_t OpenHandles();
size_t LiveBlocks();
size_t EnvironmentBlocks();

}  // namespace machine
