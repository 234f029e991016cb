// Control of the simulated Windows layer from the host tests.
//
// The simulation is one process with one thread and a virtual clock. It records
// every Windows call the program makes, and every message it delivers to a
// window procedure, as one line of text in the order they happen:
//   SetTimer(hwnd1, 8345, 900, null) = 8345
//   > WindowProc(hwnd1, WM_TIMER, 8345, 0)
// Tests compare these lines with expected tables. Other processes (a second
// copy, the shell, a program posting a quit message) are played by scripted
// events that run at a virtual time while the program waits for messages.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace sim {

// ExitProcess throws this; RunProgram catches it and returns the code.
struct ProcessExit {
    UINT code;
};

// Thrown when the program would wait for a message that can never come.
struct Deadlock {
    std::string what;
};

// Forgets everything: windows, classes, mutexes, menus, the tray, timers, the
// queue, scripts, failures and the log. The clock starts at 0.
void Reset();

// The process command line that GetCommandLineA returns.
void SetCommandLine(const std::string& commandLine);

// Runs the program's WinMain with the process command line and returns the
// exit code.
inline UINT RunProgram(const std::string& commandLine)
{
    SetCommandLine(commandLine);
    try {
        WinMain(nullptr, nullptr, nullptr, 1);
    } catch (const ProcessExit& exit) {
        return exit.code;
    }
    throw Deadlock{ "WinMain returned instead of ending the process" };
}

// The log.
const std::vector<std::string>& Calls();
// Only the lines whose function (or "> WindowProc") is one of names.
std::vector<std::string> CallsOf(const std::vector<std::string>& names);
void ClearCalls();
// Whether calls are written to the log (from Reset on, they are). A run of
// millions of calls whose log nobody reads goes faster without it.
void RecordCalls(bool on);
// A byte string as it appears in the log: printable ASCII as it is, the
// double quote and backslash escaped, every other byte as \xNN.
std::string Quote(const std::string& bytes);
std::string MessageName(UINT message);

// The virtual clock, in milliseconds.
DWORD Now();
void AdvanceClock(DWORD ms);
// A waiting program never sleeps past this moment (default one virtual hour).
void SetTimeLimit(DWORD ms);
// What GetTickCount returns at virtual time 0 (default 0); a value just
// below 2^32 makes the system's tick count wrap during the run.
void SetTickCountAtStart(DWORD ticks);

// Scripted events of other programs, run when the clock reaches `at` while the
// program waits for a message (in its loop, a menu or a message box) or sleeps.
void At(DWORD at, std::function<void()> action);
// Another process sends a message to a window and waits for the result;
// the text, if any, is passed as a zero-terminated lParam.
LRESULT SendFromOutside(HWND window, UINT message, WPARAM wParam, const std::string* text);
LRESULT SendFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Whether the program runs as administrator while every other process runs
// normally. Elevated, a message from another process reaches the program's window only when the
// window let it through its filter (ChangeWindowMessageFilterEx), when it is
// the callback of the window's own tray icon, or when it is WM_NULL.
// From Reset on it runs normally, like the others.
void SetElevated(bool elevated);
// The messages a window of the program let through its filter.
std::set<UINT> AllowedMessages(HWND window);
// The shell ends and starts again: the icons it showed are gone, and it
// broadcasts "TaskbarCreated" to every top-level window.
void RestartShell();
// The shell's notification area at a busy log-on. Until `until` there is none
// yet: every Shell_NotifyIconA fails at once and does nothing. Or, from now
// until `until`, the shell is too busy to answer: a call waits for its answer
// ShellAnswerWaitMs at most (Windows' fixed wait), then reports failure, and
// the shell still carries the request out, in order with the others, once it
// is free; a call whose wait outlasts the busy time gets the real answer. The
// log marks a call that got no answer in time.
const DWORD ShellAnswerWaitMs = 4000;
void ShellAbsentUntil(DWORD until);
void ShellBusyUntil(DWORD until);

// Another process: a mutex it holds, and a top-level window it owns that
// records what is sent to it. A mutex exists while another process holds it
// or the program has a handle to it open; ReleaseForeignMutex is the other
// process closing its handle (or ending).
void CreateForeignMutex(const std::string& name);
void ReleaseForeignMutex(const std::string& name);
bool MutexExists(const std::string& name);
// The kernel handles the program holds open (its mutex handles).
size_t OpenHandles();
HWND CreateForeignWindow(const std::string& className);
struct ForeignMessage {
    UINT message;
    WPARAM wParam;
    std::string text;
};
const std::vector<ForeignMessage>& ForeignMessages(HWND window);

// Fault injection: the named call fails `times` times from now on, or every
// time until the clock reaches `until`. The name is the function's, except
// NIM_ADD and NIM_DELETE for the two uses of Shell_NotifyIconA, which fail as
// a request lost on its way to the shell: at once, and nothing happens. Each call
// fails the way Windows reports that it failed (a null handle, FALSE, -1 from
// GetMessageA, 0xFFFFFFFF from GetMenuState); calls without a result fail
// silently (mouse_event: the system drops the input; Sleep: it wakes at once).
void FailTimes(const std::string& call, int times);
// The n-th call from now (1: the next) and the times - 1 after it fail.
void FailNth(const std::string& call, int n, int times = 1);
void FailUntil(const std::string& call, DWORD until);
// Injected failures that have not happened yet.
int PendingFailures();
// The fault name of the call that a log line records, or "" for a line that
// is no call (a delivery to a window procedure).
std::string FaultNameOf(const std::string& line);
// Whether the simulation can make the named call fail. Those it cannot are
// the calls that cannot fail on Windows either: GetCommandLineA, GetLastError,
// GetTickCount, ExitProcess, PostQuitMessage, DefWindowProcA.
bool CanFail(const std::string& faultName);
bool NeverFails(const std::string& faultName);

// Windows of the program.
HWND MainWindowOf(const std::string& className);
bool WindowAlive(HWND window);
std::string WindowTitle(HWND window);
DWORD WindowStyle(HWND window);
DWORD WindowExStyle(HWND window);
size_t TimerCount();

// The execution state held by the thread (the last continuous request).
EXECUTION_STATE ContinuousState();
// The moments at which an input event reached the system.
const std::vector<DWORD>& InputEvents();

// Menus.
struct MenuItem {
    UINT flags;
    UINT_PTR id;
    bool hasText;
    std::string text;
    bool checked;
};
bool MenuExists(HMENU menu);
std::vector<MenuItem> MenuItems(HMENU menu);
size_t MenuCount();
// The next TrackPopupMenu keeps the menu open for `openMs` of virtual time,
// dispatching the thread's messages, then closes it with `command` (0: no choice).
void ScriptMenuChoice(UINT command, DWORD openMs = 0);
int MenusShown();

// The notification area: the icons it shows, by window and identifier.
struct TrayIcon {
    HWND window;
    UINT id;
    UINT flags;
    UINT callbackMessage;
    HICON icon;
    std::string tip;  // the 64 bytes of the tip, zero bytes included
};
std::vector<TrayIcon> TrayIcons();

// The next MessageBoxA stays open for `openMs` of virtual time, dispatching
// the thread's messages, then closes with OK.
void ScriptMessageBox(DWORD openMs);
int MessageBoxesShown();

// The process heap: blocks that HeapAlloc gave and HeapFree has not taken
// back, and how many HeapAlloc gave in all. The log names a block by its
// number in the order of allocation ("block1"). Reset frees what is left, as
// the end of a process does.
size_t LiveBlocks();
size_t BlocksAllocated();
// New blocks come filled with this pattern, repeated (by default with what
// malloc leaves), to show what a program would make of memory it never wrote.
void FillNewBlocks(const std::string& pattern);

// The icon handle that LoadIconA gives for "MAINICON".
HICON MainIcon();
// The cursor position that GetCursorPos reports.
void SetCursor(LONG x, LONG y);

}  // namespace sim
