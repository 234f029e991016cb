// Measurements for ./bench.sh (see Measure.h).
//
// Under Wine 8 another process's PrivateUsage reads 0, so memory is read as
// PagefileUsage (the resident anonymous memory, which does move). CPU time is
// read by ./bench.sh itself, from Linux (/proc/<pid>/task/*/schedstat).

#include "Measure.h"

// GetProcessMemoryInfo from kernel32 (K32GetProcessMemoryInfo), no psapi.dll.
#define PSAPI_VERSION 2
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProbeOutput.h"

namespace {

const DWORD kWindowDeadlineMs = 20000;
const DWORD kExitDeadlineMs = 10000;

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// A started program: its process handle and id (the thread handle is closed).
struct Started {
    HANDLE process;
    DWORD pid;
};

bool Start(const std::string& commandLine, Started* started) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!createProcess(commandLine, 0, &startup, &info)) {
        out("error=cannot start %s (%lu)", commandLine.c_str(), static_cast<unsigned long>(GetLastError()));
        return false;
    }
    CloseHandle(info.hThread);
    started->process = info.hProcess;
    started->pid = info.dwProcessId;
    return true;
}

std::string Quoted(const char* exe) { return std::string("\"") + exe + "\""; }

// The window of the class that belongs to the process, or null.
HWND WindowOf(const char* windowClass, DWORD pid) {
    HWND window = FindWindowA(windowClass, nullptr);
    DWORD owner = 0;
    if (window) GetWindowThreadProcessId(window, &owner);
    return owner == pid ? window : nullptr;
}

// Polls every millisecond until the process has its window; false when the
// process ended first or the deadline passed.
bool WaitForWindow(const Started& started, const char* windowClass, HWND* window) {
    DWORD begin = GetTickCount();
    for (;;) {
        if ((*window = WindowOf(windowClass, started.pid)) != nullptr) return true;
        if (WaitForSingleObject(started.process, 1) == WAIT_OBJECT_0) {
            out("error=the program ended before its window (class %s) existed", windowClass);
            return false;
        }
        if (GetTickCount() - begin >= kWindowDeadlineMs) {
            out("error=no window of class %s within %lu ms", windowClass,
                static_cast<unsigned long>(kWindowDeadlineMs));
            return false;
        }
    }
}

// Closes a program by WM_CLOSE and waits for its end; a program that does not
// end is terminated, and that counts as a broken measurement.
bool Close(Started* started, HWND window) {
    bool closed =
        PostMessageA(window, WM_CLOSE, 0, 0) && WaitForSingleObject(started->process, kExitDeadlineMs) == WAIT_OBJECT_0;
    if (!closed) {
        out("error=process %lu did not end after WM_CLOSE; terminated", static_cast<unsigned long>(started->pid));
        TerminateProcess(started->process, 1);
        WaitForSingleObject(started->process, kExitDeadlineMs);
    }
    CloseHandle(started->process);
    started->process = nullptr;
    return closed;
}

// Waits until the shell's taskbar thread has handled what it was sent, e.g. the
// removal of the tray icon of a program that just ended, so that its work does
// not fall into the next program's timing.
void SettleShell() {
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    DWORD_PTR result = 0;
    if (taskbar) SendMessageTimeoutA(taskbar, WM_NULL, 0, 0, SMTO_NORMAL, kExitDeadlineMs, &result);
}

// The Linux processes whose work would fall into the next start's time: the
// shell (explorer), the X server and wineserver. Their run time is read as Linux
// keeps it, in nanoseconds per thread, through Wine's drive Z: (the Unix root).
struct Watched {
    std::vector<unsigned long> unixPids;
};

unsigned long long UnixRunNs(unsigned long unixPid) {
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "Z:\\proc\\%lu\\task\\*", unixPid);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    unsigned long long total = 0;
    do {
        if (entry.cFileName[0] == '.') continue;
        char path[128];
        std::snprintf(path, sizeof path, "Z:\\proc\\%lu\\task\\%s\\schedstat", unixPid, entry.cFileName);
        HANDLE file =
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        char text[128];
        DWORD got = 0;
        if (ReadFile(file, text, sizeof text - 1, &got, nullptr)) {
            text[got] = '\0';
            total += std::strtoull(text, nullptr, 10);  // the first field: time on a CPU
        }
        CloseHandle(file);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return total;
}

unsigned long long WatchedRunNs(const Watched& watched) {
    unsigned long long total = 0;
    for (unsigned long pid : watched.unixPids)
        total += UnixRunNs(pid);
    return total;
}

// Waits until the watched processes together have run less than 2 ms in 100 ms
// (2 % of one core; wineserver alone wakes every 16 ms to update the clock it
// shares, about 0.3 ms in 100 ms): what the previous program left them to do,
// such as the shell's work after its tray icon went, is done. Returns the milliseconds waited; quiet is false when
// they were still busy after kQuietDeadlineMs.
const DWORD kQuietSampleMs = 100;
const unsigned long long kQuietNs = 2000000;
const DWORD kQuietDeadlineMs = 5000;

double WaitQuiet(const Watched& watched, bool* quiet) {
    LARGE_INTEGER begin = Now();
    *quiet = true;
    if (watched.unixPids.empty()) return 0;
    DWORD start = GetTickCount();
    unsigned long long before = WatchedRunNs(watched);
    for (;;) {
        Sleep(kQuietSampleMs);
        unsigned long long after = WatchedRunNs(watched);
        if (after - before < kQuietNs) break;
        if (GetTickCount() - start >= kQuietDeadlineMs) {
            *quiet = false;
            break;
        }
        before = after;
    }
    return Milliseconds(begin, Now());
}

// One start, timed from the same two events for every program: from just before
// CreateProcess until its window exists, and until its message loop has taken a
// WM_CLOSE posted the moment the window appeared. A posted message is taken only
// by GetMessage, so the window goes when the program has done all its start-up
// and entered its loop; DefWindowProc then destroys it at once. Before the
// start, the shell, the X server and wineserver are let finish what the program
// before left them (WaitQuiet); how long that took and how much they ran during
// the start are kept with the times.
struct StartupTimes {
    double windowMs;
    double loopMs;
    double quietMs;
    bool quiet;
    double watchedCpuMs;
};

bool TimeStartup(const char* exe, const char* windowClass, const Watched& watched, StartupTimes* times) {
    SettleShell();
    times->quietMs = WaitQuiet(watched, &times->quiet);
    unsigned long long watchedBefore = WatchedRunNs(watched);
    Started started = {};
    LARGE_INTEGER begin = Now();
    if (!Start(Quoted(exe), &started)) return false;
    HWND window = nullptr;
    bool found = WaitForWindow(started, windowClass, &window);
    times->windowMs = Milliseconds(begin, Now());
    if (!found) {
        TerminateProcess(started.process, 1);
        CloseHandle(started.process);
        return false;
    }
    bool posted = PostMessageA(window, WM_CLOSE, 0, 0) != FALSE;
    // Polled as the window was; once the process has ended, its window is gone too.
    bool gone = false;
    while (posted && !gone && Milliseconds(begin, Now()) < kWindowDeadlineMs)
        gone = !IsWindow(window) || WaitForSingleObject(started.process, 1) == WAIT_OBJECT_0;
    times->loopMs = Milliseconds(begin, Now());
    times->watchedCpuMs = static_cast<double>(WatchedRunNs(watched) - watchedBefore) / 1e6;
    bool ended = gone && WaitForSingleObject(started.process, kExitDeadlineMs) == WAIT_OBJECT_0;
    if (!ended) {
        out("error=process %lu did not take the posted WM_CLOSE and end; terminated",
            static_cast<unsigned long>(started.pid));
        TerminateProcess(started.process, 1);
        WaitForSingleObject(started.process, kExitDeadlineMs);
    }
    CloseHandle(started.process);
    return ended;
}

bool NoWindowOf(const char* windowClass) {
    if (!FindWindowA(windowClass, nullptr)) return true;
    out("error=a window of class %s exists already", windowClass);
    return false;
}

// The hand-off of a second launch, timed from the same events for every
// launcher: from just before CreateProcess until the resident copy has the
// text (its title reads it), and until the launch's process has ended. Before
// each launch the resident is given a marker title, which holds no command word
// and so changes nothing else, and the shell, the X server and wineserver are
// let finish what that and the launch before left them (WaitQuiet).
const char kMarkerTitle[] = "ovq bench";
const char kHandedText[] = "ovq -s";

struct HandoffTimes {
    double textMs;
    double exitMs;
    DWORD exitCode;
    double quietMs;
    bool quiet;
    double watchedCpuMs;
};

// Whether the window's title reads text. For another process's window
// GetWindowTextA reads the title Windows stores, without a WM_GETTEXT: a look
// never waits for the resident copy nor queues work for it.
bool TitleIs(HWND window, const char* text) {
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    return std::strcmp(title, text) == 0;
}

bool TimeHandoff(const char* commandLine, HWND resident, const Watched& watched, HandoffTimes* times) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(resident, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kMarkerTitle), SMTO_NORMAL,
                             kExitDeadlineMs, &result) ||
        !TitleIs(resident, kMarkerTitle)) {
        out("error=the resident copy did not take the marker title");
        return false;
    }
    SettleShell();
    times->quietMs = WaitQuiet(watched, &times->quiet);
    unsigned long long watchedBefore = WatchedRunNs(watched);
    Started started = {};
    LARGE_INTEGER begin = Now();
    if (!Start(commandLine, &started)) return false;
    // Polled every millisecond, as a start-up is; once the text is there only
    // the end is left to wait for.
    bool handed = false, ended = false;
    while (!ended && Milliseconds(begin, Now()) < kExitDeadlineMs) {
        if (!handed && TitleIs(resident, kHandedText)) {
            handed = true;
            times->textMs = Milliseconds(begin, Now());
        }
        ended = WaitForSingleObject(started.process, handed ? kExitDeadlineMs : 1) == WAIT_OBJECT_0;
    }
    times->exitMs = Milliseconds(begin, Now());
    times->watchedCpuMs = static_cast<double>(WatchedRunNs(watched) - watchedBefore) / 1e6;
    // The title is set before the launch's send returns, so a launch that ended
    // before a look saw it handed the text over within the last millisecond.
    if (ended && !handed && TitleIs(resident, kHandedText)) {
        handed = true;
        times->textMs = times->exitMs;
    }
    if (!ended) {
        out("error=%s still runs after %lu ms; terminated", commandLine, static_cast<unsigned long>(kExitDeadlineMs));
        TerminateProcess(started.process, 1);
    } else if (!handed) {
        out("error=%s ended without handing \"%s\" to the resident copy", commandLine, kHandedText);
    }
    times->exitCode = 0;
    GetExitCodeProcess(started.process, &times->exitCode);
    CloseHandle(started.process);
    return ended && handed;
}

// The Unix processes named on the command line, each checked readable.
bool ReadWatched(int count, char** pids, Watched* watched) {
    for (int i = 0; i < count; ++i) {
        unsigned long pid = 0;
        if (!parseNumber(pids[i], &pid) || UnixRunNs(pid) == 0) {
            out("error=the run time of Unix process %s cannot be read", pids[i]);
            return false;
        }
        watched->unixPids.push_back(pid);
    }
    return true;
}

bool ReadMemory(HANDLE process, PROCESS_MEMORY_COUNTERS* counters) {
    *counters = PROCESS_MEMORY_COUNTERS{};
    counters->cb = sizeof *counters;
    if (GetProcessMemoryInfo(process, counters, sizeof *counters)) return true;
    out("error=GetProcessMemoryInfo failed (%lu)", static_cast<unsigned long>(GetLastError()));
    return false;
}

}  // namespace

int cmdBenchStartup(unsigned long pairs, const char* exeA, const char* classA, const char* exeB, const char* classB,
                    int watchedCount, char** watchedPids) {
    Watched watched;
    if (!ReadWatched(watchedCount, watchedPids, &watched)) return kNo;
    if (!NoWindowOf(classA) || !NoWindowOf(classB)) return kNo;
    // One pair first that is not counted: it reads both programs into the file
    // cache. The order alternates (A B, B A, ...), so neither program always
    // follows the other.
    for (unsigned long i = 0; i <= pairs; ++i) {
        StartupTimes a = {}, b = {};
        bool aFirst = i % 2 == 0;
        bool ok = aFirst ? TimeStartup(exeA, classA, watched, &a) && TimeStartup(exeB, classB, watched, &b)
                         : TimeStartup(exeB, classB, watched, &b) && TimeStartup(exeA, classA, watched, &a);
        if (!ok) return kNo;
        out("%s=%lu first=%s a_ms=%.3f b_ms=%.3f a_window_ms=%.3f b_window_ms=%.3f a_quiet_ms=%.0f b_quiet_ms=%.0f "
            "a_quiet=%d b_quiet=%d a_watched_cpu_ms=%.3f b_watched_cpu_ms=%.3f",
            i == 0 ? "warmup" : "pair", i, aFirst ? "a" : "b", a.loopMs, b.loopMs, a.windowMs, b.windowMs, a.quietMs,
            b.quietMs, a.quiet ? 1 : 0, b.quiet ? 1 : 0, a.watchedCpuMs, b.watchedCpuMs);
    }
    return kOk;
}

int cmdBenchHandoff(unsigned long pairs, const char* residentClass, const char* commandA, const char* commandB,
                    int watchedCount, char** watchedPids) {
    Watched watched;
    if (!ReadWatched(watchedCount, watchedPids, &watched)) return kNo;
    HWND resident = FindWindowA(residentClass, nullptr);
    if (!resident) {
        out("error=no resident window of class %s", residentClass);
        return kNo;
    }
    // One uncounted pair first and the order alternating, as in bench-startup.
    for (unsigned long i = 0; i <= pairs; ++i) {
        HandoffTimes a = {}, b = {};
        bool aFirst = i % 2 == 0;
        bool ok = aFirst ? TimeHandoff(commandA, resident, watched, &a) && TimeHandoff(commandB, resident, watched, &b)
                         : TimeHandoff(commandB, resident, watched, &b) && TimeHandoff(commandA, resident, watched, &a);
        if (!ok) return kNo;
        out("%s=%lu first=%s a_text_ms=%.3f b_text_ms=%.3f a_ms=%.3f b_ms=%.3f a_exit=%lu b_exit=%lu "
            "a_quiet_ms=%.0f b_quiet_ms=%.0f a_quiet=%d b_quiet=%d a_watched_cpu_ms=%.3f b_watched_cpu_ms=%.3f",
            i == 0 ? "warmup" : "pair", i, aFirst ? "a" : "b", a.textMs, b.textMs, a.exitMs, b.exitMs,
            static_cast<unsigned long>(a.exitCode), static_cast<unsigned long>(b.exitCode), a.quietMs, b.quietMs,
            a.quiet ? 1 : 0, b.quiet ? 1 : 0, a.watchedCpuMs, b.watchedCpuMs);
    }
    return kOk;
}

int cmdBenchMemory(unsigned long rounds, unsigned long ms, const char* exeA, const char* classA, const char* exeB,
                   const char* classB) {
    if (!NoWindowOf(classA) || !NoWindowOf(classB)) return kNo;
    for (unsigned long i = 0; i < rounds; ++i) {
        Started a = {}, b = {};
        HWND windowA = nullptr, windowB = nullptr;
        if (!Start(Quoted(exeA), &a)) return kNo;
        bool up = WaitForWindow(a, classA, &windowA) && Start(Quoted(exeB), &b) && WaitForWindow(b, classB, &windowB);
        PROCESS_MEMORY_COUNTERS memoryA = {}, memoryB = {};
        bool read = false;
        if (up) {
            Sleep(ms);  // the time the copies stay resident before they are read
            read = ReadMemory(a.process, &memoryA) && ReadMemory(b.process, &memoryB);
        }
        bool closed = true;
        if (windowA)
            closed = Close(&a, windowA) && closed;
        else if (a.process)
            TerminateProcess(a.process, 1);
        if (windowB)
            closed = Close(&b, windowB) && closed;
        else if (b.process)
            TerminateProcess(b.process, 1);
        if (!up || !read || !closed) return kNo;
        out("round=%lu a_pagefile=%lu a_workingset=%lu b_pagefile=%lu b_workingset=%lu", i,
            static_cast<unsigned long>(memoryA.PagefileUsage), static_cast<unsigned long>(memoryA.WorkingSetSize),
            static_cast<unsigned long>(memoryB.PagefileUsage), static_cast<unsigned long>(memoryB.WorkingSetSize));
    }
    return kOk;
}

int cmdBenchWait(const char* windowClass, unsigned long ms) {
    DWORD begin = GetTickCount();
    HWND window = nullptr;
    while ((window = FindWindowA(windowClass, nullptr)) == nullptr) {
        if (GetTickCount() - begin >= ms) {
            out("error=no window of class %s within %lu ms", windowClass, ms);
            return kNo;
        }
        Sleep(10);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    out("window=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    out("pid=%lu", static_cast<unsigned long>(pid));
    return kOk;
}

int cmdBenchClose(const char* windowClass) {
    HWND window = FindWindowA(windowClass, nullptr);
    if (!window) {
        out("error=no window of class %s", windowClass);
        return kNo;
    }
    if (!PostMessageA(window, WM_CLOSE, 0, 0)) {
        out("error=WM_CLOSE could not be posted (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    return kOk;
}
