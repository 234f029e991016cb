// The simulated Windows layer: one process, one thread, a virtual clock.
// Behaves as the program relies on Windows to behave: synchronous SendMessage to
// the own thread's windows, DestroyWindow sending WM_DESTROY before it returns,
// GetMenuState giving 0xFFFFFFFF for a missing item, timer messages that never
// pile up, sent messages from other processes delivered while the thread waits.

#include "WinSim.h"

#include "SimSupport.h"

#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <set>

namespace sim {
namespace {

struct Window {
    bool own;  // false: a window of another process
    bool alive;
    std::string className;
    std::string title;
    DWORD style;
    DWORD exStyle;
    WNDPROC proc;
    std::vector<ForeignMessage> received;
    std::set<UINT> allowed;  // let through its message filter (ChangeWindowMessageFilterEx)
};

struct Timer {
    HWND window;
    UINT_PTR id;
    DWORD period;
    DWORD due;
};

struct Event {
    DWORD at;
    int order;
    std::function<void()> action;
};

// A request to the notification area, as the shell holds it until it gets to it.
struct TrayRequest {
    DWORD message;  // NIM_ADD or NIM_DELETE
    TrayIcon icon;
    bool knownSize;
};

struct Menu {
    bool alive;
    std::vector<MenuItem> items;
};

// A named mutex exists while another process holds it or the program has a
// handle open to it.
struct Mutex {
    bool foreign = false;
    int handles = 0;
};

struct MenuScript {
    UINT command;
    DWORD openMs;
};

struct State {
    DWORD now = 0;
    DWORD timeLimit = 3600 * 1000;
    std::string commandLine;
    DWORD lastError = 0;
    std::vector<std::string> calls;
    bool recording = true;

    std::vector<Window> windows;  // HWND n is windows[n - 1]
    std::map<std::string, WNDCLASSA> classes;
    std::map<std::string, Mutex> mutexes;
    std::map<HANDLE, std::string> handles;  // the program's open handles, by the name they hold
    int handlesMade = 0;
    DWORD tickBase = 0;  // the system's tick count at virtual time 0
    std::map<std::string, UINT> registeredMessages;
    bool elevated = false;  // the program runs as administrator, every other process normally

    std::deque<MSG> posted;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<Timer> timers;
    std::vector<Event> events;
    int eventOrder = 0;

    simsupport::FaultPlan faults;

    EXECUTION_STATE continuous = 0;
    std::vector<DWORD> inputs;

    std::vector<Menu> menus;  // HMENU n is menus[n - 1]
    std::deque<MenuScript> menuScripts;
    int menusShown = 0;
    std::vector<TrayIcon> tray;
    DWORD shellAbsentUntil = 0;          // no notification area before this moment
    DWORD shellBusyUntil = 0;            // the shell answers nothing before this moment
    std::deque<TrayRequest> shellQueue;  // what it took while busy, not yet carried out
    std::deque<DWORD> boxScripts;
    int boxesShown = 0;
    POINT cursor = { 640, 700 };

    std::map<void*, size_t> blocks;  // live heap blocks and their numbers
    size_t blocksAllocated = 0;
    std::string newBlockFill;
};

State S;

// The heap goes with the process: what a run still holds is freed when the
// next one starts (Reset) and when the test program ends.
void FreeHeap()
{
    for (const auto& block : S.blocks)
        free(block.first);
    S.blocks.clear();
}

struct HeapAtExit {
    ~HeapAtExit() { FreeHeap(); }
} TheHeapAtExit;

HICON const TheMainIcon = reinterpret_cast<HICON>(static_cast<uintptr_t>(0x1C0));
HINSTANCE const TheModule = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
HMODULE const TheUser32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7E410000));
HANDLE const TheHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x3A0000));

// ---- formatting -----------------------------------------------------------

using simsupport::Format;
using simsupport::FormatList;

void Log(const std::string& line)
{
    if (S.recording)
        S.calls.push_back(line);
}

// A formatted log line, formatted only when the log is being recorded.
void LogCall(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogCall(const char* format, ...)
{
    if (!S.recording)
        return;
    va_list args;
    va_start(args, format);
    S.calls.push_back(FormatList(format, args));
    va_end(args);
}

std::string Hwnd(HWND window)
{
    if (window == nullptr)
        return "null";
    return Format("hwnd%zu", static_cast<size_t>(reinterpret_cast<uintptr_t>(window)));
}

std::string Hmenu(HMENU menu)
{
    if (menu == nullptr)
        return "null";
    return Format("hmenu%zu", static_cast<size_t>(reinterpret_cast<uintptr_t>(menu)));
}

// A text argument as the log shows it; a very long one by its start and length.
std::string Str(LPCSTR text)
{
    if (text == nullptr)
        return "null";
    size_t length = strlen(text);
    if (length > 4096)
        return Format("\"%s\"...(%zu bytes)", Quote(std::string(text, 64)).c_str(), length);
    return "\"" + Quote(text) + "\"";
}

std::string Bool(BOOL value)
{
    return value ? "TRUE" : "FALSE";
}

// The lParam of a message as the log shows it: the text for WM_SETTEXT.
std::string LParamText(UINT message, LPARAM lParam)
{
    if (message == WM_SETTEXT)
        return Str(reinterpret_cast<LPCSTR>(lParam));
    return Format("%lld", static_cast<long long>(lParam));
}

// ---- windows ----------------------------------------------------------------

Window* Find(HWND handle)
{
    uintptr_t n = reinterpret_cast<uintptr_t>(handle);
    if (n == 0 || n > S.windows.size())
        return nullptr;
    return &S.windows[n - 1];
}

Window* Alive(HWND handle)
{
    Window* window = Find(handle);
    return window != nullptr && window->alive ? window : nullptr;
}

HWND Handle(size_t index)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(index + 1));
}

// What reaches a window of the program from another process. Running as
// administrator, the program takes from the others, which run normally, only
// the messages its window let through its filter, the shell's notifications of
// the window's own icons (the shell lets those through for it), and the few
// below WM_USER that Windows never filters (of those simulated here, WM_NULL).
// Everything else is dropped on the way, and the sender learns nothing.
bool PassesFilter(HWND handle, UINT message)
{
    Window* window = Find(handle);
    if (!S.elevated || !window->own || message == WM_NULL || window->allowed.count(message) != 0)
        return true;
    return std::any_of(S.tray.begin(), S.tray.end(),
                       [&](const TrayIcon& icon) { return icon.window == handle && icon.callbackMessage == message; });
}

// The number of a registered message, the same for every process.
UINT MessageNumber(const std::string& name)
{
    return S.registeredMessages.emplace(name, static_cast<UINT>(0xC0A0 + S.registeredMessages.size())).first->second;
}

LRESULT CallWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window* window = Find(handle);
    LogCall("> WindowProc(%s, %s, %llu, %s)", Hwnd(handle).c_str(), MessageName(message).c_str(),
            static_cast<unsigned long long>(wParam), LParamText(message, lParam).c_str());
    if (!window->own) {
        const char* text = reinterpret_cast<const char*>(lParam);
        window->received.push_back({ message, wParam, message == WM_SETTEXT && text != nullptr ? text : "" });
        return message == WM_SETTEXT ? TRUE : 0;
    }
    return window->proc(handle, message, wParam, lParam);
}

bool ShouldFail(const std::string& call)
{
    return S.faults.ShouldFail(call, S.now);
}

// ---- menus --------------------------------------------------------------------

Menu* FindMenu(HMENU handle)
{
    uintptr_t n = reinterpret_cast<uintptr_t>(handle);
    if (n == 0 || n > S.menus.size() || !S.menus[n - 1].alive)
        return nullptr;
    return &S.menus[n - 1];
}

MenuItem* FindItem(HMENU handle, UINT id)
{
    Menu* menu = FindMenu(handle);
    if (menu == nullptr)
        return nullptr;
    for (MenuItem& item : menu->items) {
        if (!(item.flags & MF_SEPARATOR) && item.id == id)
            return &item;
    }
    return nullptr;
}

// ---- the message queue and the clock ---------------------------------------------

// Runs the scripted events that are due; true if any ran.
bool RunDueEvents()
{
    bool ran = false;
    for (;;) {
        auto due = std::min_element(S.events.begin(), S.events.end(), [](const Event& a, const Event& b) {
            return a.at != b.at ? a.at < b.at : a.order < b.order;
        });
        if (due == S.events.end() || due->at > S.now)
            return ran;
        std::function<void()> action = std::move(due->action);
        S.events.erase(due);
        action();
        ran = true;
    }
}

// The moment of the next scripted event.
bool NextEvent(DWORD* at)
{
    bool found = false;
    for (const Event& event : S.events) {
        if (!found || event.at < *at)
            *at = event.at;
        found = true;
    }
    return found;
}

// The moment the thread must wake up next: a scripted event or a timer.
bool NextWakeUp(DWORD* at)
{
    bool found = NextEvent(at);
    for (const Timer& timer : S.timers) {
        if (!found || timer.due < *at)
            *at = timer.due;
        found = true;
    }
    return found;
}

// The clock moves on to `until`, and other processes' scripted events run at
// their moments meanwhile.
void LetTimePass(DWORD until)
{
    for (DWORD at = 0; NextEvent(&at) && at <= until;) {
        S.now = std::max(S.now, at);
        RunDueEvents();
    }
    S.now = std::max(S.now, until);
}

// Takes the next message for the thread, waiting on the virtual clock; false
// when `deadline` comes first (only for modal loops, which pass one).
bool TakeMessage(MSG* message, const DWORD* deadline)
{
    for (;;) {
        RunDueEvents();
        if (!S.posted.empty()) {
            *message = S.posted.front();
            S.posted.pop_front();
            return true;
        }
        if (S.quitPosted) {
            S.quitPosted = false;
            *message = MSG{ nullptr, WM_QUIT, static_cast<WPARAM>(S.quitCode), 0, S.now, S.cursor };
            return true;
        }
        for (Timer& timer : S.timers) {
            if (timer.due <= S.now) {
                // Expirations missed while the thread was busy are not queued.
                timer.due = S.now + timer.period;
                *message = MSG{ timer.window, WM_TIMER, timer.id, 0, S.now, S.cursor };
                return true;
            }
        }
        if (deadline != nullptr && S.now >= *deadline)
            return false;
        DWORD next = 0;
        bool found = NextWakeUp(&next);
        if (deadline != nullptr && (!found || *deadline < next)) {
            next = *deadline;
            found = true;
        }
        if (!found)
            throw Deadlock{ "the program waits for a message that never comes" };
        if (next > S.timeLimit)
            throw Deadlock{ "the program was still waiting at the virtual time limit" };
        S.now = std::max(S.now, next);
    }
}

// The modal loops of menus and message boxes: dispatch until `deadline`;
// a quit message ends the loop early and is put back for the outer loop.
void RunModalLoop(DWORD deadline)
{
    MSG message;
    while (TakeMessage(&message, &deadline)) {
        if (message.message == WM_QUIT) {
            S.quitPosted = true;
            S.quitCode = static_cast<int>(message.wParam);
            return;
        }
        if (Alive(message.hwnd) != nullptr)
            CallWindowProc(message.hwnd, message.message, message.wParam, message.lParam);
    }
}

// ---- code page 932 --------------------------------------------------------------

iconv_t Converter(const char* to, const char* from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw Deadlock{ std::string("iconv cannot convert ") + from + " to " + to };
    return cd;
}

bool IsLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The code page 932 tables, built once with iconv: the UTF-16 unit of each
// one- and two-byte character, and the bytes of each UTF-16 unit.
struct Cp932Tables {
    std::vector<char16_t> single = std::vector<char16_t>(256, u'\u30FB');
    std::vector<char16_t> pair = std::vector<char16_t>(65536, u'\u30FB');
    std::vector<std::string> bytes = std::vector<std::string>(65536, "?");

    Cp932Tables()
    {
        iconv_t cd = Converter("UTF-16LE", "CP932");
        for (unsigned first = 0; first < 256; ++first) {
            if (!IsLeadByte(static_cast<unsigned char>(first))) {
                Map(cd, std::string(1, static_cast<char>(first)), &single[first]);
                continue;
            }
            for (unsigned second = 1; second < 256; ++second)
                Map(cd, { static_cast<char>(first), static_cast<char>(second) }, &pair[first << 8 | second]);
        }
        iconv_close(cd);
        // The reverse direction keeps the first character found for a unit.
        for (unsigned b = 255; b-- > 0;) {
            if (!IsLeadByte(static_cast<unsigned char>(b)) && single[b] != u'\u30FB')
                bytes[single[b]] = std::string(1, static_cast<char>(b));
        }
        for (unsigned code = 65536; code-- > 0x8100;) {
            if (IsLeadByte(static_cast<unsigned char>(code >> 8)) && pair[code] != u'\u30FB')
                bytes[pair[code]] = { static_cast<char>(code >> 8), static_cast<char>(code & 0xFF) };
        }
    }

    static void Map(iconv_t cd, std::string in, char16_t* unit)
    {
        char* inPtr = &in[0];
        size_t inLeft = in.size();
        char16_t out[2] = { 0, 0 };
        char* outPtr = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && inLeft == 0 &&
            outLeft == sizeof out - 2)
            *unit = out[0];
    }
};

const Cp932Tables& Cp932()
{
    static const Cp932Tables tables;
    return tables;
}

// CP932 bytes to UTF-16; bytes without a mapping become U+30FB as on Windows.
std::u16string ToUtf16(const char* text, size_t bytes)
{
    const Cp932Tables& cp932 = Cp932();
    std::u16string out;
    out.reserve(bytes);
    for (size_t i = 0; i < bytes;) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(byte) && i + 1 < bytes) {
            out.push_back(cp932.pair[byte << 8 | static_cast<unsigned char>(text[i + 1])]);
            i += 2;
        } else {
            out.push_back(cp932.single[byte]);
            i += 1;
        }
    }
    return out;
}

// UTF-16 to CP932; units without a mapping become '?'.
std::string ToCp932(const char16_t* units, size_t length)
{
    const Cp932Tables& cp932 = Cp932();
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i)
        out += cp932.bytes[units[i]];
    return out;
}

// ---- the notification area -------------------------------------------------------

// What the shell does with a request when it gets to it. It refuses a record
// of an unknown size, an add of an icon it already shows (the same window and
// identifier) and a delete of one it does not show.
BOOL CarryOut(const TrayRequest& request)
{
    auto same = [&](const TrayIcon& icon) { return icon.window == request.icon.window && icon.id == request.icon.id; };
    auto existing = std::find_if(S.tray.begin(), S.tray.end(), same);
    if (request.message == NIM_ADD && request.knownSize && existing == S.tray.end()) {
        S.tray.push_back(request.icon);
        return TRUE;
    }
    if (request.message == NIM_DELETE && existing != S.tray.end()) {
        S.tray.erase(existing);
        return TRUE;
    }
    return FALSE;
}

// Once free, the shell works through what it took while busy, in order.
void ServeShellQueue()
{
    if (S.now < S.shellBusyUntil)
        return;
    while (!S.shellQueue.empty()) {
        CarryOut(S.shellQueue.front());
        S.shellQueue.pop_front();
    }
}

// A request of the program. Without a notification area, or when the call is
// made to fail (the request lost on its way), it is refused at once. Else the
// caller waits for the shell's answer, at most ShellAnswerWaitMs; other
// processes go on meanwhile, and a message sent to the program's windows is
// handled inside the wait, as Windows does for a thread waiting on another's
// answer. A shell too busy to answer in time makes the call report failure,
// and carries the request out all the same once it is free.
BOOL RequestTray(const TrayRequest& request, const char* fault, bool* timedOut)
{
    *timedOut = false;
    if (S.now < S.shellAbsentUntil || ShouldFail(fault))
        return FALSE;
    ServeShellQueue();
    if (S.now < S.shellBusyUntil) {
        if (S.shellBusyUntil - S.now > ShellAnswerWaitMs) {
            S.shellQueue.push_back(request);
            LetTimePass(S.now + ShellAnswerWaitMs);
            *timedOut = true;
            return FALSE;
        }
        LetTimePass(S.shellBusyUntil);
        ServeShellQueue();
    }
    return CarryOut(request);
}

}  // namespace

// ---- control ------------------------------------------------------------------

void Reset()
{
    FreeHeap();
    S = State{};
}

void SetCommandLine(const std::string& commandLine)
{
    S.commandLine = commandLine;
}

const std::vector<std::string>& Calls()
{
    return S.calls;
}

std::vector<std::string> CallsOf(const std::vector<std::string>& names)
{
    std::vector<std::string> out;
    for (const std::string& line : S.calls) {
        std::string name = line.substr(0, line.find('('));
        if (std::find(names.begin(), names.end(), name) != names.end())
            out.push_back(line);
    }
    return out;
}

void ClearCalls()
{
    S.calls.clear();
}

void RecordCalls(bool on)
{
    S.recording = on;
}

std::string Quote(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\')
            out += Format("\\%c", c);
        else if (c >= 0x20 && c < 0x7F)
            out.push_back(static_cast<char>(c));
        else
            out += Format("\\x%02x", c);
    }
    return out;
}

std::string MessageName(UINT message)
{
    static const std::map<UINT, const char*> names = {
        { WM_NULL, "WM_NULL" },
        { WM_CREATE, "WM_CREATE" },
        { WM_DESTROY, "WM_DESTROY" },
        { WM_SETTEXT, "WM_SETTEXT" },
        { WM_CLOSE, "WM_CLOSE" },
        { WM_QUERYENDSESSION, "WM_QUERYENDSESSION" },
        { WM_QUIT, "WM_QUIT" },
        { WM_ENDSESSION, "WM_ENDSESSION" },
        { WM_NCCREATE, "WM_NCCREATE" },
        { WM_NCDESTROY, "WM_NCDESTROY" },
        { WM_COMMAND, "WM_COMMAND" },
        { WM_TIMER, "WM_TIMER" },
        { WM_USER + 100, "WM_TRAYNOTIFY" },
    };
    auto it = names.find(message);
    if (it != names.end())
        return it->second;
    for (const auto& entry : S.registeredMessages) {
        if (entry.second == message)
            return entry.first;
    }
    return Format("0x%04x", message);
}

DWORD Now()
{
    return S.now;
}
void AdvanceClock(DWORD ms)
{
    S.now += ms;
}
void SetTimeLimit(DWORD ms)
{
    S.timeLimit = ms;
}
void SetTickCountAtStart(DWORD ticks)
{
    S.tickBase = ticks;
}

void At(DWORD at, std::function<void()> action)
{
    S.events.push_back({ at, S.eventOrder++, std::move(action) });
}

LRESULT SendFromOutside(HWND window, UINT message, WPARAM wParam, const std::string* text)
{
    return SendFromOutside(window, message, wParam, text != nullptr ? reinterpret_cast<LPARAM>(text->c_str()) : 0);
}

LRESULT SendFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (Alive(window) == nullptr || !PassesFilter(window, message))
        return 0;
    return CallWindowProc(window, message, wParam, lParam);
}

void PostFromOutside(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window == nullptr && message == WM_QUIT) {
        if (!S.elevated)
            S.posted.push_back(MSG{ nullptr, WM_QUIT, wParam, lParam, S.now, S.cursor });
        return;
    }
    if (Alive(window) != nullptr && PassesFilter(window, message))
        S.posted.push_back(MSG{ window, message, wParam, lParam, S.now, S.cursor });
}

void SetElevated(bool elevated)
{
    S.elevated = elevated;
}

void RestartShell()
{
    S.tray.clear();
    S.shellQueue.clear();
    UINT taskbarCreated = MessageNumber("TaskbarCreated");
    for (size_t i = 0; i < S.windows.size(); ++i) {
        if (S.windows[i].alive)
            SendFromOutside(Handle(i), taskbarCreated, 0, LPARAM(0));
    }
}

void ShellAbsentUntil(DWORD until)
{
    S.shellAbsentUntil = until;
}

void ShellBusyUntil(DWORD until)
{
    S.shellBusyUntil = until;
    At(until, ServeShellQueue);
}

std::set<UINT> AllowedMessages(HWND window)
{
    return Find(window)->allowed;
}

void CreateForeignMutex(const std::string& name)
{
    S.mutexes[name].foreign = true;
}

void ReleaseForeignMutex(const std::string& name)
{
    auto mutex = S.mutexes.find(name);
    if (mutex == S.mutexes.end())
        return;
    mutex->second.foreign = false;
    if (mutex->second.handles == 0)
        S.mutexes.erase(mutex);
}

bool MutexExists(const std::string& name)
{
    return S.mutexes.count(name) != 0;
}

size_t OpenHandles()
{
    return S.handles.size();
}

HWND CreateForeignWindow(const std::string& className)
{
    S.windows.push_back(Window{ false, true, className, "", WS_POPUP, 0, nullptr, {}, {} });
    return Handle(S.windows.size() - 1);
}

const std::vector<ForeignMessage>& ForeignMessages(HWND window)
{
    return Find(window)->received;
}

// The calls that ShouldFail is asked about, and those that cannot fail.
const std::set<std::string> FailableCalls = {
    "GetModuleHandleA",
    "GetProcAddress",
    "CreateMutexA",
    "CloseHandle",
    "Sleep",
    "SetThreadExecutionState",
    "GetProcessHeap",
    "HeapAlloc",
    "HeapFree",
    "MultiByteToWideChar",
    "WideCharToMultiByte",
    "LoadIconA",
    "RegisterClassA",
    "CreateWindowExA",
    "UpdateWindow",
    "DestroyWindow",
    "FindWindowA",
    "SendMessageA",
    "GetMessageA",
    "TranslateMessage",
    "DispatchMessageA",
    "RegisterWindowMessageA",
    "ChangeWindowMessageFilterEx",
    "SetTimer",
    "KillTimer",
    "CreatePopupMenu",
    "AppendMenuA",
    "CheckMenuItem",
    "GetMenuState",
    "TrackPopupMenu",
    "DestroyMenu",
    "GetCursorPos",
    "SetForegroundWindow",
    "MessageBoxA",
    "mouse_event",
    "NIM_ADD",
    "NIM_DELETE",
};
const std::set<std::string> UnfailingCalls = {
    "GetCommandLineA", "GetLastError", "GetTickCount", "ExitProcess", "PostQuitMessage", "DefWindowProcA",
};

void FailTimes(const std::string& call, int times)
{
    FailNth(call, 1, times);
}

int PendingFailures()
{
    return S.faults.Pending();
}

std::string FaultNameOf(const std::string& line)
{
    if (line.empty() || line[0] == '>')
        return "";
    std::string name = line.substr(0, line.find('('));
    if (name == "Shell_NotifyIconA")
        return line.compare(name.size() + 1, 7, "NIM_ADD") == 0 ? "NIM_ADD" : "NIM_DELETE";
    return name;
}

bool CanFail(const std::string& faultName)
{
    return FailableCalls.count(faultName) != 0;
}
bool NeverFails(const std::string& faultName)
{
    return UnfailingCalls.count(faultName) != 0;
}

void FailNth(const std::string& call, int n, int times)
{
    S.faults.FailNth(call, n, times);
}
void FailUntil(const std::string& call, DWORD until)
{
    S.faults.FailUntil(call, until);
}

HWND MainWindowOf(const std::string& className)
{
    for (size_t i = 0; i < S.windows.size(); ++i) {
        if (S.windows[i].own && S.windows[i].className == className)
            return Handle(i);
    }
    return nullptr;
}

bool WindowAlive(HWND window)
{
    return Alive(window) != nullptr;
}
std::string WindowTitle(HWND window)
{
    return Find(window)->title;
}
DWORD WindowStyle(HWND window)
{
    return Find(window)->style;
}
DWORD WindowExStyle(HWND window)
{
    return Find(window)->exStyle;
}
size_t TimerCount()
{
    return S.timers.size();
}
EXECUTION_STATE ContinuousState()
{
    return S.continuous;
}
const std::vector<DWORD>& InputEvents()
{
    return S.inputs;
}

size_t LiveBlocks()
{
    return S.blocks.size();
}
size_t BlocksAllocated()
{
    return S.blocksAllocated;
}
void FillNewBlocks(const std::string& pattern)
{
    S.newBlockFill = pattern;
}

bool MenuExists(HMENU menu)
{
    return FindMenu(menu) != nullptr;
}
std::vector<MenuItem> MenuItems(HMENU menu)
{
    return FindMenu(menu)->items;
}

size_t MenuCount()
{
    return static_cast<size_t>(std::count_if(S.menus.begin(), S.menus.end(), [](const Menu& m) { return m.alive; }));
}

void ScriptMenuChoice(UINT command, DWORD openMs)
{
    S.menuScripts.push_back({ command, openMs });
}
int MenusShown()
{
    return S.menusShown;
}
std::vector<TrayIcon> TrayIcons()
{
    return S.tray;
}
void ScriptMessageBox(DWORD openMs)
{
    S.boxScripts.push_back(openMs);
}
int MessageBoxesShown()
{
    return S.boxesShown;
}
HICON MainIcon()
{
    return TheMainIcon;
}
void SetCursor(LONG x, LONG y)
{
    S.cursor = POINT{ x, y };
}

}  // namespace sim

using namespace sim;

// ---- kernel32 -------------------------------------------------------------------

LPSTR WINAPI GetCommandLineA()
{
    Log("GetCommandLineA()");
    return &S.commandLine[0];
}

// The program's own module for null; by name only user32.dll (in any case, with
// or without its extension), which every program with a window has loaded.
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    LogCall("GetModuleHandleA(%s)", Str(moduleName).c_str());
    HMODULE module = nullptr;
    if (ShouldFail("GetModuleHandleA"))
        module = nullptr;
    else if (moduleName == nullptr)
        module = TheModule;
    else if (strcasecmp(moduleName, "user32.dll") == 0 || strcasecmp(moduleName, "user32") == 0)
        module = TheUser32;
    if (module == nullptr)
        S.lastError = ERROR_MOD_NOT_FOUND;
    return module;
}

// Of the functions a program may look up, user32 has ChangeWindowMessageFilterEx;
// a failure is the answer of a Windows before 7, which has no such function.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    FARPROC proc = nullptr;
    if (!ShouldFail("GetProcAddress") && module == TheUser32 && name != nullptr &&
        strcmp(name, "ChangeWindowMessageFilterEx") == 0)
        proc = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ChangeWindowMessageFilterEx));
    if (proc == nullptr)
        S.lastError = ERROR_PROC_NOT_FOUND;
    LogCall("GetProcAddress(%s, %s) = %s",
            module == TheModule   ? "module"
            : module == TheUser32 ? "user32"
            : module == nullptr   ? "null"
                                  : "other",
            Str(name).c_str(), proc != nullptr ? name : "null");
    return proc;
}

// The log names a handle by its number in the order of opening ("handle1").
static std::string HandleName(HANDLE handle)
{
    if (handle == nullptr)
        return "null";
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < 0x100 || value % 4 != 0)
        return "other";
    return Format("handle%zu", static_cast<size_t>((value - 0x100) / 4));
}

// A name held by an object of another kind, or one this user may not open,
// fails the call with ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name)
{
    HANDLE handle = nullptr;
    if (ShouldFail("CreateMutexA")) {
        S.lastError = ERROR_INVALID_HANDLE;
    } else {
        auto made = S.mutexes.emplace(name, Mutex{});
        S.lastError = made.second ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
        ++made.first->second.handles;
        handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x100 + 4 * ++S.handlesMade));
        S.handles[handle] = name;
    }
    LogCall("CreateMutexA(%s, %s, %s) = %s", attributes == nullptr ? "null" : "attributes", Bool(initialOwner).c_str(),
            Str(name).c_str(), HandleName(handle).c_str());
    return handle;
}

// Closing the last handle to a mutex that no other process holds removes it.
// A failure leaves the handle open, as for a handle protected from closing.
BOOL WINAPI CloseHandle(HANDLE handle)
{
    auto open = S.handles.find(handle);
    BOOL result = open != S.handles.end() && !ShouldFail("CloseHandle");
    if (result) {
        auto mutex = S.mutexes.find(open->second);
        if (--mutex->second.handles == 0 && !mutex->second.foreign)
            S.mutexes.erase(mutex);
        S.handles.erase(open);
    } else {
        S.lastError = ERROR_INVALID_HANDLE;
    }
    LogCall("CloseHandle(%s) = %s", HandleName(handle).c_str(), Bool(result).c_str());
    return result;
}

// The tick count wraps to 0 after 2^32 ms, as on Windows.
DWORD WINAPI GetTickCount()
{
    DWORD ticks = S.tickBase + S.now;
    LogCall("GetTickCount() = %u", ticks);
    return ticks;
}

// The clock moves on by the time asked, and other processes' scripted events
// run at their moments meanwhile. A sleeping thread takes no messages, so
// those events must not send any to the program's windows; the program sleeps
// only while it has none. A failure is the early wake-up of a sleep shorter
// than the system clock's resolution: the call returns with no time passed.
VOID WINAPI Sleep(DWORD ms)
{
    LogCall("Sleep(%u)", ms);
    if (ShouldFail("Sleep"))
        return;
    DWORD wake = S.now + ms;
    if (wake > S.timeLimit)
        throw Deadlock{ "the program was still sleeping at the virtual time limit" };
    LetTimePass(wake);
}

DWORD WINAPI GetLastError()
{
    LogCall("GetLastError() = %u", S.lastError);
    return S.lastError;
}

VOID WINAPI SetLastError(DWORD error)
{
    S.lastError = error;
}

VOID WINAPI ExitProcess(UINT exitCode)
{
    LogCall("ExitProcess(%u)", exitCode);
    throw ProcessExit{ exitCode };
}

EXECUTION_STATE WINAPI SetThreadExecutionState(EXECUTION_STATE flags)
{
    LogCall("SetThreadExecutionState(0x%08x)", flags);
    if (ShouldFail("SetThreadExecutionState"))
        return 0;
    EXECUTION_STATE previous = S.continuous;
    if (flags & ES_CONTINUOUS)
        S.continuous = flags;
    return previous | ES_CONTINUOUS;
}

// The process heap. Blocks come from malloc, so the sanitizers watch them; a
// block the heap did not give, or gave and took back, is a heap corruption on
// Windows and stops the simulation here.
HANDLE WINAPI GetProcessHeap()
{
    HANDLE heap = ShouldFail("GetProcessHeap") ? nullptr : TheHeap;
    LogCall("GetProcessHeap() = %s", heap != nullptr ? "heap" : "null");
    return heap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes)
{
    if (heap != TheHeap)
        throw Deadlock{ "HeapAlloc on a heap that does not exist" };
    void* block = ShouldFail("HeapAlloc") ? nullptr : malloc(bytes > 0 ? bytes : 1);
    std::string result = "null";
    if (block != nullptr) {
        for (size_t i = 0; i < bytes && !S.newBlockFill.empty(); ++i)
            static_cast<char*>(block)[i] = S.newBlockFill[i % S.newBlockFill.size()];
        S.blocks[block] = ++S.blocksAllocated;
        result = Format("block%zu", S.blocksAllocated);
    }
    LogCall("HeapAlloc(heap, 0x%x, %zu) = %s", flags, bytes, result.c_str());
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    if (heap != TheHeap)
        throw Deadlock{ "HeapFree on a heap that does not exist" };
    std::string name = "null";
    if (block != nullptr) {
        auto live = S.blocks.find(block);
        if (live == S.blocks.end())
            throw Deadlock{ "HeapFree of a block that the heap does not hold" };
        name = Format("block%zu", live->second);
    }
    BOOL result = !ShouldFail("HeapFree");
    if (result && block != nullptr) {
        S.blocks.erase(block);
        free(block);
    }
    LogCall("HeapFree(heap, 0x%x, %s) = %s", flags, name.c_str(), Bool(result).c_str());
    return result;
}

static int ConvertToWide(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int units)
{
    if (codePage != CP_ACP || flags != 0 || text == nullptr || bytes == 0 || units < 0) {
        S.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (ShouldFail("MultiByteToWideChar")) {
        S.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    size_t length = bytes < 0 ? strlen(text) + 1 : static_cast<size_t>(bytes);
    std::u16string converted = ToUtf16(text, length);
    if (units == 0)
        return static_cast<int>(converted.size());
    if (converted.size() > static_cast<size_t>(units)) {
        S.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::copy(converted.begin(), converted.end(), wide);
    return static_cast<int>(converted.size());
}

static int ConvertToAnsi(UINT codePage, DWORD flags, LPCWSTR wide, int units, LPSTR text, int bytes, LPCSTR defaultChar,
                         LPBOOL usedDefault)
{
    if (codePage != CP_ACP || flags != 0 || wide == nullptr || units == 0 || bytes < 0 || defaultChar != nullptr ||
        usedDefault != nullptr) {
        S.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (ShouldFail("WideCharToMultiByte")) {
        S.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    size_t length = units < 0 ? std::char_traits<char16_t>::length(wide) + 1 : static_cast<size_t>(units);
    std::string converted = ToCp932(wide, length);
    if (bytes == 0)
        return static_cast<int>(converted.size());
    if (converted.size() > static_cast<size_t>(bytes)) {
        S.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::copy(converted.begin(), converted.end(), text);
    return static_cast<int>(converted.size());
}

// The log gives the sizes, not the texts: those are in the lines of the
// messages that carried them.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int units)
{
    int result = ConvertToWide(codePage, flags, text, bytes, wide, units);
    LogCall("MultiByteToWideChar(%u, 0x%x, %d bytes, %s, %d units) = %d", codePage, flags, bytes,
            wide == nullptr ? "null" : "buffer", units, result);
    return result;
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int units, LPSTR text, int bytes,
                               LPCSTR defaultChar, LPBOOL usedDefault)
{
    int result = ConvertToAnsi(codePage, flags, wide, units, text, bytes, defaultChar, usedDefault);
    LogCall("WideCharToMultiByte(%u, 0x%x, %d units, %s, %d bytes) = %d", codePage, flags, units,
            text == nullptr ? "null" : "buffer", bytes, result);
    return result;
}

// ---- user32: windows ------------------------------------------------------------

LPSTR WINAPI CharNextA(LPCSTR p)
{
    if (*p == '\0')
        return const_cast<LPSTR>(p);
    if (IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0')
        return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    HICON icon = nullptr;
    if (instance == TheModule && name != nullptr && strcmp(name, "MAINICON") == 0 && !ShouldFail("LoadIconA"))
        icon = TheMainIcon;
    LogCall("LoadIconA(%s, %s) = %s", instance == TheModule ? "module" : "other", Str(name).c_str(),
            icon != nullptr ? "MAINICON" : "null");
    return icon;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* c)
{
    ATOM atom = 0;
    if (ShouldFail("RegisterClassA") || S.classes.count(c->lpszClassName) != 0) {
        S.lastError = ERROR_CLASS_ALREADY_EXISTS;
    } else {
        S.classes[c->lpszClassName] = *c;
        atom = static_cast<ATOM>(0xC000 + S.classes.size());
    }
    LogCall("RegisterClassA(style=%u, proc=%s, extra=%d/%d, instance=%s, icon=%s, cursor=%s, "
            "background=%s, menu=%s, class=%s) = %s",
            c->style, c->lpfnWndProc != nullptr ? "set" : "null", c->cbClsExtra, c->cbWndExtra,
            c->hInstance == TheModule ? "module" : "other", c->hIcon == TheMainIcon ? "MAINICON" : "other",
            c->hCursor == nullptr ? "null" : "set", c->hbrBackground == nullptr ? "null" : "set",
            Str(c->lpszMenuName).c_str(), Str(c->lpszClassName).c_str(), atom != 0 ? "atom" : "0");
    return atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, void* param)
{
    std::string args =
        Format("CreateWindowExA(%u, %s, %s, 0x%08x, %d, %d, %d, %d, %s, %s, %s, %s)", exStyle, Str(className).c_str(),
               Str(windowName).c_str(), style, x, y, width, height, Hwnd(parent).c_str(), Hmenu(menu).c_str(),
               instance == TheModule ? "module" : "other", param == nullptr ? "null" : "set");
    auto c = S.classes.find(className);
    if (ShouldFail("CreateWindowExA") || c == S.classes.end()) {
        Log(args + " = null");
        return nullptr;
    }
    S.windows.push_back(Window{ true,
                                true,
                                className,
                                windowName != nullptr ? windowName : "",
                                style,
                                exStyle,
                                c->second.lpfnWndProc,
                                {},
                                {} });
    HWND handle = Handle(S.windows.size() - 1);
    Log(args + " = " + Hwnd(handle));
    CallWindowProc(handle, WM_CREATE, 0, 0);
    return handle;
}

BOOL WINAPI UpdateWindow(HWND window)
{
    BOOL result = Alive(window) != nullptr && !ShouldFail("UpdateWindow");
    LogCall("UpdateWindow(%s)", Hwnd(window).c_str());
    return result;
}

BOOL WINAPI DestroyWindow(HWND handle)
{
    Window* window = Alive(handle);
    if (window == nullptr || !window->own || ShouldFail("DestroyWindow")) {
        LogCall("DestroyWindow(%s) = FALSE", Hwnd(handle).c_str());
        S.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    LogCall("DestroyWindow(%s)", Hwnd(handle).c_str());
    // The window's timers end with it.
    S.timers.erase(
        std::remove_if(S.timers.begin(), S.timers.end(), [handle](const Timer& t) { return t.window == handle; }),
        S.timers.end());
    CallWindowProc(handle, WM_DESTROY, 0, 0);
    CallWindowProc(handle, WM_NCDESTROY, 0, 0);
    Find(handle)->alive = false;
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window)
{
    return Alive(window) != nullptr;
}

LRESULT WINAPI DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    LogCall("DefWindowProcA(%s, %s, %llu, %s)", Hwnd(handle).c_str(), MessageName(message).c_str(),
            static_cast<unsigned long long>(wParam), LParamText(message, lParam).c_str());
    Window* window = Alive(handle);
    if (window == nullptr)
        return 0;
    switch (message) {
    case WM_SETTEXT: {
        const char* text = reinterpret_cast<const char*>(lParam);
        window->title = text != nullptr ? text : "";
        return TRUE;
    }
    case WM_CLOSE: DestroyWindow(handle); return 0;
    case WM_QUERYENDSESSION: return TRUE;
    default: return 0;
    }
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName)
{
    HWND found = nullptr;
    bool fails = ShouldFail("FindWindowA");
    for (size_t i = 0; i < S.windows.size() && found == nullptr && !fails; ++i) {
        const Window& w = S.windows[i];
        if (w.alive && w.className == className && (windowName == nullptr || w.title == windowName))
            found = Handle(i);
    }
    LogCall("FindWindowA(%s, %s) = %s", Str(className).c_str(), Str(windowName).c_str(), Hwnd(found).c_str());
    return found;
}

int WINAPI GetWindowTextA(HWND handle, LPSTR text, int size)
{
    Window* window = Alive(handle);
    if (window == nullptr || size <= 0)
        return 0;
    size_t length = std::min(window->title.size(), static_cast<size_t>(size - 1));
    memcpy(text, window->title.data(), length);
    text[length] = '\0';
    return static_cast<int>(length);
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LogCall("SendMessageA(%s, %s, %llu, %s)", Hwnd(window).c_str(), MessageName(message).c_str(),
            static_cast<unsigned long long>(wParam), LParamText(message, lParam).c_str());
    if (Alive(window) == nullptr) {
        S.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    // A failed send delivers nothing (a receiver that hangs, or one the
    // system will not let this process reach).
    if (ShouldFail("SendMessageA"))
        return 0;
    return CallWindowProc(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LogCall("PostMessageA(%s, %s, %llu, %lld)", Hwnd(window).c_str(), MessageName(message).c_str(),
            static_cast<unsigned long long>(wParam), static_cast<long long>(lParam));
    if (Alive(window) == nullptr)
        return FALSE;
    S.posted.push_back(MSG{ window, message, wParam, lParam, S.now, S.cursor });
    return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT first, UINT last)
{
    if (window != nullptr || first != 0 || last != 0)
        throw Deadlock{ "GetMessageA with a filter is not simulated" };
    // A failure takes no message and leaves the record as it was.
    if (ShouldFail("GetMessageA")) {
        Log("GetMessageA() = -1");
        return -1;
    }
    TakeMessage(message, nullptr);
    BOOL result = message->message != WM_QUIT;
    LogCall("GetMessageA() = %s %s", result ? "TRUE" : "FALSE", MessageName(message->message).c_str());
    return result;
}

// No key messages reach the program, so there is never anything to translate.
BOOL WINAPI TranslateMessage(const MSG* message)
{
    ShouldFail("TranslateMessage");
    LogCall("TranslateMessage(%s)", MessageName(message->message).c_str());
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message)
{
    LogCall("DispatchMessageA(%s, %s)", Hwnd(message->hwnd).c_str(), MessageName(message->message).c_str());
    if (Alive(message->hwnd) == nullptr || ShouldFail("DispatchMessageA"))
        return 0;
    return CallWindowProc(message->hwnd, message->message, message->wParam, message->lParam);
}

VOID WINAPI PostQuitMessage(int exitCode)
{
    LogCall("PostQuitMessage(%d)", exitCode);
    S.quitPosted = true;
    S.quitCode = exitCode;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name)
{
    LogCall("RegisterWindowMessageA(%s)", Str(name).c_str());
    if (ShouldFail("RegisterWindowMessageA"))
        return 0;
    return MessageNumber(name);
}

// A window of the program changes its own filter; a failure changes nothing.
BOOL WINAPI ChangeWindowMessageFilterEx(HWND handle, UINT message, DWORD action, PCHANGEFILTERSTRUCT change)
{
    Window* window = Alive(handle);
    BOOL result = FALSE;
    if (window == nullptr || !window->own) {
        S.lastError = window == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_ACCESS_DENIED;
    } else if (action > MSGFLT_DISALLOW || (change != nullptr && change->cbSize != sizeof(*change))) {
        S.lastError = ERROR_INVALID_PARAMETER;
    } else if (ShouldFail("ChangeWindowMessageFilterEx")) {
        S.lastError = ERROR_ACCESS_DENIED;
    } else {
        if (action == MSGFLT_ALLOW)
            window->allowed.insert(message);
        else if (action == MSGFLT_DISALLOW)
            window->allowed.erase(message);
        else
            window->allowed.clear();
        result = TRUE;
    }
    static const char* const actions[] = { "MSGFLT_RESET", "MSGFLT_ALLOW", "MSGFLT_DISALLOW" };
    LogCall("ChangeWindowMessageFilterEx(%s, %s, %s, %s) = %s", Hwnd(handle).c_str(), MessageName(message).c_str(),
            action <= MSGFLT_DISALLOW ? actions[action] : Format("%u", action).c_str(),
            change != nullptr ? "change" : "null", Bool(result).c_str());
    return result;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    UINT_PTR result = 0;
    if (Alive(window) != nullptr && !ShouldFail("SetTimer")) {
        S.timers.erase(std::remove_if(S.timers.begin(), S.timers.end(),
                                      [&](const Timer& t) { return t.window == window && t.id == id; }),
                       S.timers.end());
        S.timers.push_back(Timer{ window, id, elapse, S.now + elapse });
        result = id;
    }
    LogCall("SetTimer(%s, %llu, %u, %s) = %llu", Hwnd(window).c_str(), static_cast<unsigned long long>(id), elapse,
            proc == nullptr ? "null" : "proc", static_cast<unsigned long long>(result));
    return result;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id)
{
    auto it = std::find_if(S.timers.begin(), S.timers.end(),
                           [&](const Timer& t) { return t.window == window && t.id == id; });
    BOOL result = it != S.timers.end() && !ShouldFail("KillTimer");
    if (result)
        S.timers.erase(it);
    LogCall("KillTimer(%s, %llu) = %s", Hwnd(window).c_str(), static_cast<unsigned long long>(id),
            Bool(result).c_str());
    return result;
}

// ---- user32: menus ---------------------------------------------------------------

HMENU WINAPI CreatePopupMenu()
{
    HMENU menu = nullptr;
    if (!ShouldFail("CreatePopupMenu")) {
        S.menus.push_back(Menu{ true, {} });
        menu = reinterpret_cast<HMENU>(static_cast<uintptr_t>(S.menus.size()));
    }
    LogCall("CreatePopupMenu() = %s", Hmenu(menu).c_str());
    return menu;
}

BOOL WINAPI AppendMenuA(HMENU handle, UINT flags, UINT_PTR id, LPCSTR text)
{
    LogCall("AppendMenuA(%s, 0x%x, %llu, %s)", Hmenu(handle).c_str(), flags, static_cast<unsigned long long>(id),
            Str(text).c_str());
    Menu* menu = FindMenu(handle);
    if (menu == nullptr || ShouldFail("AppendMenuA"))
        return FALSE;
    menu->items.push_back(MenuItem{ flags, id, text != nullptr, text != nullptr ? text : "", false });
    return TRUE;
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT id, UINT flags)
{
    LogCall("CheckMenuItem(%s, %u, 0x%x)", Hmenu(menu).c_str(), id, flags);
    MenuItem* item = (flags & MF_BYPOSITION) ? nullptr : FindItem(menu, id);
    if (item == nullptr || ShouldFail("CheckMenuItem"))
        return 0xFFFFFFFF;
    DWORD previous = item->checked ? MF_CHECKED : MF_UNCHECKED;
    item->checked = (flags & MF_CHECKED) != 0;
    return previous;
}

UINT WINAPI GetMenuState(HMENU menu, UINT id, UINT flags)
{
    MenuItem* item = (flags & MF_BYPOSITION) || ShouldFail("GetMenuState") ? nullptr : FindItem(menu, id);
    UINT state = item == nullptr ? 0xFFFFFFFF : (item->checked ? MF_CHECKED : 0);
    LogCall("GetMenuState(%s, %u, 0x%x) = 0x%x", Hmenu(menu).c_str(), id, flags, state);
    return state;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect)
{
    LogCall("TrackPopupMenu(%s, 0x%x, %d, %d, %d, %s, %s)", Hmenu(menu).c_str(), flags, x, y, reserved,
            Hwnd(owner).c_str(), rect == nullptr ? "null" : "rect");
    if (FindMenu(menu) == nullptr || Alive(owner) == nullptr || ShouldFail("TrackPopupMenu"))
        return FALSE;
    ++S.menusShown;
    MenuScript script = { 0, 0 };
    if (!S.menuScripts.empty()) {
        script = S.menuScripts.front();
        S.menuScripts.pop_front();
    }
    RunModalLoop(S.now + script.openMs);
    // The choice reaches the owner through its queue once the menu has closed.
    if (script.command != 0)
        S.posted.push_back(MSG{ owner, WM_COMMAND, script.command, 0, S.now, S.cursor });
    return TRUE;
}

BOOL WINAPI DestroyMenu(HMENU handle)
{
    LogCall("DestroyMenu(%s)", Hmenu(handle).c_str());
    Menu* menu = FindMenu(handle);
    if (menu == nullptr || ShouldFail("DestroyMenu"))
        return FALSE;
    menu->alive = false;
    return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT point)
{
    bool fails = ShouldFail("GetCursorPos");
    LogCall("GetCursorPos() = %s", fails ? "FALSE" : Format("%d,%d", S.cursor.x, S.cursor.y).c_str());
    if (fails)
        return FALSE;
    *point = S.cursor;
    return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND window)
{
    LogCall("SetForegroundWindow(%s)", Hwnd(window).c_str());
    return Alive(window) != nullptr && !ShouldFail("SetForegroundWindow");
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    LogCall("MessageBoxA(%s, %s, %s, 0x%08x)", Hwnd(owner).c_str(), Str(text).c_str(), Str(caption).c_str(), type);
    if (ShouldFail("MessageBoxA"))
        return 0;
    ++S.boxesShown;
    DWORD openMs = 0;
    if (!S.boxScripts.empty()) {
        openMs = S.boxScripts.front();
        S.boxScripts.pop_front();
    }
    RunModalLoop(S.now + openMs);
    return IDOK;
}

VOID WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD data, ULONG_PTR extraInfo)
{
    LogCall("mouse_event(0x%04x, %u, %u, %u, %llu)", flags, dx, dy, data, static_cast<unsigned long long>(extraInfo));
    // The system may drop an injected input (a window of higher integrity
    // has the focus) without telling the caller.
    if (!ShouldFail("mouse_event"))
        S.inputs.push_back(S.now);
}

// ---- shell32 ---------------------------------------------------------------------

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data)
{
    const char* op = message == NIM_ADD ? "NIM_ADD" : message == NIM_DELETE ? "NIM_DELETE" : "other";
    TrayRequest request{ message,
                         TrayIcon{ data->hWnd, data->uID, data->uFlags, data->uCallbackMessage, data->hIcon,
                                   std::string(data->szTip, 64) },
                         data->cbSize == NOTIFYICONDATAA_V1_SIZE || data->cbSize == sizeof(NOTIFYICONDATAA) };
    bool timedOut = false;
    BOOL result = message == NIM_ADD || message == NIM_DELETE ? RequestTray(request, op, &timedOut) : FALSE;
    LogCall("Shell_NotifyIconA(%s, size=%u, %s, id=%u, flags=%u, callback=%u, icon=%s, tip=\"%s\") = %s%s", op,
            data->cbSize, Hwnd(data->hWnd).c_str(), data->uID, data->uFlags, data->uCallbackMessage,
            data->hIcon == TheMainIcon ? "MAINICON"
            : data->hIcon == nullptr   ? "null"
                                       : "other",
            Quote(std::string(data->szTip, strnlen(data->szTip, 64))).c_str(), Bool(result).c_str(),
            timedOut ? " (no answer in time)" : "");
    return result;
}
