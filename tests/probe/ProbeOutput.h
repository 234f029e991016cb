// What every probe command shares: ovq's window class, the exit codes, the
// key=value output on stdout, and the reading of numbers, class names and
// command lines.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline constexpr char kAppClass[] = "TApp_TOOLScrBlock";

enum ExitCode { kOk = 0, kNo = 1, kUsage = 2 };

// Prints one key=value line and flushes it, so a script sees it at once.
inline void out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// A whole decimal, hex (0x) or octal number, and nothing after it.
inline bool parseNumber(const char* text, unsigned long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return end && *end == '\0';
}

inline std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

inline std::string wideToUtf8(const wchar_t* text, size_t length) {
    if (!length) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

// UTF-16 code units as little-endian hex, the way Windows stores them.
inline std::string wideHex(const wchar_t* text, size_t length) {
    std::string bytes;
    for (size_t i = 0; i < length; ++i) {
        bytes += static_cast<char>(text[i] & 0xff);
        bytes += static_cast<char>((text[i] >> 8) & 0xff);
    }
    return toHex(bytes);
}

// ANSI (code page of the process, 932 in the test prefix) to UTF-8 for printing.
inline std::string ansiToUtf8(const std::string& ansi) {
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

inline void printText(const char* key, const std::string& ansi) {
    out("%s=%s", key, ansiToUtf8(ansi).c_str());
    out("%s_hex=%s", key, toHex(ansi).c_str());
}

// Reads a title through WM_GETTEXT; works across processes. A window whose
// thread does not answer within 10 s reads as empty.
inline std::string windowText(HWND hwnd) {
    const UINT timeoutMs = 10000;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length)) return std::string();
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                             timeoutMs, &copied))
        return std::string();
    return std::string(buffer.data(), copied);
}

inline std::string className(HWND hwnd) {
    char buffer[256] = {};
    GetClassNameA(hwnd, buffer, sizeof buffer);
    return buffer;
}

// Quotes one argument so that the child's C runtime parses it back unchanged.
inline std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// CreateProcessA, tried once more when it fails. A failed creation leaves no
// process behind: nothing of the program ran, so starting it again changes no
// outcome. Wine fails one now and then on a loaded machine (ERROR_INTERNAL_ERROR,
// 1359, when the new process dies in Wine's own start-up, before the program's
// first instruction). Each failure is reported on a line of its own.
inline BOOL createProcess(const std::string& commandLine, DWORD flags, STARTUPINFOA* startup,
                          PROCESS_INFORMATION* info) {
    for (int attempt = 1;; ++attempt) {
        std::string line = commandLine;
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, startup, info))
            return TRUE;
        DWORD error = GetLastError();
        out("start_failed=%lu", static_cast<unsigned long>(error));
        if (attempt == 2) {
            SetLastError(error);
            return FALSE;
        }
    }
}

// A program and its arguments as one command line.
inline std::string commandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        line += quoteArgument(argv[i]);
    }
    return line;
}
