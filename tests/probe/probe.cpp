// probe: looks at a running ovq from outside, the way another Windows program would.
//
// The Wine tests and run.sh drive it as `wine probe.exe <command> [arguments]`.
// Every command prints its findings on stdout as key=value lines and exits with
//   0  the condition holds / the action was done,
//   1  it does not hold / the target was not found before the deadline,
//   2  wrong usage.
// Texts read from windows are printed in UTF-8 (key=...) and as the raw ANSI
// bytes in hex (key_hex=...), so scripts can compare either form.
//
// Commands (ms = a deadline or duration in milliseconds):
//   wait-window <ms>          poll for ovq's window until found
//   wait-gone <ms>            poll until ovq's window is gone
//   window-info               class, title, style, ex-style, visibility, thread
//   title                     the window title
//   wait-title <text> <ms>    poll until the title equals text
//   settext <text>            SendMessage WM_SETTEXT across processes
//   settext-hex <hex>         the same with the text given as hex bytes
//   close [--post]            WM_CLOSE (sent, or posted with --post)
//   post-quit <n> [--thread|--window|--both]   WM_QUIT with wParam n
//   terminate [code]          TerminateProcess on the window's process
//   mutex-exists              whether the single-copy mutex exists
//   hold-mutex <ms>           create the mutex, print "ready", hold it for ms
//   idle-watch <ms>           watch GetLastInputInfo advance over ms
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

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kAppClass[] = "TApp_TOOLScrBlock";
const char kMutexName[] = "doaGD[da12_";
const char kMenuClass[] = "#32768";
const char kKeeperClass[] = "OvqProbeKeeper";
const UINT kTrayCallback = WM_USER + 100;
const WPARAM kTrayIconId = 13;
const DWORD kPollMs = 20;
const UINT kSendTimeoutMs = 10000;

enum ExitCode { kOk = 0, kNo = 1, kUsage = 2 };

void out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool parseNumber(const char* text, unsigned long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return end && *end == '\0';
}

bool parseMs(const char* text, DWORD* ms) {
    unsigned long value = 0;
    if (!parseNumber(text, &value)) return false;
    *ms = static_cast<DWORD>(value);
    return true;
}

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
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

// ANSI (code page of the process, 932 in the test prefix) to UTF-8 for printing.
std::string ansiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return ansi;
    int wideLen = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (wideLen <= 0) return ansi;
    std::wstring wide(static_cast<size_t>(wideLen), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], wideLen);
    int len = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (len <= 0) return ansi;
    std::string utf8(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, &utf8[0], len, nullptr, nullptr);
    return utf8;
}

void printText(const char* key, const std::string& ansi) {
    out("%s=%s", key, ansiToUtf8(ansi).c_str());
    out("%s_hex=%s", key, toHex(ansi).c_str());
}

// Reads a title through WM_GETTEXT; works across processes.
std::string windowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return std::string();
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return std::string();
    return std::string(buffer.data(), copied);
}

std::string className(HWND hwnd) {
    char buffer[256] = {};
    GetClassNameA(hwnd, buffer, sizeof buffer);
    return buffer;
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

int cmdHoldMutex(DWORD ms) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    if (!mutex) {
        out("error=CreateMutexA failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    out("existed=%d", existed ? 1 : 0);
    out("ready");
    Sleep(ms);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    out("released");
    return kOk;
}

// Samples the system's last-input tick; each advance means something (ovq's
// mouse_event) reset the idle time. Gaps are measured between the ticks themselves.
int cmdIdleWatch(DWORD ms) {
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
    while (GetTickCount() - start < ms) {
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
    out("idle_ms=%lu", static_cast<unsigned long>(GetTickCount() - previous));
    return kOk;
}

// Quotes one argument so that the child's C runtime parses it back unchanged.
std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
        else quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// Runs a program and reports its full 32-bit exit code (the Linux exit status
// of `wine prog.exe` keeps only the low 8 bits).
int cmdRun(int argc, char** argv) {
    std::string commandLine;
    for (int i = 0; i < argc; ++i) {
        if (i) commandLine += ' ';
        commandLine += quoteArgument(argv[i]);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
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

int cmdTrayNotify(unsigned long lParam) {
    HWND hwnd = findAppOrReport();
    if (!hwnd) return kNo;
    BOOL ok = PostMessageA(hwnd, kTrayCallback, kTrayIconId, static_cast<LPARAM>(lParam));
    out("posted=%d", ok ? 1 : 0);
    return ok ? kOk : kNo;
}

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
    static const Named names[] = {{"escape", VK_ESCAPE}, {"esc", VK_ESCAPE}, {"return", VK_RETURN},
                                  {"enter", VK_RETURN},  {"up", VK_UP},      {"down", VK_DOWN},
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

int usage() {
    std::fputs("usage: probe <command> [arguments]; see the comment at the top of probe.cpp\n", stderr);
    return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Plain "\n" line ends, so shell scripts read values without a trailing CR.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const int extra = argc - 2;
    char** args = argv + 2;
    DWORD ms = 0;
    unsigned long number = 0;

    if (command == "wait-window" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitWindow(ms);
    if (command == "wait-gone" && extra == 1 && parseMs(args[0], &ms)) return cmdWaitGone(ms);
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
    if (command == "hold-mutex" && extra == 1 && parseMs(args[0], &ms)) return cmdHoldMutex(ms);
    if (command == "idle-watch" && extra == 1 && parseMs(args[0], &ms)) return cmdIdleWatch(ms);
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
    return usage();
}
