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

#include <string>

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

// Starts a program and returns the milliseconds until its window exists.
bool TimeStartup(const char* exe, const char* windowClass, double* ms) {
    SettleShell();
    Started started = {};
    LARGE_INTEGER begin = Now();
    if (!Start(Quoted(exe), &started)) return false;
    HWND window = nullptr;
    bool found = WaitForWindow(started, windowClass, &window);
    *ms = Milliseconds(begin, Now());
    if (!found) {
        TerminateProcess(started.process, 1);
        CloseHandle(started.process);
        return false;
    }
    return Close(&started, window);
}

bool NoWindowOf(const char* windowClass) {
    if (!FindWindowA(windowClass, nullptr)) return true;
    out("error=a window of class %s exists already", windowClass);
    return false;
}

// Starts a program and returns the milliseconds until it has ended.
bool TimeExit(const char* commandLine, double* ms, DWORD* code) {
    SettleShell();
    Started started = {};
    LARGE_INTEGER begin = Now();
    if (!Start(commandLine, &started)) return false;
    bool ended = WaitForSingleObject(started.process, kExitDeadlineMs) == WAIT_OBJECT_0;
    *ms = Milliseconds(begin, Now());
    if (!ended) {
        out("error=%s still runs after %lu ms; terminated", commandLine, static_cast<unsigned long>(kExitDeadlineMs));
        TerminateProcess(started.process, 1);
    }
    *code = 0;
    GetExitCodeProcess(started.process, code);
    CloseHandle(started.process);
    return ended;
}

bool ReadMemory(HANDLE process, PROCESS_MEMORY_COUNTERS* counters) {
    *counters = PROCESS_MEMORY_COUNTERS{};
    counters->cb = sizeof *counters;
    if (GetProcessMemoryInfo(process, counters, sizeof *counters)) return true;
    out("error=GetProcessMemoryInfo failed (%lu)", static_cast<unsigned long>(GetLastError()));
    return false;
}

}  // namespace

int cmdBenchStartup(unsigned long pairs, const char* exeA, const char* classA, const char* exeB, const char* classB) {
    if (!NoWindowOf(classA) || !NoWindowOf(classB)) return kNo;
    // One pair first that is not counted: it reads both programs into the file cache.
    for (unsigned long i = 0; i <= pairs; ++i) {
        double a = 0, b = 0;
        if (!TimeStartup(exeA, classA, &a) || !TimeStartup(exeB, classB, &b)) return kNo;
        out("%s=%lu a_ms=%.3f b_ms=%.3f", i == 0 ? "warmup" : "pair", i, a, b);
    }
    return kOk;
}

int cmdBenchExit(unsigned long pairs, const char* commandA, const char* commandB) {
    // One pair first that is not counted, as in bench-startup.
    for (unsigned long i = 0; i <= pairs; ++i) {
        double a = 0, b = 0;
        DWORD codeA = 0, codeB = 0;
        if (!TimeExit(commandA, &a, &codeA) || !TimeExit(commandB, &b, &codeB)) return kNo;
        out("%s=%lu a_ms=%.3f a_exit=%lu b_ms=%.3f b_exit=%lu", i == 0 ? "warmup" : "pair", i, a,
            static_cast<unsigned long>(codeA), b, static_cast<unsigned long>(codeB));
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
