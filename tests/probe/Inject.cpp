// Calls made from a thread started inside ovq's process: WM_SETTEXT delivered
// there, and what only the process itself can tell (its code page, its DPI
// awareness, the texts of its menu).
//
// The probe is built for the same machine as the ovq it drives (both i386 or both
// x86-64), and both run in the same Wine prefix, where a system DLL is loaded at
// the same base address in every process of that kind; the code written into ovq
// therefore calls the probe's own address of the function. That is checked first,
// against the module list of ovq's process, and the command fails when the bases
// differ.
//
// Output (key=value): pid, hwnd, user32 bases, text_bytes, write_ms, elapsed_ms
// (thread start to thread end, i.e. the delivery), result (SendMessageA's return),
// alive (the window still exists), title_length (GetWindowTextLengthA from this
// process) and, for generated texts, readback_length / readback_match (the title
// read back inside ovq's process with WM_GETTEXT and compared with what was sent).

#include "Inject.h"
#include "ProbeOutput.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

const DWORD kRemoteCallMs = 60000;

unsigned long lastError() { return static_cast<unsigned long>(GetLastError()); }

unsigned long long address(const void* p) { return reinterpret_cast<ULONG_PTR>(p); }

// Memory inside the target process, freed when it goes out of scope (unless kept).
class RemoteMemory {
public:
    RemoteMemory(HANDLE process, size_t size, DWORD protection)
        : process_(process)
        , base_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, protection))
        , size_(size) {}
    ~RemoteMemory() {
        if (base_ && !keep_) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    bool ok() const { return base_ != nullptr; }
    void* base() const { return base_; }
    ULONG_PTR at() const { return reinterpret_cast<ULONG_PTR>(base_); }
    // A thread that did not end may still use the memory: it is then left behind.
    void keep() { keep_ = true; }

    bool write(const void* data, size_t size) {
        SIZE_T written = 0;
        return size <= size_ && WriteProcessMemory(process_, base_, data, size, &written) && written == size;
    }
    bool read(void* data, size_t size) const {
        SIZE_T got = 0;
        return size <= size_ && ReadProcessMemory(process_, base_, data, size, &got) && got == size;
    }

private:
    HANDLE process_;
    void* base_;
    size_t size_;
    bool keep_ = false;
};

struct Target {
    HWND hwnd = nullptr;
    DWORD pid = 0;
    HANDLE process = nullptr;
    FARPROC sendMessage = nullptr;
};

// The base of the module of that file name in the target, from its module list;
// null when absent.
void* remoteModuleBase(DWORD pid, const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) {
        out("error=CreateToolhelp32Snapshot failed (%lu)", lastError());
        return nullptr;
    }
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    void* base = nullptr;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szModule, name) == 0) {
            base = entry.modBaseAddr;
            break;
        }
    }
    CloseHandle(snapshot);
    if (!base) out("error=%s not in the module list of process %lu", name, static_cast<unsigned long>(pid));
    return base;
}

// The probe's address of module!name, once it is known to be the target's too:
// the module that holds the code (a forwarded export may live in another one)
// has the same base in both processes. Null, with an error line, otherwise.
FARPROC sameAddressFunction(const Target& target, const char* module, const char* name) {
    HMODULE exporter = GetModuleHandleA(module);
    FARPROC fn = exporter ? GetProcAddress(exporter, name) : nullptr;
    HMODULE holder = nullptr;
    char path[MAX_PATH] = {};
    if (!fn ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(fn), &holder) ||
        !GetModuleFileNameA(holder, path, sizeof path)) {
        out("error=no %s in %s here", name, module);
        return nullptr;
    }
    const char* file = std::strrchr(path, '\\') ? std::strrchr(path, '\\') + 1 : path;
    void* remoteBase = remoteModuleBase(target.pid, file);
    if (!remoteBase) return nullptr;
    if (remoteBase != static_cast<void*>(holder)) {
        out("error=%s is loaded at another base in the target (0x%llx, here 0x%llx); %s is not where it is here", file,
            address(remoteBase), address(holder), name);
        return nullptr;
    }
    return fn;
}

// Finds ovq's window, opens its process and makes sure SendMessageA is where the
// code written into it will look for it.
bool openTarget(Target* target) {
    target->hwnd = FindWindowA(kAppClass, nullptr);
    if (!target->hwnd) {
        out("found=0");
        return false;
    }
    GetWindowThreadProcessId(target->hwnd, &target->pid);
    out("found=1");
    out("hwnd=0x%llx", address(target->hwnd));
    out("pid=%lu", static_cast<unsigned long>(target->pid));

    target->sendMessage = sameAddressFunction(*target, "user32.dll", "SendMessageA");
    if (!target->sendMessage) return false;

    target->process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                      PROCESS_VM_READ | PROCESS_VM_WRITE | SYNCHRONIZE,
                                  FALSE, target->pid);
    if (!target->process) {
        out("error=OpenProcess failed (%lu)", lastError());
        return false;
    }
    return true;
}

void appendBytes(std::vector<unsigned char>* code, std::initializer_list<unsigned char> bytes) {
    code->insert(code->end(), bytes);
}

// The value's low `size` bytes, little-endian.
void appendValue(std::vector<unsigned char>* code, unsigned long long value, int size) {
    for (int i = 0; i < size; ++i)
        code->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A thread routine (DWORD WINAPI routine(void*)) that calls the WINAPI function
// fn(args...) and returns its result as the thread's exit code, in the calling
// convention of the probe's own machine, which is ovq's.
std::vector<unsigned char> callStub(FARPROC fn, const std::vector<ULONG_PTR>& args) {
    const unsigned long long function = reinterpret_cast<ULONG_PTR>(fn);
    std::vector<unsigned char> code;
    if constexpr (sizeof(void*) == 8) {
        // sub rsp, frame: the callee's 32 bytes of home space, the arguments
        // after the fourth above them, and the stack aligned to 16 at the call
        // (it is 8 off at the routine's entry). Those arguments go through rax
        // into their slots; the first four into rcx, rdx, r8 and r9. Then
        // mov rax, fn; call rax; add rsp, frame; ret
        const size_t stacked = args.size() > 4 ? args.size() - 4 : 0;
        const unsigned char frame = static_cast<unsigned char>(32 + 8 * (stacked + (stacked % 2 == 0 ? 1 : 0)));
        appendBytes(&code, {0x48, 0x83, 0xEC, frame});
        for (size_t i = 4; i < args.size(); ++i) {
            appendBytes(&code, {0x48, 0xB8});
            appendValue(&code, args[i], 8);
            appendBytes(&code, {0x48, 0x89, 0x44, 0x24, static_cast<unsigned char>(32 + 8 * (i - 4))});
        }
        const unsigned char registers[4][2] = {{0x48, 0xB9}, {0x48, 0xBA}, {0x49, 0xB8}, {0x49, 0xB9}};
        for (size_t i = 0; i < args.size() && i < 4; ++i) {
            appendBytes(&code, {registers[i][0], registers[i][1]});
            appendValue(&code, args[i], 8);
        }
        appendBytes(&code, {0x48, 0xB8});
        appendValue(&code, function, 8);
        appendBytes(&code, {0xFF, 0xD0, 0x48, 0x83, 0xC4, frame, 0xC3});
    } else {
        // push the arguments, the last first; mov eax, fn; call eax; ret 4
        for (size_t i = args.size(); i-- > 0;) {
            appendBytes(&code, {0x68});
            appendValue(&code, args[i], 4);
        }
        appendBytes(&code, {0xB8});
        appendValue(&code, function, 4);
        appendBytes(&code, {0xFF, 0xD0, 0xC2, 0x04, 0x00});
    }
    return code;
}

// Runs fn(args...) on a new thread in the target and waits for it; *result is
// the thread's exit code (the low 32 bits of fn's result), *elapsedMs the
// thread's run.
bool remoteCall(const Target& target, FARPROC fn, const std::vector<ULONG_PTR>& args, DWORD* result, DWORD* elapsedMs) {
    std::vector<unsigned char> code = callStub(fn, args);
    RemoteMemory codeMemory(target.process, code.size(), PAGE_EXECUTE_READWRITE);
    if (!codeMemory.ok() || !codeMemory.write(code.data(), code.size())) {
        out("error=writing the code failed (%lu)", lastError());
        return false;
    }
    FlushInstructionCache(target.process, codeMemory.base(), code.size());

    DWORD start = GetTickCount();
    HANDLE thread = CreateRemoteThread(
        target.process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(codeMemory.base()), nullptr, 0, nullptr);
    if (!thread) {
        out("error=CreateRemoteThread failed (%lu)", lastError());
        return false;
    }
    DWORD waited = WaitForSingleObject(thread, kRemoteCallMs);
    *elapsedMs = GetTickCount() - start;
    bool ended = waited == WAIT_OBJECT_0;
    if (!ended) {
        out("error=the thread in the target did not end within %lu ms", static_cast<unsigned long>(kRemoteCallMs));
        codeMemory.keep();
    } else if (!GetExitCodeThread(thread, result)) {
        out("error=GetExitCodeThread failed (%lu)", lastError());
        ended = false;
    }
    CloseHandle(thread);
    return ended;
}

// SendMessageA(window, msg, wParam, lParam) from a new thread in the target.
bool remoteSendMessage(const Target& target, HWND window, UINT msg, ULONG_PTR wParam, ULONG_PTR lParam, DWORD* result,
                       DWORD* elapsedMs) {
    return remoteCall(target, target.sendMessage, {reinterpret_cast<ULONG_PTR>(window), msg, wParam, lParam}, result,
                      elapsedMs);
}

bool remoteSendMessage(const Target& target, UINT msg, ULONG_PTR wParam, ULONG_PTR lParam, DWORD* result,
                       DWORD* elapsedMs) {
    return remoteSendMessage(target, target.hwnd, msg, wParam, lParam, result, elapsedMs);
}

void reportWindow(const Target& target) {
    bool alive = IsWindow(target.hwnd) != FALSE;
    out("alive=%d", alive ? 1 : 0);
    if (alive) out("title_length=%d", GetWindowTextLengthA(target.hwnd));
}

// Filler words, none of them a command: ASCII words (some that merely look like
// one) and, after every kAsciiRun of them, one code page 932 word (hiragana,
// katakana, kanji, among them the trail bytes 0x5C and 0x7C). The Japanese share
// stays small on purpose: Wine's X11 driver hands the title to the X server as
// UTF-8, where a double-byte character takes three bytes, and a title above 16 MiB
// in UTF-8 ends the process with an X error; a 15 MiB text with about 5 % Japanese
// bytes stays below that.
const char* const kAsciiWords[] = {"filler", "text", "-sx", "words", "s-", "--", "padding", "-S-", "plain", "x-"};
const char* const kJapaneseWords[] = {
    "\x93\xfa\x96\x7b\x8c\xea",                  // nihongo
    "\x83\x65\x83\x58\x83\x67",                  // tesuto
    "\x95\x5c\x8e\xa6",                          // hyouji
    "\x83\x5c\x83\x74\x83\x67",                  // sofuto
    "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8",  // aiueo
    "\x8f\x5c\x95\xaa\x83\x7c",                  // juubun + po
};
const size_t kAsciiRun = 20;

template <typename T, size_t N>
constexpr size_t countOf(T (&)[N]) {
    return N;
}

// "ovq", filler words and " tail", exactly `bytes` long. A last word of plain
// letters makes the length come out exact.
bool generateText(unsigned long bytes, const char* tail, std::string* text) {
    std::string end = tail ? std::string(" ") + tail : std::string();
    const std::string head = "ovq";
    if (bytes < head.size() + end.size()) return false;
    const size_t fillTo = bytes - end.size();
    text->clear();
    text->reserve(bytes + 1);
    *text = head;
    size_t ascii = 0, japanese = 0;
    for (;;) {
        const char* next = ascii < kAsciiRun * (japanese + 1) ? kAsciiWords[ascii++ % countOf(kAsciiWords)]
                                                              : kJapaneseWords[japanese++ % countOf(kJapaneseWords)];
        size_t need = 1 + std::strlen(next);
        if (text->size() + need > fillTo) break;
        *text += ' ';
        *text += next;
    }
    if (text->size() < fillTo) {
        // With a single byte left it joins the word before, which stays no command.
        if (fillTo - text->size() >= 2) *text += ' ';
        text->append(fillTo - text->size(), 'a');
    }
    *text += end;
    return text->size() == bytes;
}

// The text's length in UTF-16 units and in UTF-8 bytes (as the X server gets it).
void reportEncodedSizes(const std::string& text) {
    int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    out("text_utf16_units=%d", units);
    if (units <= 0) return;
    std::vector<WCHAR> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    out("text_utf8_bytes=%d", WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr));
}

}  // namespace

int cmdInjectSetTextSize(unsigned long bytes, const char* tail) {
    std::string text;
    if (!generateText(bytes, tail, &text)) {
        out("error=%lu bytes are too few for \"ovq\" and the tail", bytes);
        return kUsage;
    }
    Target target;
    if (!openTarget(&target)) {
        if (target.process) CloseHandle(target.process);
        return kNo;
    }
    out("acp=%u", GetACP());
    out("text_bytes=%lu", static_cast<unsigned long>(text.size()));
    reportEncodedSizes(text);

    int rc = kNo;
    {
        DWORD writeStart = GetTickCount();
        RemoteMemory textMemory(target.process, text.size() + 1, PAGE_READWRITE);
        if (!textMemory.ok() || !textMemory.write(text.c_str(), text.size() + 1)) {
            out("error=writing the text failed (%lu)", lastError());
        } else {
            out("write_ms=%lu", static_cast<unsigned long>(GetTickCount() - writeStart));
            DWORD result = 0, elapsed = 0;
            bool sent = remoteSendMessage(target, WM_SETTEXT, 0, textMemory.at(), &result, &elapsed);
            out("elapsed_ms=%lu", static_cast<unsigned long>(elapsed));
            if (!sent) {
                textMemory.keep();
            } else {
                out("result=%lu", static_cast<unsigned long>(result));
                reportWindow(target);
                rc = kOk;
                // The title read back inside ovq, into the same memory (the text is no longer needed).
                if (IsWindow(target.hwnd)) {
                    DWORD copied = 0, readMs = 0;
                    std::vector<char> back(text.size() + 1, '\0');
                    if (remoteSendMessage(target, WM_GETTEXT, back.size(), textMemory.at(), &copied, &readMs) &&
                        textMemory.read(back.data(), back.size())) {
                        out("readback_length=%lu", static_cast<unsigned long>(copied));
                        out("readback_ms=%lu", static_cast<unsigned long>(readMs));
                        bool same = copied == text.size() && std::memcmp(back.data(), text.c_str(), text.size()) == 0;
                        out("readback_match=%d", same ? 1 : 0);
                    } else {
                        out("error=reading the title back failed");
                        textMemory.keep();
                        rc = kNo;
                    }
                }
            }
        }
    }
    CloseHandle(target.process);
    return rc;
}

int cmdInjectSetTextNull() {
    Target target;
    if (!openTarget(&target)) {
        if (target.process) CloseHandle(target.process);
        return kNo;
    }
    DWORD result = 0, elapsed = 0;
    bool sent = remoteSendMessage(target, WM_SETTEXT, 0, 0, &result, &elapsed);
    out("elapsed_ms=%lu", static_cast<unsigned long>(elapsed));
    if (sent) {
        out("result=%lu", static_cast<unsigned long>(result));
        reportWindow(target);
    }
    CloseHandle(target.process);
    return sent ? kOk : kNo;
}

int cmdInjectLoad(const char* path) {
    Target target;
    if (!openTarget(&target)) {
        if (target.process) CloseHandle(target.process);
        return kNo;
    }
    FARPROC loadLibrary = sameAddressFunction(target, "kernel32.dll", "LoadLibraryA");
    size_t size = std::strlen(path) + 1;
    RemoteMemory name(target.process, size, PAGE_READWRITE);
    DWORD result = 0, elapsed = 0;
    bool called = loadLibrary && name.ok() && name.write(path, size) &&
                  remoteCall(target, loadLibrary, {name.at()}, &result, &elapsed);
    out("loaded=%d", called && result != 0 ? 1 : 0);
    CloseHandle(target.process);
    return called && result != 0 ? kOk : kNo;
}

int cmdInsideInfo() {
    Target target;
    if (!openTarget(&target)) {
        if (target.process) CloseHandle(target.process);
        return kNo;
    }
    int rc = kOk;
    const char* const questions[][2] = {{"acp", "GetACP"}, {"oemcp", "GetOEMCP"}};
    for (const auto& question : questions) {
        FARPROC fn = sameAddressFunction(target, "kernel32.dll", question[1]);
        DWORD answer = 0, elapsed = 0;
        if (fn && remoteCall(target, fn, {}, &answer, &elapsed))
            out("%s=%lu", question[0], static_cast<unsigned long>(answer));
        else
            rc = kNo;
    }
    CloseHandle(target.process);
    return rc;
}

int cmdMenuTexts(HWND menuWindow) {
    if (!menuWindow) {
        out("menu=0");
        return kNo;
    }
    out("menu=1");
    Target target;
    if (!openTarget(&target)) {
        if (target.process) CloseHandle(target.process);
        return kNo;
    }
    int rc = kNo;
    DWORD menu = 0, elapsed = 0, count = 0;
    FARPROC itemCount = sameAddressFunction(target, "user32.dll", "GetMenuItemCount");
    FARPROC itemText = sameAddressFunction(target, "user32.dll", "GetMenuStringW");
    const DWORD units = 128;
    RemoteMemory buffer(target.process, units * sizeof(WCHAR), PAGE_READWRITE);
    // The menu window names its menu, but only to a thread of its own process.
    if (itemCount && itemText && buffer.ok() &&
        remoteSendMessage(target, menuWindow, MN_GETHMENU, 0, 0, &menu, &elapsed) && menu != 0) {
        const ULONG_PTR handle = static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(menu)));
        out("hmenu=0x%lx", static_cast<unsigned long>(menu));
        if (remoteCall(target, itemCount, {handle}, &count, &elapsed)) out("items=%ld", static_cast<long>(count));
        rc = kOk;
        for (UINT id : {202u, 201u, 200u}) {
            DWORD length = 0;
            std::vector<wchar_t> text(units, L'\0');
            if (!remoteCall(target, itemText, {handle, id, buffer.at(), units, MF_BYCOMMAND}, &length, &elapsed) ||
                length >= units || !buffer.read(text.data(), units * sizeof(WCHAR))) {
                out("error=the text of item %u cannot be read", id);
                rc = kNo;
                continue;
            }
            out("item.%u=%s", id, wideToUtf8(text.data(), length).c_str());
            out("item.%u.utf16=%s", id, wideHex(text.data(), length).c_str());
        }
    } else {
        out("error=the open menu's handle cannot be had from inside ovq");
    }
    CloseHandle(target.process);
    return rc;
}
