// What every probe command shares: ovq's window class, the exit codes and the
// key=value output on stdout.
#pragma once

#include <cstdarg>
#include <cstdio>

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
