// wait-started: the copy a launcher started, told from any other copy by an
// entry of its environment, and its start-up told done by its title; without
// arguments, whose title is the one the window is made with, by its first tick.

#include "Started.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "ProbeOutput.h"
// ovq's own code for its command text, so that the title expected is the one
// ovq makes of the same arguments, whatever their quotes, blanks or bytes.
#include "UTypes.h"
#include "app/CommandLine.h"

AppState App;

namespace {

const DWORD kPollMs = 20;
// An environment block larger than this is not read further.
const size_t kEnvironmentLimit = 1 << 20;

// The heads of the process environment block and of its process parameters, up
// to the fields read here; the layouts are the same on Windows and in Wine.
struct PebHead {
    BYTE flags[4];
    PVOID mutant;
    PVOID imageBase;
    PVOID loader;
    PVOID processParameters;
};
struct ParametersHead {
    ULONG maximumLength, length, flags, debugFlags;
    HANDLE console;
    ULONG consoleFlags;
    HANDLE standardInput, standardOutput, standardError;
    UNICODE_STRING currentDirectory;
    HANDLE currentDirectoryHandle;
    UNICODE_STRING dllPath, imagePath, commandLine;
    PVOID environment;
};
static_assert(offsetof(PebHead, processParameters) == (sizeof(void*) == 8 ? 0x20 : 0x10), "PEB layout");
static_assert(offsetof(ParametersHead, environment) == (sizeof(void*) == 8 ? 0x80 : 0x48), "parameters layout");

typedef LONG(WINAPI* QueryInformationProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

bool readMemory(HANDLE process, const void* at, void* into, size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, at, into, size, &got) && got == size;
}

// The entries of the process's environment block, read from its memory (a
// process of the probe's own bitness); false when it cannot be read.
bool readEnvironment(HANDLE process, std::vector<std::wstring>* entries) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    QueryInformationProcess query = ntdll ? reinterpret_cast<QueryInformationProcess>(reinterpret_cast<void*>(
                                                GetProcAddress(ntdll, "NtQueryInformationProcess")))
                                          : nullptr;
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return false;
    PebHead peb = {};
    ParametersHead parameters = {};
    if (!readMemory(process, basic.PebBaseAddress, &peb, sizeof peb) ||
        !readMemory(process, peb.processParameters, &parameters, sizeof parameters) || !parameters.environment)
        return false;
    // Page by page, so that a read never crosses into memory that is not there,
    // until the empty entry that ends the block.
    std::wstring block;
    const BYTE* at = static_cast<const BYTE*>(parameters.environment);
    size_t end = std::wstring::npos;
    while (end == std::wstring::npos) {
        if (block.size() * sizeof(wchar_t) >= kEnvironmentLimit) return false;
        size_t bytes = 4096 - (reinterpret_cast<ULONG_PTR>(at) & 4095);
        std::vector<wchar_t> chunk(bytes / sizeof(wchar_t));
        if (!readMemory(process, at, chunk.data(), chunk.size() * sizeof(wchar_t))) return false;
        block.append(chunk.data(), chunk.size());
        at += chunk.size() * sizeof(wchar_t);
        end = block.find(std::wstring(2, L'\0'));
    }
    entries->clear();
    for (size_t start = 0; start <= end; start = block.find(L'\0', start) + 1)
        entries->push_back(block.substr(start, block.find(L'\0', start) - start));
    return true;
}

// NAME=VALUE among the entries; the name in any case, as Windows compares names.
bool hasEntry(const std::vector<std::wstring>& entries, const std::wstring& wanted) {
    size_t nameLength = wanted.find(L'=');
    for (const std::wstring& entry : entries) {
        if (entry.size() == wanted.size() && entry[nameLength] == L'=' &&
            CompareStringOrdinal(entry.c_str(), static_cast<int>(nameLength), wanted.c_str(),
                                 static_cast<int>(nameLength), TRUE) == CSTR_EQUAL &&
            entry.compare(nameLength, std::wstring::npos, wanted, nameLength, std::wstring::npos) == 0)
            return true;
    }
    return false;
}

// One plain word NAME=VALUE: letters, digits, '_', '-', '.', with a name.
bool plainEntry(const char* text) {
    const char* equals = std::strchr(text, '=');
    if (!equals || equals == text) return false;
    for (const char* p = text; *p; ++p)
        if (!std::strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.=", *p)) return false;
    return true;
}

// The text ovq makes of the copy's arguments: ovq's BuildCommandString run over
// this probe's command line gives "ovq", the probe's own first words and then
// the arguments, split as ovq splits them. Wine makes both command lines from
// the same arguments the same way, and ovq splits each word by itself, so the
// copy's text is this one without the probe's words.
bool expectedText(int skip, char** words, std::string* text) {
    BuildCommandString();
    std::string all = App.CommandString;
    std::string head = OVQ_SHORT_NAME;
    for (int i = 0; i < skip; ++i)
        head += std::string(" ") + words[i];
    if (all.compare(0, head.size(), head) != 0 || (all.size() > head.size() && all[head.size()] != ' ')) return false;
    *text = OVQ_SHORT_NAME + all.substr(head.size());
    return true;
}

// What one look at ovq's window found.
struct Look {
    bool found = false, own = false, idle = false, running = false, titled = false;
    DWORD pid = 0;
    std::string title;
};

// The window, its process and its title, each looked at only once the one before
// holds: no message is sent to a copy that is not this launcher's, or that does
// not yet wait for input.
Look look(const std::wstring& entry, const std::string& expected, DWORD idleMs) {
    Look seen;
    HWND hwnd = FindWindowA(kAppClass, nullptr);
    if (!hwnd) return seen;
    seen.found = true;
    GetWindowThreadProcessId(hwnd, &seen.pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, seen.pid);
    if (!process) return seen;
    std::vector<std::wstring> entries;
    seen.own = readEnvironment(process, &entries) && hasEntry(entries, entry);
    if (seen.own) {
        seen.idle = WaitForInputIdle(process, idleMs) == 0;
        seen.running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    }
    if (seen.own && seen.idle && seen.running) {
        seen.title = windowText(hwnd);
        // The window is still there once its title has been read: the title is
        // that of a window that stays, not of one being destroyed.
        seen.titled = seen.title == expected && IsWindow(hwnd) && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    }
    CloseHandle(process);
    return seen;
}

// The time of the last input the system saw (GetTickCount's clock), or 0.
DWORD lastInput() {
    LASTINPUTINFO info = {sizeof info, 0};
    return GetLastInputInfo(&info) ? info.dwTime : 0;
}

}  // namespace

int cmdWaitStarted(DWORD ms, int argc, char** argv) {
    // argv: probe wait-started <ms> <NAME=VALUE> [arguments...]
    std::string expected;
    if (argc < 4 || !plainEntry(argv[3]) || !expectedText(3, argv + 1, &expected)) {
        out("error=usage: wait-started <ms> <NAME=VALUE> [arguments...]");
        return kUsage;
    }
    const std::wstring entry(argv[3], argv[3] + std::strlen(argv[3]));
    printText("expected", expected);
    // Without arguments the title is "ovq" from the window's first moment on,
    // before the tray icon and the timer; what shows that the copy has then
    // done its start-up and runs its message loop is its first tick: the zero
    // mouse move, which the system counts as input. The ticks come only from
    // there, and a copy started without arguments always has the switch off.
    // (Real input on a real display would count too; it cannot end a start-up
    // early, only be taken for the tick that follows within 900 ms.)
    const bool needTick = argc == 4;
    DWORD start = GetTickCount();
    DWORD titledAt = 0;
    bool ticked = false;
    Look seen;
    for (;;) {
        DWORD spent = GetTickCount() - start;
        seen = look(entry, expected, spent < ms ? (ms - spent < kPollMs ? ms - spent : kPollMs) : 0);
        if (seen.titled && !needTick) break;
        if (!seen.titled) {
            titledAt = 0;
        } else if (titledAt == 0) {
            titledAt = GetTickCount();
        } else if (static_cast<LONG>(lastInput() - titledAt) > 0) {
            ticked = true;
            break;
        }
        if (GetTickCount() - start >= ms) break;
        Sleep(kPollMs);
    }
    const bool started = seen.titled && (ticked || !needTick);
    out("found=%d", seen.found ? 1 : 0);
    if (seen.found) {
        out("pid=%lu", static_cast<unsigned long>(seen.pid));
        out("own=%d", seen.own ? 1 : 0);
    }
    if (seen.own) {
        out("idle=%d", seen.idle ? 1 : 0);
        out("running=%d", seen.running ? 1 : 0);
    }
    if (seen.own && seen.idle && seen.running) printText("title", seen.title);
    if (needTick) out("ticked=%d", ticked ? 1 : 0);
    out("started=%d", started ? 1 : 0);
    out("elapsed_ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    return started ? kOk : kNo;
}
