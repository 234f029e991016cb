// Delivers WM_SETTEXT to ovq's window from a thread started inside ovq's process.
//
// The probe is built for the same machine as the ovq it drives (both i386 or both
// x86-64), and both run in the same Wine prefix, where user32.dll is loaded at the
// same base address in every process of that kind; the code written into ovq
// therefore calls the probe's own address of SendMessageA. That is checked first,
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

// The base of user32.dll in the target, from its module list; null when absent.
void* remoteUser32Base(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE) {
        out("error=CreateToolhelp32Snapshot failed (%lu)", lastError());
        return nullptr;
    }
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    void* base = nullptr;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szModule, "user32.dll") == 0) {
            base = entry.modBaseAddr;
            break;
        }
    }
    CloseHandle(snapshot);
    if (!base) out("error=user32.dll not in the module list of process %lu", static_cast<unsigned long>(pid));
    return base;
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

    HMODULE user32 = GetModuleHandleA("user32.dll");
    target->sendMessage = user32 ? GetProcAddress(user32, "SendMessageA") : nullptr;
    if (!target->sendMessage) {
        out("error=no SendMessageA in this process");
        return false;
    }
    void* remoteBase = remoteUser32Base(target->pid);
    if (!remoteBase) return false;
    out("user32_base=0x%llx", address(user32));
    out("user32_base_target=0x%llx", address(remoteBase));
    if (remoteBase != static_cast<void*>(user32)) {
        out("error=user32.dll is loaded at another base in the target; its SendMessageA address is unknown");
        return false;
    }

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
// fn(a, b, c, d) and returns its result as the thread's exit code, in the
// calling convention of the probe's own machine, which is ovq's.
std::vector<unsigned char> callStub(FARPROC fn, ULONG_PTR a, ULONG_PTR b, ULONG_PTR c, ULONG_PTR d) {
    const unsigned long long function = reinterpret_cast<ULONG_PTR>(fn);
    std::vector<unsigned char> code;
    if constexpr (sizeof(void*) == 8) {
        // sub rsp, 40 (the callee's 32 bytes of home space, and the stack
        // aligned to 16 at the call); mov rcx, a; mov rdx, b; mov r8, c;
        // mov r9, d; mov rax, fn; call rax; add rsp, 40; ret
        appendBytes(&code, {0x48, 0x83, 0xEC, 0x28});
        appendBytes(&code, {0x48, 0xB9});
        appendValue(&code, a, 8);
        appendBytes(&code, {0x48, 0xBA});
        appendValue(&code, b, 8);
        appendBytes(&code, {0x49, 0xB8});
        appendValue(&code, c, 8);
        appendBytes(&code, {0x49, 0xB9});
        appendValue(&code, d, 8);
        appendBytes(&code, {0x48, 0xB8});
        appendValue(&code, function, 8);
        appendBytes(&code, {0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x28, 0xC3});
    } else {
        // push d; push c; push b; push a; mov eax, fn; call eax; ret 4
        for (ULONG_PTR arg : {d, c, b, a}) {
            appendBytes(&code, {0x68});
            appendValue(&code, arg, 4);
        }
        appendBytes(&code, {0xB8});
        appendValue(&code, function, 4);
        appendBytes(&code, {0xFF, 0xD0, 0xC2, 0x04, 0x00});
    }
    return code;
}

// Runs SendMessageA(hwnd, msg, wParam, lParam) on a new thread in the target and
// waits for it; *result is the thread's exit code, *elapsedMs the thread's run.
bool remoteSendMessage(const Target& target, UINT msg, ULONG_PTR wParam, ULONG_PTR lParam, DWORD* result,
                       DWORD* elapsedMs) {
    std::vector<unsigned char> code =
        callStub(target.sendMessage, reinterpret_cast<ULONG_PTR>(target.hwnd), msg, wParam, lParam);
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
