// ovq under load, driven and measured from outside. See Stress.h for the commands.

#include "Stress.h"
#include "ProbeOutput.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const UINT kSendTimeoutMs = 10000;
const DWORD kPollMs = 20;

unsigned long lastError() { return static_cast<unsigned long>(GetLastError()); }

// Every top-level window of ovq's class, shown or hidden, with its process.
struct AppWindows {
    std::vector<HWND> windows;
    std::vector<DWORD> pids;
};

BOOL CALLBACK collectAppWindow(HWND hwnd, LPARAM param) {
    if (className(hwnd) == kAppClass) {
        AppWindows* found = reinterpret_cast<AppWindows*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        found->windows.push_back(hwnd);
        found->pids.push_back(pid);
    }
    return TRUE;
}

AppWindows appWindows() {
    AppWindows found;
    EnumWindows(collectAppWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string joinNumbers(const std::vector<DWORD>& numbers) {
    std::string text;
    for (DWORD n : numbers) {
        if (!text.empty()) text += ',';
        text += std::to_string(n);
    }
    return text;
}

bool startProcess(const std::string& line, DWORD flags, HANDLE job, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!createProcess(line, flags, &startup, process)) {
        out("error=CreateProcessA failed (%lu)", lastError());
        return false;
    }
    if (job && !AssignProcessToJobObject(job, process->hProcess)) {
        out("error=AssignProcessToJobObject failed (%lu)", lastError());
        TerminateProcess(process->hProcess, 1);
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
        return false;
    }
    return true;
}

bool running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Waits for a process up to ms; its exit code, or STILL_ACTIVE.
DWORD exitCodeAfter(HANDLE process, DWORD ms) {
    WaitForSingleObject(process, ms);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

// The title of a window of another process (its ANSI bytes).
std::string windowTitle(HWND hwnd) {
    char buffer[512] = {};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

// Watches the system's last-input tick for up to ms and counts its advances,
// stopping early at `enough`. ovq resets the idle time every 900 ms while its
// permit switch is off and never while it is on, and nothing else here makes
// input, so an advance means the switch is off.
struct IdleWatch {
    unsigned advances = 0;
    DWORD elapsed = 0;
};

IdleWatch watchIdle(DWORD ms, unsigned enough) {
    IdleWatch watch;
    LASTINPUTINFO info = {sizeof info, 0};
    GetLastInputInfo(&info);
    DWORD previous = info.dwTime;
    DWORD start = GetTickCount();
    while (watch.advances < enough && GetTickCount() - start < ms) {
        Sleep(kPollMs);
        if (GetLastInputInfo(&info) && info.dwTime != previous) {
            ++watch.advances;
            previous = info.dwTime;
        }
    }
    watch.elapsed = GetTickCount() - start;
    return watch;
}

void reportIdle(const IdleWatch& watch) {
    out("idle_advances=%u", watch.advances);
    out("idle_watch_ms=%lu", static_cast<unsigned long>(watch.elapsed));
}

// A kill-on-close job: whatever still runs in it when the probe ends ends with it.
HANDLE killOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        out("error=no kill-on-close job (%lu)", lastError());
        if (job) CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Ends the copy that owns ovq's window with a launch of `exe -x` in the job;
// reports the exit codes of both (keys prefixed with `what`) and the windows left.
void endWithExitCommand(const std::string& exe, HANDLE resident, HANDLE job, DWORD ms, const char* what) {
    char* xArgs[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("-x")};
    PROCESS_INFORMATION ender = {};
    if (!startProcess(commandLine(2, xArgs), 0, job, &ender)) return;
    out("x_exit=%lu", static_cast<unsigned long>(exitCodeAfter(ender.hProcess, ms)));
    CloseHandle(ender.hThread);
    CloseHandle(ender.hProcess);
    out("%s_exit=%lu", what, static_cast<unsigned long>(exitCodeAfter(resident, ms)));
    out("windows_after=%u", static_cast<unsigned>(appWindows().windows.size()));
}

// ---- the notification area's helper icon ----

const char kHelperClass[] = "OvqProbeTrayHelper";
const UINT kHelperIconId = 1;

LRESULT CALLBACK helperProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A plain grey 16x16 icon: none of its pixels has a colour of ovq's icon, so
// the pixel counts of the tests do not see it.
HICON greyIcon() {
    BYTE andMask[16 * 16 / 8];
    BYTE xorBits[16 * 16 * 4];
    std::memset(andMask, 0, sizeof andMask);
    for (size_t i = 0; i < sizeof xorBits; i += 4) {
        xorBits[i] = 0x80;
        xorBits[i + 1] = 0x80;
        xorBits[i + 2] = 0x80;
        xorBits[i + 3] = 0xff;
    }
    return CreateIcon(GetModuleHandleA(nullptr), 16, 16, 1, 32, andMask, xorBits);
}

class HelperIcon {
public:
    bool add() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = helperProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kHelperClass;
        RegisterClassA(&wc);
        window_ = CreateWindowExA(WS_EX_TOOLWINDOW, kHelperClass, "ovq probe tray helper", WS_POPUP, 0, 0, 8, 8,
                                  nullptr, nullptr, wc.hInstance, nullptr);
        icon_ = greyIcon();
        if (!window_ || !icon_) return false;
        std::memset(&data_, 0, sizeof data_);
        data_.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data_.hWnd = window_;
        data_.uID = kHelperIconId;
        data_.uFlags = NIF_ICON | NIF_TIP;
        data_.hIcon = icon_;
        std::strcpy(data_.szTip, "ovq probe");
        added_ = Shell_NotifyIconA(NIM_ADD, &data_) != FALSE;
        return added_;
    }
    ~HelperIcon() {
        if (added_) Shell_NotifyIconA(NIM_DELETE, &data_);
        if (window_) DestroyWindow(window_);
        if (icon_) DestroyIcon(icon_);
    }

private:
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    NOTIFYICONDATAA data_;
    bool added_ = false;
};

// ---- hand-off texts ----

// Text number i: -c for even, -s for odd numbers, in one of five forms with
// noise words, quoted runs and empty quotes around it (the number itself is a
// noise word, so every title differs from the one before).
std::string handoffText(unsigned long i) {
    const char letter = i % 2 ? 's' : 'c';
    const std::string command = std::string("-") + letter;
    const std::string upper = std::string("-") + static_cast<char>(letter - 'a' + 'A');
    const std::string n = std::to_string(i);
    switch ((i / 2) % 5) {
    case 0: return "ovq n" + n + " \"" + command + "\" bar";
    case 1: return "ovq \"x y\" " + command + " \"\"z\"\"";
    case 2: return "ovq " + upper + " n" + n;
    case 3: return "ovq \"noise words\" \"" + command + "\" \"tail" + n + "\"";
    default: return "ovq n" + n + " \"\" " + command + " \"\"";
    }
}

// ---- handles of another process ----

// The system's handle list (NtQuerySystemInformation, class 16).
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};

struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};

typedef LONG(WINAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

// Counts the handles of each of the given processes in the system's list; false
// when the list cannot be read.
bool countListedHandles(const DWORD* pids, unsigned long* counts, size_t n) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    QuerySystemInformation query = ntdll ? reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
                                               GetProcAddress(ntdll, "NtQuerySystemInformation")))
                                         : nullptr;
    if (!query) return false;
    const LONG kLengthMismatch = static_cast<LONG>(0xC0000004L);
    std::vector<BYTE> buffer(1 << 16);
    LONG status;
    for (;;) {
        ULONG needed = 0;
        status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kLengthMismatch || buffer.size() >= (64u << 20)) break;
        buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
    }
    if (status < 0) {
        out("error=NtQuerySystemInformation failed (0x%08lx)", static_cast<unsigned long>(status));
        return false;
    }
    const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
    for (size_t k = 0; k < n; ++k)
        counts[k] = 0;
    for (ULONG i = 0; i < list->count; ++i) {
        for (size_t k = 0; k < n; ++k) {
            if (list->entries[i].ownerPid == pids[k]) ++counts[k];
        }
    }
    return true;
}

unsigned threadCount(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    unsigned count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace

int cmdRace(int argc, char** argv) {
    unsigned long count = 0, ms = 0, idleMs = 0;
    if (argc < 3 || !parseNumber(argv[0], &count) || !parseNumber(argv[1], &ms) || count < 1 || count > 64)
        return kUsage;
    argc -= 2;
    argv += 2;
    bool tag = false;
    for (; argc > 0 && argv[0][0] == '-' && argv[0][1] == '-'; --argc, ++argv) {
        if (std::strcmp(argv[0], "--tag") == 0) {
            tag = true;
        } else if (std::strcmp(argv[0], "--idle") == 0 && argc > 1 && parseNumber(argv[1], &idleMs)) {
            --argc;
            ++argv;
        } else {
            return kUsage;
        }
    }
    if (argc < 1) return kUsage;
    if (!appWindows().windows.empty()) {
        out("error=a window of ovq's class exists before the race");
        return kNo;
    }
    HANDLE job = killOnCloseJob();
    if (!job) return kNo;

    const std::string line = commandLine(argc, argv);
    std::vector<PROCESS_INFORMATION> copies;
    for (unsigned long i = 0; i < count; ++i) {
        PROCESS_INFORMATION process = {};
        const std::string copyLine = tag ? line + " copy" + std::to_string(i + 1) : line;
        if (!startProcess(copyLine, CREATE_SUSPENDED, job, &process)) break;
        copies.push_back(process);
    }
    if (copies.size() != count) {
        CloseHandle(job);
        return kNo;
    }
    // All created and waiting: now they race.
    DWORD start = GetTickCount();
    for (const PROCESS_INFORMATION& process : copies)
        ResumeThread(process.hThread);
    out("resumed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));

    // Until at most one runs on and that one shows its window (or the deadline).
    auto runningCount = [&] {
        unsigned n = 0;
        for (const PROCESS_INFORMATION& process : copies)
            n += running(process.hProcess) ? 1 : 0;
        return n;
    };
    bool settled = false;
    for (;;) {
        unsigned n = runningCount();
        if (n == 0) {
            settled = true;
            break;
        }
        if (n == 1) {
            AppWindows found = appWindows();
            for (const PROCESS_INFORMATION& process : copies) {
                for (DWORD pid : found.pids) {
                    if (pid == process.dwProcessId && running(process.hProcess)) settled = true;
                }
            }
            if (settled) break;
        }
        if (GetTickCount() - start >= ms) break;
        Sleep(kPollMs);
    }
    out("settled=%d", settled ? 1 : 0);
    out("settle_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));

    std::vector<DWORD> exits;
    unsigned exitedOne = 0, exitedOther = 0, stillRunning = 0;
    DWORD residentPid = 0;
    HANDLE resident = nullptr;
    for (const PROCESS_INFORMATION& process : copies) {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process.hProcess, &code);
        if (running(process.hProcess)) {
            ++stillRunning;
            residentPid = process.dwProcessId;
            resident = process.hProcess;
            exits.push_back(STILL_ACTIVE);
        } else {
            exits.push_back(code);
            ++(code == 1 ? exitedOne : exitedOther);
        }
    }
    AppWindows found = appWindows();
    out("exits=%s", joinNumbers(exits).c_str());
    out("exited_1=%u", exitedOne);
    out("exited_other=%u", exitedOther);
    out("running=%u", stillRunning);
    out("windows=%u", static_cast<unsigned>(found.windows.size()));
    out("window_pids=%s", joinNumbers(found.pids).c_str());
    out("resident_pid=%lu", static_cast<unsigned long>(residentPid));
    bool residentOwnsWindow = found.pids.size() == 1 && found.pids[0] == residentPid && residentPid != 0;
    out("resident_owns_window=%d", residentOwnsWindow ? 1 : 0);

    // What the resident copy shows after every hand-off: the title it got
    // last, and (with --idle) whether its permit switch is off.
    if (stillRunning == 1 && residentOwnsWindow) {
        // Its own arguments have run once it waits in its message loop.
        WaitForInputIdle(resident, ms);
        out("title=%s", windowTitle(found.windows[0]).c_str());
        if (idleMs) reportIdle(watchIdle(idleMs, 2));
        // A later launch with -x ends the resident copy.
        endWithExitCommand(argv[0], resident, job, ms, "resident");
    }
    unsigned left = runningCount();
    out("left_running=%u", left);
    for (const PROCESS_INFORMATION& process : copies) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(job);
    return kOk;
}

int cmdExitAndLaunch(int argc, char** argv) {
    unsigned long ms = 0, idleMs = 0, holdMs = 0;
    if (argc < 3 || !parseNumber(argv[0], &ms) || !parseNumber(argv[1], &idleMs)) return kUsage;
    argc -= 2;
    argv += 2;
    if (argc > 2 && std::strcmp(argv[0], "--hold") == 0) {
        if (!parseNumber(argv[1], &holdMs)) return kUsage;
        argc -= 2;
        argv += 2;
    }
    if (argc < 1) return kUsage;
    if (!appWindows().windows.empty()) {
        out("error=a window of ovq's class exists before the start");
        return kNo;
    }
    HANDLE job = killOnCloseJob();
    if (!job) return kNo;
    std::vector<PROCESS_INFORMATION> started;
    auto finish = [&](int code) {
        for (const PROCESS_INFORMATION& process : started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(job);
        return code;
    };

    // The running copy, with its window, in its message loop.
    PROCESS_INFORMATION first = {};
    if (!startProcess(commandLine(1, argv), 0, job, &first)) return finish(kNo);
    started.push_back(first);
    WaitForInputIdle(first.hProcess, ms);
    HWND window = FindWindowA(kAppClass, nullptr);
    out("first_window=%d", window ? 1 : 0);
    if (!window) return finish(kNo);

    // The launch, made and held before the -x, so that nothing but resuming it
    // lies between the -x taking effect and the launch.
    PROCESS_INFORMATION launch = {};
    if (!startProcess(commandLine(argc, argv), CREATE_SUSPENDED, job, &launch)) return finish(kNo);
    started.push_back(launch);
    // With --hold, the shell answers nothing for a while: the ending copy waits
    // in deleting its tray icon, without its window and holding the marker, as
    // a copy does whose shut-down is slow.
    HANDLE shell = nullptr;
    if (holdMs) {
        DWORD shellThread = GetWindowThreadProcessId(FindWindowA("Shell_TrayWnd", nullptr), nullptr);
        shell = shellThread ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, shellThread) : nullptr;
        if (!shell || SuspendThread(shell) == static_cast<DWORD>(-1)) {
            out("error=the shell's thread cannot be held (%lu)", lastError());
            if (shell) CloseHandle(shell);
            return finish(kNo);
        }
    }
    DWORD held = GetTickCount();
    char* xArgs[] = {argv[0], const_cast<char*>("-x")};
    PROCESS_INFORMATION ender = {};
    if (!startProcess(commandLine(2, xArgs), 0, job, &ender)) return finish(kNo);
    started.push_back(ender);
    // The running copy destroys its window while it handles the -x; the launch
    // goes the moment the window is gone.
    DWORD start = GetTickCount();
    while (IsWindow(window) && GetTickCount() - start < ms)
        Sleep(1);
    ResumeThread(launch.hThread);
    out("launched_after_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    start = GetTickCount();
    if (shell) {
        while (GetTickCount() - held < holdMs)
            Sleep(kPollMs);
        ResumeThread(shell);
        CloseHandle(shell);
    }
    DWORD firstExit = exitCodeAfter(first.hProcess, ms);
    out("first_ended_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    out("first_exit=%lu", static_cast<unsigned long>(firstExit));
    out("x_exit=%lu", static_cast<unsigned long>(exitCodeAfter(ender.hProcess, ms)));

    // Until the launch has ended or waits for input in its message loop.
    WaitForInputIdle(launch.hProcess, ms);
    AppWindows found = appWindows();
    bool launchRuns = running(launch.hProcess);
    out("launch_running=%d", launchRuns ? 1 : 0);
    if (!launchRuns) out("launch_ended_exit=%lu", static_cast<unsigned long>(exitCodeAfter(launch.hProcess, 0)));
    out("windows=%u", static_cast<unsigned>(found.windows.size()));
    bool launchOwnsWindow = found.pids.size() == 1 && found.pids[0] == launch.dwProcessId;
    out("launch_owns_window=%d", launchOwnsWindow ? 1 : 0);
    if (launchRuns && launchOwnsWindow) {
        out("title=%s", windowTitle(found.windows[0]).c_str());
        if (idleMs) reportIdle(watchIdle(idleMs, 2));
        endWithExitCommand(argv[0], launch.hProcess, job, ms, "launch");
    }
    return finish(kOk);
}

int cmdTaskbarStorm(int argc, char** argv) {
    unsigned long count = 0;
    if (argc < 1 || argc > 2 || !parseNumber(argv[0], &count)) return kUsage;
    if (argc == 2 && std::strcmp(argv[1], "--helper") != 0) return kUsage;
    const bool helper = argc == 2;
    UINT message = RegisterWindowMessageA("TaskbarCreated");
    HWND app = FindWindowA(kAppClass, nullptr);
    if (!message || !app) {
        out("found=%d", app ? 1 : 0);
        return kNo;
    }
    HelperIcon helperIcon;
    if (helper) {
        bool added = helperIcon.add();
        out("helper_icon=%d", added ? 1 : 0);
        if (!added) return kNo;
    }
    DWORD start = GetTickCount();
    unsigned long sent = 0;
    for (; sent < count; ++sent) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(app, message, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result)) break;
    }
    out("sent=%lu", sent);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    out("alive=%d", IsWindow(app) ? 1 : 0);
    return sent == count ? kOk : kNo;
}

int cmdSetTextSeries(int argc, char** argv) {
    unsigned long from = 0, to = 0;
    if (argc != 2 || !parseNumber(argv[0], &from) || !parseNumber(argv[1], &to) || to < from) return kUsage;
    HWND app = FindWindowA(kAppClass, nullptr);
    if (!app) {
        out("found=0");
        return kNo;
    }
    DWORD start = GetTickCount();
    unsigned long sent = 0;
    std::string last;
    for (unsigned long i = from; i < to; ++i) {
        last = handoffText(i);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(app, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(last.c_str()), SMTO_NORMAL,
                                 kSendTimeoutMs, &result)) {
            out("error=text %lu not delivered (%lu)", i, lastError());
            break;
        }
        ++sent;
    }
    out("sent=%lu", sent);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    if (sent) {
        out("last_text=%s", last.c_str());
        out("last_command=%s", (from + sent - 1) % 2 ? "s" : "c");
    }
    out("alive=%d", IsWindow(app) ? 1 : 0);
    return sent == to - from ? kOk : kNo;
}

int cmdProcUsage(int argc, char**) {
    if (argc != 0) return kUsage;
    HWND app = FindWindowA(kAppClass, nullptr);
    if (!app) {
        out("found=0");
        return kNo;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(app, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        out("error=OpenProcess failed (%lu)", lastError());
        return kNo;
    }
    out("pid=%lu", static_cast<unsigned long>(pid));
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    bool ok = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    if (ok) {
        out("private_usage=%lu", static_cast<unsigned long>(memory.PrivateUsage));
        out("pagefile_usage=%lu", static_cast<unsigned long>(memory.PagefileUsage));
        out("working_set=%lu", static_cast<unsigned long>(memory.WorkingSetSize));
        out("peak_pagefile_usage=%lu", static_cast<unsigned long>(memory.PeakPagefileUsage));
    } else {
        out("error=GetProcessMemoryInfo failed (%lu)", lastError());
    }
    DWORD apiHandles = 0, selfApiHandles = 0;
    GetProcessHandleCount(process, &apiHandles);
    GetProcessHandleCount(GetCurrentProcess(), &selfApiHandles);
    out("api_handles=%lu", static_cast<unsigned long>(apiHandles));
    const DWORD pids[2] = {pid, GetCurrentProcessId()};
    unsigned long listed[2] = {0, 0};
    bool listOk = countListedHandles(pids, listed, 2);
    if (listOk) out("handles=%lu", listed[0]);
    out("self_api_handles=%lu", static_cast<unsigned long>(selfApiHandles));
    // The list counts right when five more handles of the probe's own show up
    // there as five more.
    if (listOk) {
        HANDLE events[5];
        for (HANDLE& event : events)
            event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        unsigned long more = 0;
        listOk = countListedHandles(&pids[1], &more, 1);
        for (HANDLE event : events) {
            if (event) CloseHandle(event);
        }
        if (listOk) out("self_handles_delta_for_5=%ld", static_cast<long>(more - listed[1]));
    }
    out("threads=%u", threadCount(pid));
    CloseHandle(process);
    return ok && listOk ? kOk : kNo;
}
