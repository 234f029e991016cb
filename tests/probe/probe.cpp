// probe: looks at a running ovq from outside, the way another Windows program would.
//
// The Wine tests and run.sh drive it as `wine probe.exe <command> [arguments]`.
// Every command prints its findings on stdout as key=value lines and exits with
//   0  the condition holds / the action was done,
//   1  it does not hold / the target was not found before the deadline,
//   2  wrong usage.
// The first line, probe=<command>, comes before the command does anything, and
// the last, end=<exit code>, after it has done all: a script that reads no first
// line knows the probe never ran (Wine did not start it), and one that reads no
// last line that it ended in the middle.
// Texts read from windows are printed in UTF-8 (key=...) and as the raw ANSI
// bytes in hex (key_hex=...), so scripts can compare either form.
//
// Commands (ms = a deadline or duration in milliseconds):
//   wait-window <ms>          poll for ovq's window until found
//   wait-gone <ms>            poll until ovq's window is gone
//   wait-started <ms> <NAME=VALUE> [args...]  poll until the copy whose environment
//                             holds NAME=VALUE waits for input with the title its
//                             own arguments give once they have run (Started.h)
//   window-info               class, title, style, ex-style, visibility, thread,
//                             and the bits (32 or 64) of the process it belongs to
//   title                     the window title
//   wait-title <text> <ms>    poll until the title equals text
//   settext <text>            SendMessage WM_SETTEXT across processes
//   settext-hex <hex>         the same with the text given as hex bytes
//   close [--post]            WM_CLOSE (sent, or posted with --post)
//   post-quit <n> [--thread|--window|--both]   WM_QUIT with wParam n
//   terminate [code]          TerminateProcess on the window's process
//   mutex-exists              whether the single-copy mutex exists
//   hold-mutex <ms> [--until-looked]  create the mutex, print "ready", hold it for
//                             ms, or only until another process has opened it (a
//                             launch looking at it; looked=1), at most ms
//   idle-watch <ms> [--until <n>]  watch GetLastInputInfo advance over ms, or
//                             only until it has advanced n times
//   run <exe> [args...]       start a program, wait, print its full exit code
//   keeper                    own a small window until stop-keeper
//   stop-keeper               end a running keeper
//   traynotify <lParam>       post the tray callback message to ovq's window
//   wait-menu <ms>            poll for a visible popup menu ("#32768")
//   wait-menu-gone <ms>       poll until no popup menu is visible
//   menu-key <vk>             post WM_KEYDOWN/WM_KEYUP to the popup menu
//   menu-char <c>             post WM_CHAR to the popup menu
//   wait-class <class> <ms>   poll for a visible top-level window of that class
//                             (e.g. "#32770", the version message box)
//   wait-class-gone <class> <ms>  poll until no visible window of that class is left
//   close-class <class>       WM_CLOSE to the visible window of that class
//   list-windows              every top-level window (class, title, style)
//   tray-info                 the taskbar ("Shell_TrayWnd"): rect, children, and the
//                             visible notification-area icon windows, rightmost first
//   tray-holds <class> <id> <ms>  poll until the notification area holds the icon
//                             <id> of the window of that class (0 ms: ask once)
//   taskbar-created [--broadcast]  send "TaskbarCreated" to ovq's window (or to all)
//   tray-proxy <lost> <quiet-ms> <ms>   answer Shell_NotifyIcon in the shell's place,
//                             the first <lost> of ovq's requests with failure (TrayProxy.h)
//   post-command <id>         post WM_COMMAND id to ovq's window
//   box-text <ms> [caption]   poll for the version box ("#32770" captioned
//                             "バージョン情報"), or for the message box of that
//                             caption; its rect, caption, message text, buttons
//                             (id, rect, text)
//   box-click <id>            BM_CLICK on the version box's button with that id
//   wait-box-gone <ms>        poll until no version box is left
//   version-info <exe>        the version block (fixed part, strings, translation,
//                             key order) and the languages and sizes of the
//                             version and icon resources of exe
//   inject-settext-size <bytes> [tail]   a generated text of that size, sent with
//                             WM_SETTEXT from inside ovq's process (Inject.cpp)
//   inject-settext-null       WM_SETTEXT with a null lParam, from inside ovq's process
//   inject-load <dll>         LoadLibraryA(dll) inside ovq's process (holdexit.dll)
//   inside-info               ovq's ANSI and OEM code pages, asked inside its process
//   menu-texts                the open tray menu's item texts, as UTF-16, read inside
//                             ovq's process
//   shortcut-info <file.lnk>  a shortcut as the shell reads it: target, arguments,
//                             working directory, icon, description (Shortcut.h)
//   bench-startup, bench-handoff, bench-memory, bench-wait, bench-close
//                             measurements for ./bench.sh (Measure.h)

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Inject.h"
#include "Measure.h"
#include "ProbeOutput.h"
#include "Shortcut.h"
#include "Started.h"
#include "Stress.h"
#include "TrayProxy.h"

namespace {

const char kMutexName[] = "doaGD[da12_";
const char kMenuClass[] = "#32768";
const char kKeeperClass[] = "OvqProbeKeeper";
const UINT kTrayCallback = WM_USER + 100;
const WPARAM kTrayIconId = 13;
const DWORD kPollMs = 20;
const UINT kSendTimeoutMs = 10000;

bool parseMs(const char* text, DWORD* ms) {
    unsigned long value = 0;
    if (!parseNumber(text, &value)) return false;
    *ms = static_cast<DWORD>(value);
    return true;
}

bool fromHex(const char* hex, std::string* bytes) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    bytes->clear();
    size_t n = std::strlen(hex);
    if (n % 2) return false;
    for (size_t i = 0; i < n; i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

HWND findApp() { return FindWindowA(kAppClass, nullptr); }

HWND findAppOrReport() {
    HWND hwnd = findApp();
    if (!hwnd) out("found=0");
    return hwnd;
}

// Polls `test` until it returns true or `ms` have passed; true when it held.
template <typename Test>
bool pollUntil(DWORD ms, Test test) {
    DWORD start = GetTickCount();
    for (;;) {
        if (test()) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(kPollMs);
    }
}

BOOL CALLBACK collectVisibleMenu(HWND hwnd, LPARAM param) {
    if (IsWindowVisible(hwnd) && className(hwnd) == kMenuClass) {
        *reinterpret_cast<HWND*>(param) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND findVisibleMenu() {
    HWND found = nullptr;
    EnumWindows(collectVisibleMenu, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct ClassSearch {
    const char* wanted;
    HWND found;
};

BOOL CALLBACK collectVisibleOfClass(HWND hwnd, LPARAM param) {
    ClassSearch* search = reinterpret_cast<ClassSearch*>(param);
    if (IsWindowVisible(hwnd) && className(hwnd) == search->wanted) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND findVisibleOfClass(const char* wanted) {
    ClassSearch search = {wanted, nullptr};
    EnumWindows(collectVisibleOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ---- commands ----

int cmdWaitWindow(DWORD ms) {
    DWORD start = GetTickCount();
    HWND hwnd = nullptr;
    bool found = pollUntil(ms, [&] { return (hwnd = findApp()) != nullptr; });
    out("found=%d", found ? 1 : 0);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    if (found) out("hwnd=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    return found ? kOk : kNo;
}

int cmdWaitGone(DWORD ms) {
    DWORD start = GetTickCount();
    bool gone = pollUntil(ms, [] { return findApp() == nullptr; });
    out("gone=%d", gone ? 1 : 0);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    return gone ? kOk : kNo;
}

// 32 or 64: the machine the process runs as (a 32-bit process on 64-bit Windows
// runs under WOW64); 0 when the process cannot be asked. A process not under
// WOW64 is 64-bit on a 64-bit Windows, which a 32-bit probe knows by running
// under WOW64 itself.
int processBits(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return 0;
    BOOL wow64 = FALSE, probeWow64 = FALSE;
    BOOL asked = IsWow64Process(process, &wow64) && IsWow64Process(GetCurrentProcess(), &probeWow64);
    CloseHandle(process);
    if (!asked) return 0;
    bool windows64 = sizeof(void*) == 8 || probeWow64;
    return wow64 || !windows64 ? 32 : 64;
}

int cmdWindowInfo() {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    out("found=1");
    out("hwnd=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    printText("class", className(hwnd));
    printText("title", windowText(hwnd));
    out("style=0x%08lx", static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)));
    out("exstyle=0x%08lx", static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_EXSTYLE)));
    out("visible=%d", IsWindowVisible(hwnd) ? 1 : 0);
    out("owner=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(GetWindow(hwnd, GW_OWNER))));
    out("rect=%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
    out("pid=%lu", static_cast<unsigned long>(pid));
    out("tid=%lu", static_cast<unsigned long>(tid));
    out("bits=%d", processBits(pid));
    return kOk;
}

int cmdTitle() {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    printText("title", windowText(hwnd));
    return kOk;
}

int cmdWaitTitle(const char* expected, DWORD ms) {
    std::string title;
    bool same = pollUntil(ms, [&] {
        HWND hwnd = findApp();
        if (!hwnd) return false;
        title = windowText(hwnd);
        return title == expected;
    });
    out("match=%d", same ? 1 : 0);
    printText("title", title);
    return same ? kOk : kNo;
}

int sendText(const std::string& text) {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    DWORD_PTR result = 0;
    BOOL delivered = SendMessageTimeoutA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                                         kSendTimeoutMs, &result);
    out("delivered=%d", delivered ? 1 : 0);
    out("result=%lu", static_cast<unsigned long>(result));
    return delivered ? kOk : kNo;
}

int cmdSetText(const char* text) { return sendText(text); }

int cmdSetTextHex(const char* hex) {
    std::string bytes;
    if (!fromHex(hex, &bytes)) {
        out("error=bad hex");
        return kUsage;
    }
    return sendText(bytes);
}

int cmdClose(bool post) {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    BOOL done;
    if (post) {
        done = PostMessageA(hwnd, WM_CLOSE, 0, 0);
    } else {
        DWORD_PTR result = 0;
        done = SendMessageTimeoutA(hwnd, WM_CLOSE, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
    }
    out("closed=%d", done ? 1 : 0);
    return done ? kOk : kNo;
}

int cmdPostQuit(unsigned long code, const char* how) {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    std::string mode = how ? how : "--thread";
    bool toThread = mode == "--thread" || mode == "--both";
    bool toWindow = mode == "--window" || mode == "--both";
    if (!toThread && !toWindow) return kUsage;
    bool ok = true;
    if (toWindow) ok = PostMessageA(hwnd, WM_QUIT, static_cast<WPARAM>(code), 0) && ok;
    if (toThread) {
        DWORD tid = GetWindowThreadProcessId(hwnd, nullptr);
        ok = PostThreadMessageA(tid, WM_QUIT, static_cast<WPARAM>(code), 0) && ok;
    }
    out("posted=%d", ok ? 1 : 0);
    out("code=%lu", code);
    return ok ? kOk : kNo;
}

int cmdTerminate(unsigned long code) {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    bool ok = process && TerminateProcess(process, static_cast<UINT>(code));
    if (ok) WaitForSingleObject(process, 5000);
    if (process) CloseHandle(process);
    out("terminated=%d", ok ? 1 : 0);
    return ok ? kOk : kNo;
}

int cmdMutexExists() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kMutexName);
    out("exists=%d", mutex ? 1 : 0);
    if (mutex) CloseHandle(mutex);
    return mutex ? kOk : kNo;
}

// The number of handles open to the object, in every process; 0 when it cannot
// be asked (NtQueryObject, ObjectBasicInformation).
unsigned long handleCount(HANDLE object) {
    typedef LONG(WINAPI * QueryObject)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    struct BasicInformation {
        ULONG attributes, grantedAccess, handleCount, pointerCount;
        ULONG reserved[10];
    };
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    QueryObject query =
        ntdll ? reinterpret_cast<QueryObject>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")))
              : nullptr;
    BasicInformation info = {};
    if (!query || query(object, 0, &info, sizeof info, nullptr) != 0) return 0;
    return info.handleCount;
}

// With untilLooked, the mutex goes as soon as a second handle to it is seen: a
// launch of ovq holds its handle only for the moment of each look, so the
// count is read every millisecond.
int cmdHoldMutex(DWORD ms, bool untilLooked) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    if (!mutex) {
        out("error=CreateMutexA failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    out("existed=%d", existed ? 1 : 0);
    out("ready");
    bool looked = false;
    if (untilLooked) {
        DWORD start = GetTickCount();
        while (!(looked = handleCount(mutex) > 1) && GetTickCount() - start < ms)
            Sleep(1);
        out("looked=%d", looked ? 1 : 0);
        out("looked_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    } else {
        Sleep(ms);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    out("released");
    return !untilLooked || looked ? kOk : kNo;
}

// Samples the system's last-input tick; each advance means something (ovq's
// mouse_event) reset the idle time. Gaps are measured between the ticks
// themselves. With `until` (not 0) the watch ends at that many advances: a
// deadline for what should happen, where a fixed window would count ticks that
// a loaded machine may deliver late.
int cmdIdleWatch(DWORD ms, unsigned long until) {
    LASTINPUTINFO info = {sizeof info, 0};
    if (!GetLastInputInfo(&info)) {
        out("error=GetLastInputInfo failed");
        return kNo;
    }
    DWORD start = GetTickCount();
    DWORD previous = info.dwTime;
    DWORD lastAdvance = 0;
    unsigned advances = 0;
    DWORD maxGap = 0, minGap = 0, firstAfter = 0;
    std::string gaps;
    std::vector<DWORD> sortedGaps;
    while (GetTickCount() - start < ms && (until == 0 || advances < until)) {
        Sleep(50);
        if (!GetLastInputInfo(&info) || info.dwTime == previous) continue;
        ++advances;
        if (advances == 1) {
            firstAfter = GetTickCount() - start;
        } else {
            DWORD gap = info.dwTime - lastAdvance;
            if (gap > maxGap) maxGap = gap;
            if (minGap == 0 || gap < minGap) minGap = gap;
            if (!gaps.empty()) gaps += ',';
            gaps += std::to_string(gap);
            sortedGaps.insert(std::upper_bound(sortedGaps.begin(), sortedGaps.end(), gap), gap);
        }
        lastAdvance = info.dwTime;
        previous = info.dwTime;
    }
    out("duration_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    out("advances=%u", advances);
    out("first_after_ms=%lu", static_cast<unsigned long>(firstAfter));
    out("max_gap_ms=%lu", static_cast<unsigned long>(maxGap));
    out("min_gap_ms=%lu", static_cast<unsigned long>(minGap));
    out("gaps=%s", gaps.c_str());
    // The lower middle one of an even number.
    DWORD median = sortedGaps.empty() ? 0 : sortedGaps[(sortedGaps.size() - 1) / 2];
    out("median_gap_ms=%lu", static_cast<unsigned long>(median));
    out("idle_ms=%lu", static_cast<unsigned long>(GetTickCount() - previous));
    return kOk;
}

// Runs a program and reports its full 32-bit exit code (the Linux exit status
// of `wine prog.exe` keeps only the low 8 bits).
int cmdRun(int argc, char** argv) {
    std::string line = commandLine(argc, argv);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!createProcess(line, 0, &startup, &process)) {
        out("error=CreateProcessA failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    out("started=1");
    out("pid=%lu", static_cast<unsigned long>(process.dwProcessId));
    DWORD start = GetTickCount();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    out("exit=%lu", static_cast<unsigned long>(code));
    return static_cast<int>(code);
}

LRESULT CALLBACK keeperProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Owns a hidden window so the Wine virtual desktop (and its taskbar with the
// notification area) stays up between tests, when no other program runs; being
// hidden, it shows neither on the desktop nor as a taskbar button.
int cmdKeeper() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = keeperProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kKeeperClass;
    if (!RegisterClassA(&wc)) return kNo;
    HWND hwnd = CreateWindowExA(WS_EX_TOOLWINDOW, kKeeperClass, "ovq probe keeper", WS_POPUP, 0, 0, 8, 8, nullptr,
                                nullptr, wc.hInstance, nullptr);
    if (!hwnd) return kNo;
    out("ready");
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    out("stopped");
    return kOk;
}

int cmdStopKeeper() {
    HWND hwnd = FindWindowA(kKeeperClass, nullptr);
    if (!hwnd) {
        out("found=0");
        return kNo;
    }
    DWORD_PTR result = 0;
    BOOL done = SendMessageTimeoutA(hwnd, WM_CLOSE, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result);
    out("stopped=%d", done ? 1 : 0);
    return done ? kOk : kNo;
}

// Posts a message to ovq's window and reports whether it was queued.
int postToApp(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    BOOL ok = PostMessageA(hwnd, message, wParam, lParam);
    out("posted=%d", ok ? 1 : 0);
    return ok ? kOk : kNo;
}

int cmdTrayNotify(unsigned long lParam) { return postToApp(kTrayCallback, kTrayIconId, static_cast<LPARAM>(lParam)); }

int cmdWaitMenu(DWORD ms) {
    HWND menu = nullptr;
    bool found = pollUntil(ms, [&] { return (menu = findVisibleMenu()) != nullptr; });
    out("menu=%d", found ? 1 : 0);
    if (found) {
        RECT rect = {};
        GetWindowRect(menu, &rect);
        out("hwnd=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(menu)));
        out("rect=%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
    }
    return found ? kOk : kNo;
}

int cmdWaitMenuGone(DWORD ms) {
    bool gone = pollUntil(ms, [] { return findVisibleMenu() == nullptr; });
    out("gone=%d", gone ? 1 : 0);
    return gone ? kOk : kNo;
}

bool parseVirtualKey(const char* text, UINT* vk) {
    struct Named {
        const char* name;
        UINT vk;
    };
    static const Named names[] = {{"escape", VK_ESCAPE}, {"esc", VK_ESCAPE},  {"return", VK_RETURN},
                                  {"enter", VK_RETURN},  {"up", VK_UP},       {"down", VK_DOWN},
                                  {"left", VK_LEFT},     {"right", VK_RIGHT}, {"space", VK_SPACE}};
    for (const Named& n : names) {
        if (lstrcmpiA(text, n.name) == 0) {
            *vk = n.vk;
            return true;
        }
    }
    if (text[0] && !text[1]) {
        char c = text[0];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        *vk = static_cast<unsigned char>(c);
        return true;
    }
    unsigned long value = 0;
    if (!parseNumber(text, &value)) return false;
    *vk = static_cast<UINT>(value);
    return true;
}

int cmdMenuKey(const char* key) {
    UINT vk = 0;
    if (!parseVirtualKey(key, &vk)) return kUsage;
    HWND menu = findVisibleMenu();
    if (!menu) {
        out("menu=0");
        return kNo;
    }
    UINT scan = MapVirtualKeyA(vk, 0);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    LPARAM up = down | (1L << 30) | (1L << 31);
    BOOL ok = PostMessageA(menu, WM_KEYDOWN, vk, down) && PostMessageA(menu, WM_KEYUP, vk, up);
    out("posted=%d", ok ? 1 : 0);
    out("vk=0x%02x", vk);
    return ok ? kOk : kNo;
}

int cmdMenuChar(const char* text) {
    if (!text[0]) return kUsage;
    HWND menu = findVisibleMenu();
    if (!menu) {
        out("menu=0");
        return kNo;
    }
    BOOL ok = PostMessageA(menu, WM_CHAR, static_cast<unsigned char>(text[0]), 1);
    out("posted=%d", ok ? 1 : 0);
    return ok ? kOk : kNo;
}

int cmdWaitClass(const char* wanted, DWORD ms) {
    HWND hwnd = nullptr;
    bool found = pollUntil(ms, [&] { return (hwnd = findVisibleOfClass(wanted)) != nullptr; });
    out("found=%d", found ? 1 : 0);
    if (!found) return kNo;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    out("hwnd=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    printText("title", windowText(hwnd));
    out("owner=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(GetWindow(hwnd, GW_OWNER))));
    out("rect=%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
    out("pid=%lu", static_cast<unsigned long>(pid));
    return kOk;
}

int cmdWaitClassGone(const char* wanted, DWORD ms) {
    bool gone = pollUntil(ms, [&] { return findVisibleOfClass(wanted) == nullptr; });
    out("gone=%d", gone ? 1 : 0);
    return gone ? kOk : kNo;
}

int cmdCloseClass(const char* wanted) {
    HWND hwnd = findVisibleOfClass(wanted);
    if (!hwnd) {
        out("found=0");
        return kNo;
    }
    BOOL ok = PostMessageA(hwnd, WM_CLOSE, 0, 0);
    out("posted=%d", ok ? 1 : 0);
    return ok ? kOk : kNo;
}

BOOL CALLBACK printWindow(HWND hwnd, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    out("window=0x%lx pid=%lu visible=%d style=0x%08lx class=%s title=%s",
        static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)), static_cast<unsigned long>(pid),
        IsWindowVisible(hwnd) ? 1 : 0, static_cast<unsigned long>(GetWindowLongA(hwnd, GWL_STYLE)),
        ansiToUtf8(className(hwnd)).c_str(), ansiToUtf8(windowText(hwnd)).c_str());
    return TRUE;
}

int cmdListWindows() {
    EnumWindows(printWindow, 0);
    return kOk;
}

// ---- taskbar and notification area ----

const char kTrayClass[] = "Shell_TrayWnd";
// Wine's explorer gives every notification-area icon a child window of this class.
const char kTrayIconClass[] = "__wine_tray_icon";

std::string rectText(const RECT& rect) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right, rect.bottom);
    return buffer;
}

struct ChildList {
    std::vector<HWND> all;
};

BOOL CALLBACK collectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<ChildList*>(param)->all.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> childWindows(HWND parent) {
    ChildList list;
    EnumChildWindows(parent, collectChild, reinterpret_cast<LPARAM>(&list));
    return list.all;
}

// The taskbar window, its children, and the visible icon windows of the
// notification area (rightmost first), in desktop coordinates.
int cmdTrayInfo() {
    HWND tray = FindWindowA(kTrayClass, nullptr);
    out("found=%d", tray ? 1 : 0);
    if (!tray) return kNo;
    RECT rect = {};
    GetWindowRect(tray, &rect);
    out("hwnd=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(tray)));
    out("rect=%s", rectText(rect).c_str());
    out("visible=%d", IsWindowVisible(tray) ? 1 : 0);
    out("small_icon=%dx%d", GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    std::vector<HWND> icons;
    for (HWND child : childWindows(tray)) {
        RECT childRect = {};
        GetWindowRect(child, &childRect);
        std::string cls = className(child);
        out("child=0x%lx class=%s visible=%d rect=%s", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(child)),
            cls.c_str(), IsWindowVisible(child) ? 1 : 0, rectText(childRect).c_str());
        if (cls == kTrayIconClass && IsWindowVisible(child)) icons.push_back(child);
    }
    auto rightOf = [](HWND a, HWND b) {
        RECT ra = {}, rb = {};
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left > rb.left;
    };
    for (size_t i = 0; i < icons.size(); ++i)
        for (size_t j = i + 1; j < icons.size(); ++j)
            if (rightOf(icons[j], icons[i])) std::swap(icons[i], icons[j]);
    out("icons=%u", static_cast<unsigned>(icons.size()));
    for (size_t i = 0; i < icons.size(); ++i) {
        RECT iconRect = {};
        GetWindowRect(icons[i], &iconRect);
        out("icon%u_rect=%s", static_cast<unsigned>(i), rectText(iconRect).c_str());
    }
    return kOk;
}

// Whether the notification area holds the icon the window of windowClass
// added under id. Asked as the shell's own answer to a modify that names no
// field to change (uFlags 0): the shell looks the icon up by window and id,
// answers TRUE only when it holds it, and changes nothing of it, neither its
// picture, tip nor callback; the owner is sent nothing. A failed add leaves
// nothing to find, so the answer is FALSE until an add has landed.
bool trayHolds(HWND window, UINT id) {
    NOTIFYICONDATAA query = {};
    query.cbSize = NOTIFYICONDATAA_V1_SIZE;
    query.hWnd = window;
    query.uID = id;
    query.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &query) != FALSE;
}

// Polls until the notification area holds the icon of the window of that class
// with that id, or ms have passed (0: asks once).
int cmdTrayHolds(const char* windowClass, unsigned long id, DWORD ms) {
    DWORD start = GetTickCount();
    HWND window = nullptr;
    bool held = pollUntil(ms, [&] {
        window = FindWindowA(windowClass, nullptr);
        return window != nullptr && trayHolds(window, static_cast<UINT>(id));
    });
    out("window=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    out("held=%d", held ? 1 : 0);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    return held ? kOk : kNo;
}

// Sends the shell's "TaskbarCreated" message to ovq's window, or to every
// top-level window with --broadcast, as the shell does when it starts again.
int cmdTaskbarCreated(bool broadcast) {
    UINT message = RegisterWindowMessageA("TaskbarCreated");
    out("message=0x%04x", message);
    if (!message) return kNo;
    HWND target = HWND_BROADCAST;
    if (!broadcast) {
        target = findAppOrReport();
        if (!target) return kNo;
    }
    DWORD_PTR result = 0;
    BOOL sent = SendMessageTimeoutA(target, message, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    out("sent=%d", sent ? 1 : 0);
    return sent ? kOk : kNo;
}

int cmdPostCommand(unsigned long id) { return postToApp(WM_COMMAND, static_cast<WPARAM>(id), 0); }

// ---- the version box ----

// The caption of ovq's version box, "バージョン情報", in code page 932.
std::string versionCaption() {
    static const wchar_t wide[] = L"\u30d0\u30fc\u30b8\u30e7\u30f3\u60c5\u5831";
    char buffer[64] = {};
    int n = WideCharToMultiByte(932, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    return n > 0 ? std::string(buffer) : std::string();
}

struct BoxSearch {
    std::string caption;
    HWND found;
    unsigned count;
};

BOOL CALLBACK collectBox(HWND hwnd, LPARAM param) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    if (IsWindowVisible(hwnd) && className(hwnd) == "#32770" && windowText(hwnd) == search->caption) {
        if (!search->found) search->found = hwnd;
        ++search->count;
    }
    return TRUE;
}

BoxSearch findBox(const std::string& caption) {
    BoxSearch search = {caption, nullptr, 0};
    EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));
    return search;
}

BoxSearch findVersionBox() { return findBox(versionCaption()); }

std::string getWindowTextA(HWND hwnd) {
    int length = GetWindowTextLengthA(hwnd);
    std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 2, '\0');
    int copied = GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

// The version box ("#32770" captioned "バージョン情報"), or another message box
// by its caption: its caption, the message text (the Static child that holds
// text), and every button with its id.
int cmdBoxText(DWORD ms, const std::string& caption) {
    BoxSearch box = {};
    bool found = pollUntil(ms, [&] { return (box = findBox(caption)).found != nullptr; });
    out("found=%d", found ? 1 : 0);
    if (!found) return kNo;
    out("boxes=%u", box.count);
    HWND hwnd = box.found;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    out("hwnd=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    out("owner=0x%lx", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(GetWindow(hwnd, GW_OWNER))));
    out("pid=%lu", static_cast<unsigned long>(pid));
    RECT boxRect = {};
    GetWindowRect(hwnd, &boxRect);
    out("rect=%s", rectText(boxRect).c_str());
    printText("caption", windowText(hwnd));
    unsigned texts = 0, buttons = 0;
    std::string message, buttonIds;
    for (HWND child : childWindows(hwnd)) {
        std::string cls = className(child);
        int id = GetDlgCtrlID(child);
        bool visible = IsWindowVisible(child) != FALSE;
        std::string text = windowText(child);
        out("child class=%s id=%d visible=%d length=%u text_hex=%s", cls.c_str(), id, visible ? 1 : 0,
            static_cast<unsigned>(text.size()), toHex(text).c_str());
        if (lstrcmpiA(cls.c_str(), "Static") == 0 && !text.empty()) {
            if (!texts++) {
                message = text;
                std::string viaGetWindowText = getWindowTextA(child);
                out("text_length=%u", static_cast<unsigned>(viaGetWindowText.size()));
                printText("text", viaGetWindowText);
                out("text_wm_gettext_hex=%s", toHex(message).c_str());
            }
        }
        if (lstrcmpiA(cls.c_str(), "Button") == 0 && visible) {
            ++buttons;
            if (!buttonIds.empty()) buttonIds += ',';
            buttonIds += std::to_string(id);
            out("button%u_id=%d", buttons - 1, id);
            RECT buttonRect = {};
            GetWindowRect(child, &buttonRect);
            out("button%u_rect=%s", buttons - 1, rectText(buttonRect).c_str());
            printText(("button" + std::to_string(buttons - 1) + "_text").c_str(), text);
        }
    }
    out("texts=%u", texts);
    out("buttons=%u", buttons);
    out("button_ids=%s", buttonIds.c_str());
    return kOk;
}

// Clicks the version box's button with the given id (BM_CLICK, as a user would).
int cmdBoxClick(unsigned long id) {
    BoxSearch box = findVersionBox();
    out("found=%d", box.found ? 1 : 0);
    if (!box.found) return kNo;
    HWND button = GetDlgItem(box.found, static_cast<int>(id));
    out("button=%d", button ? 1 : 0);
    if (!button) return kNo;
    BOOL ok = PostMessageA(button, BM_CLICK, 0, 0);
    out("posted=%d", ok ? 1 : 0);
    return ok ? kOk : kNo;
}

int cmdWaitBoxGone(DWORD ms) {
    bool gone = pollUntil(ms, [] { return findVersionBox().found == nullptr; });
    out("gone=%d", gone ? 1 : 0);
    return gone ? kOk : kNo;
}

// ---- the version-information block and the resources of an executable ----

// One node of the block: wLength, wValueLength, wType, key, value, children.
struct VersionNode {
    size_t offset;
    size_t length;
    size_t valueLength;
    unsigned type;
    std::wstring key;
    size_t valueOffset;
    size_t childrenOffset;
};

size_t align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

bool readVersionNode(const std::vector<BYTE>& block, size_t offset, size_t end, VersionNode* node) {
    if (offset + 6 > end) return false;
    auto word = [&](size_t at) { return static_cast<size_t>(block[at] | (block[at + 1] << 8)); };
    node->offset = offset;
    node->length = word(offset);
    node->valueLength = word(offset + 2);
    node->type = static_cast<unsigned>(word(offset + 4));
    if (node->length < 6 || offset + node->length > end) return false;
    size_t at = offset + 6;
    node->key.clear();
    for (;; at += 2) {
        if (at + 2 > offset + node->length) return false;
        wchar_t c = static_cast<wchar_t>(word(at));
        if (!c) break;
        node->key += c;
    }
    node->valueOffset = align4(at + 2);
    size_t valueBytes = node->type == 1 ? node->valueLength * 2 : node->valueLength;
    node->childrenOffset = align4(node->valueOffset + valueBytes);
    return true;
}

std::vector<VersionNode> versionChildren(const std::vector<BYTE>& block, const VersionNode& parent) {
    std::vector<VersionNode> children;
    size_t end = parent.offset + parent.length;
    for (size_t at = parent.childrenOffset; at < end;) {
        VersionNode child;
        if (!readVersionNode(block, at, end, &child)) break;
        children.push_back(child);
        at = align4(at + child.length);
    }
    return children;
}

std::string joinKeys(const std::vector<VersionNode>& nodes) {
    std::string keys;
    for (const VersionNode& node : nodes) {
        if (!keys.empty()) keys += ',';
        keys += wideToUtf8(node.key.c_str(), node.key.size());
    }
    return keys;
}

std::string resourceName(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
    return name;
}

BOOL CALLBACK collectResourceName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    reinterpret_cast<std::vector<std::string>*>(param)->push_back(resourceName(name));
    return TRUE;
}

BOOL CALLBACK collectResourceLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

LPCSTR resourceId(const std::string& name) {
    if (!name.empty() && name[0] == '#') return MAKEINTRESOURCEA(std::strtoul(name.c_str() + 1, nullptr, 10));
    return name.c_str();
}

// Names and languages of one resource type; the size of each resource.
void printResources(HMODULE module, LPCSTR type, const char* label) {
    std::vector<std::string> names;
    EnumResourceNamesA(module, type, collectResourceName, reinterpret_cast<LONG_PTR>(&names));
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ",") + name;
    out("res.%s.names=%s", label, joined.c_str());
    for (const std::string& name : names) {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(module, type, resourceId(name), collectResourceLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        std::string langs;
        for (WORD language : languages) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "%04x", language);
            langs += (langs.empty() ? "" : ",") + std::string(buffer);
        }
        out("res.%s.%s.langs=%s", label, name.c_str(), langs.c_str());
        if (languages.empty()) continue;
        HRSRC found = FindResourceExA(module, type, resourceId(name), languages[0]);
        out("res.%s.%s.size=%lu", label, name.c_str(),
            static_cast<unsigned long>(found ? SizeofResource(module, found) : 0));
        if (!found || type != RT_ICON) continue;
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        if (!data || SizeofResource(module, found) < sizeof(BITMAPINFOHEADER)) continue;
        BITMAPINFOHEADER header;
        std::memcpy(&header, data, sizeof header);
        out("res.%s.%s.bitmap=%ldx%ld bpp=%u", label, name.c_str(), header.biWidth, header.biHeight,
            static_cast<unsigned>(header.biBitCount));
    }
}

// Prints the icon group: count and, per entry, size, colours, bits and icon id.
void printIconGroup(HMODULE module, const char* name) {
    HRSRC found = FindResourceA(module, name, RT_GROUP_ICON);
    if (!found) return;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    DWORD size = SizeofResource(module, found);
    if (!data || size < 6) return;
    unsigned count = static_cast<unsigned>(data[4] | (data[5] << 8));
    out("group.count=%u", count);
    for (unsigned i = 0; i < count && 6 + (i + 1) * 14 <= size; ++i) {
        const BYTE* e = data + 6 + i * 14;
        unsigned long bytes =
            static_cast<unsigned long>(e[8] | (e[9] << 8) | (e[10] << 16)) | (static_cast<unsigned long>(e[11]) << 24);
        out("group.%u=width=%u height=%u colors=%u planes=%u bits=%u bytes=%lu id=%u", i, e[0] ? e[0] : 256u,
            e[1] ? e[1] : 256u, e[2], static_cast<unsigned>(e[4] | (e[5] << 8)),
            static_cast<unsigned>(e[6] | (e[7] << 8)), bytes, static_cast<unsigned>(e[12] | (e[13] << 8)));
    }
}

// Everything of an executable's version block: the fixed part, every string of
// every table (UTF-8 and UTF-16LE hex), the translations, the keys in stored
// order; then the languages and sizes of the version and icon resources.
int cmdVersionInfo(const char* path) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    out("size=%lu", static_cast<unsigned long>(size));
    if (!size) {
        out("error=GetFileVersionInfoSizeA failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data())) {
        out("error=GetFileVersionInfoA failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedLength) && fixed &&
        fixedLength >= sizeof *fixed) {
        out("fixed.signature=0x%08lx", static_cast<unsigned long>(fixed->dwSignature));
        out("fixed.struc_version=0x%08lx", static_cast<unsigned long>(fixed->dwStrucVersion));
        out("fixed.file_version_ms=0x%08lx", static_cast<unsigned long>(fixed->dwFileVersionMS));
        out("fixed.file_version_ls=0x%08lx", static_cast<unsigned long>(fixed->dwFileVersionLS));
        out("fixed.product_version_ms=0x%08lx", static_cast<unsigned long>(fixed->dwProductVersionMS));
        out("fixed.product_version_ls=0x%08lx", static_cast<unsigned long>(fixed->dwProductVersionLS));
        out("fixed.file_flags_mask=0x%08lx", static_cast<unsigned long>(fixed->dwFileFlagsMask));
        out("fixed.file_flags=0x%08lx", static_cast<unsigned long>(fixed->dwFileFlags));
        out("fixed.file_os=0x%08lx", static_cast<unsigned long>(fixed->dwFileOS));
        out("fixed.file_type=0x%08lx", static_cast<unsigned long>(fixed->dwFileType));
        out("fixed.file_subtype=0x%08lx", static_cast<unsigned long>(fixed->dwFileSubtype));
        out("fixed.file_date_ms=0x%08lx", static_cast<unsigned long>(fixed->dwFileDateMS));
        out("fixed.file_date_ls=0x%08lx", static_cast<unsigned long>(fixed->dwFileDateLS));
    } else {
        out("fixed=missing");
    }

    WORD* translations = nullptr;
    UINT translationLength = 0;
    std::string translationText;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &translationLength) &&
        translations) {
        for (UINT i = 0; i + 1 < translationLength / sizeof(WORD); i += 2) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%04x,%04x", translations[i], translations[i + 1]);
            translationText += (translationText.empty() ? "" : ";") + std::string(buffer);
        }
    }
    out("translation=%s", translationText.c_str());

    VersionNode root;
    if (!readVersionNode(block, 0, block.size(), &root)) {
        out("error=the block cannot be walked");
        return kNo;
    }
    out("root.key=%s", wideToUtf8(root.key.c_str(), root.key.size()).c_str());
    std::vector<VersionNode> top = versionChildren(block, root);
    out("blocks=%s", joinKeys(top).c_str());
    for (const VersionNode& node : top) {
        if (node.key != L"StringFileInfo") continue;
        std::vector<VersionNode> tables = versionChildren(block, node);
        out("tables=%s", joinKeys(tables).c_str());
        for (const VersionNode& table : tables) {
            std::vector<VersionNode> strings = versionChildren(block, table);
            std::string tableName = wideToUtf8(table.key.c_str(), table.key.size());
            out("keys.%s=%s", tableName.c_str(), joinKeys(strings).c_str());
            for (const VersionNode& entry : strings) {
                std::string key = wideToUtf8(entry.key.c_str(), entry.key.size());
                std::wstring query = L"\\StringFileInfo\\" + table.key + L"\\" + entry.key;
                wchar_t* value = nullptr;
                UINT valueLength = 0;
                BOOL ok = VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &valueLength);
                size_t chars = 0;
                if (ok && value) {
                    while (chars < valueLength && value[chars])
                        ++chars;
                }
                out("str.%s.found=%d", key.c_str(), ok ? 1 : 0);
                out("str.%s=%s", key.c_str(), ok && value ? wideToUtf8(value, chars).c_str() : "");
                out("str.%s.hex=%s", key.c_str(), ok && value ? wideHex(value, chars).c_str() : "");
                out("str.%s.stored_length=%u", key.c_str(), static_cast<unsigned>(entry.valueLength));
            }
        }
    }

    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    out("module=%d", module ? 1 : 0);
    if (!module) return kNo;
    printResources(module, RT_VERSION, "version");
    printResources(module, RT_GROUP_ICON, "group_icon");
    printResources(module, RT_ICON, "icon");
    printIconGroup(module, "MAINICON");
    FreeLibrary(module);
    return kOk;
}

int usage() {
    std::fputs("usage: probe <command> [arguments]; see the comment at the top of probe.cpp\n", stderr);
    return kUsage;
}

}  // namespace

static int dispatch(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const int extra = argc - 2;
    char** args = argv + 2;
    DWORD ms = 0;
    unsigned long number = 0;

    if (command == "wait-window" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitWindow(ms);
    if (command == "wait-gone" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitGone(ms);
    if (command == "wait-started" && extra >= 2 && parseMs(args[0], &ms)) return cmdWaitStarted(ms, argc, argv);
    if (command == "window-info" && extra == 0) return cmdWindowInfo();
    if (command == "title" && extra == 0) return cmdTitle();
    if (command == "wait-title" && extra == 2 && parseMs(args[1], &ms)) return cmdWaitTitle(args[0], ms);
    if (command == "settext" && extra == 1) return cmdSetText(args[0]);
    if (command == "settext-hex" && extra == 1) return cmdSetTextHex(args[0]);
    if (command == "close" && extra == 0) return cmdClose(false);
    if (command == "close" && extra == 1 && std::string(args[0]) == "--post") return cmdClose(true);
    if (command == "post-quit" && (extra == 1 || extra == 2) && parseNumber(args[0], &number))
        return cmdPostQuit(number, extra == 2 ? args[1] : nullptr);
    if (command == "terminate" && extra <= 1) {
        if (extra == 1 && !parseNumber(args[0], &number)) return usage();
        return cmdTerminate(extra == 1 ? number : 1);
    }
    if (command == "mutex-exists" && extra == 0) return cmdMutexExists();
    if (command == "hold-mutex" && extra == 1 && parseMs(args[0], &ms)) return cmdHoldMutex(ms, false);
    if (command == "hold-mutex" && extra == 2 && parseMs(args[0], &ms) && std::string(args[1]) == "--until-looked")
        return cmdHoldMutex(ms, true);
    if (command == "idle-watch" && extra == 1 && parseMs(args[0], &ms)) return cmdIdleWatch(ms, 0);
    if (command == "idle-watch" && extra == 3 && parseMs(args[0], &ms) && std::string(args[1]) == "--until" &&
        parseNumber(args[2], &number) && number > 0)
        return cmdIdleWatch(ms, number);
    if (command == "run" && extra >= 1) return cmdRun(extra, args);
    if (command == "keeper" && extra == 0) return cmdKeeper();
    if (command == "stop-keeper" && extra == 0) return cmdStopKeeper();
    if (command == "traynotify" && extra == 1 && parseNumber(args[0], &number)) return cmdTrayNotify(number);
    if (command == "wait-menu" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitMenu(ms);
    if (command == "wait-menu-gone" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitMenuGone(ms);
    if (command == "menu-key" && extra == 1) return cmdMenuKey(args[0]);
    if (command == "menu-char" && extra == 1) return cmdMenuChar(args[0]);
    if (command == "wait-class" && extra == 2 && parseMs(args[1], &ms)) return cmdWaitClass(args[0], ms);
    if (command == "wait-class-gone" && extra == 2 && parseMs(args[1], &ms)) return cmdWaitClassGone(args[0], ms);
    if (command == "close-class" && extra == 1) return cmdCloseClass(args[0]);
    if (command == "list-windows" && extra == 0) return cmdListWindows();
    if (command == "tray-info" && extra == 0) return cmdTrayInfo();
    if (command == "tray-holds" && extra == 3 && parseNumber(args[1], &number) && parseMs(args[2], &ms))
        return cmdTrayHolds(args[0], number, ms);
    if (command == "taskbar-created" && extra == 0) return cmdTaskbarCreated(false);
    if (command == "taskbar-created" && extra == 1 && std::string(args[0]) == "--broadcast")
        return cmdTaskbarCreated(true);
    if (command == "post-command" && extra == 1 && parseNumber(args[0], &number)) return cmdPostCommand(number);
    if (command == "box-text" && (extra == 1 || extra == 2) && parseMs(args[0], &ms))
        return cmdBoxText(ms, extra == 2 ? std::string(args[1]) : versionCaption());
    if (command == "box-click" && extra == 1 && parseNumber(args[0], &number)) return cmdBoxClick(number);
    if (command == "wait-box-gone" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitBoxGone(ms);
    if (command == "version-info" && extra == 1) return cmdVersionInfo(args[0]);
    if (command == "inject-settext-size" && (extra == 1 || extra == 2) && parseNumber(args[0], &number))
        return cmdInjectSetTextSize(number, extra == 2 ? args[1] : nullptr);
    if (command == "inject-settext-null" && extra == 0) return cmdInjectSetTextNull();
    if (command == "inject-load" && extra == 1) return cmdInjectLoad(args[0]);
    if (command == "inside-info" && extra == 0) return cmdInsideInfo();
    if (command == "menu-texts" && extra == 0) return cmdMenuTexts(findVisibleMenu());
    if (command == "shortcut-info" && extra == 1) return cmdShortcutInfo(args[0]);
    if (command == "race") return cmdRace(extra, args);
    if (command == "exit-and-launch") return cmdExitAndLaunch(extra, args);
    if (command == "taskbar-storm") return cmdTaskbarStorm(extra, args);
    if (command == "tray-proxy") return cmdTrayProxy(extra, args);
    if (command == "settext-series") return cmdSetTextSeries(extra, args);
    if (command == "proc-usage") return cmdProcUsage(extra, args);
    if (command == "bench-startup" && extra >= 5 && parseNumber(args[0], &number))
        return cmdBenchStartup(number, args[1], args[2], args[3], args[4], extra - 5, args + 5);
    if (command == "bench-handoff" && extra >= 4 && parseNumber(args[0], &number))
        return cmdBenchHandoff(number, args[1], args[2], args[3], extra - 4, args + 4);
    if (command == "bench-memory" && extra == 6 && parseNumber(args[0], &number) && parseMs(args[1], &ms))
        return cmdBenchMemory(number, ms, args[2], args[3], args[4], args[5]);
    if (command == "bench-wait" && extra == 2 && parseMs(args[1], &ms)) return cmdBenchWait(args[0], ms);
    if (command == "bench-close" && extra == 1) return cmdBenchClose(args[0]);
    return usage();
}

int main(int argc, char** argv) {
    // Plain "\n" line ends, so shell scripts read values without a trailing CR.
    _setmode(_fileno(stdout), _O_BINARY);
    out("probe=%s", argc >= 2 ? argv[1] : "");
    int rc = dispatch(argc, argv);
    out("end=%d", rc);
    return rc;
}
