// What the two simulated layers share (WinSim.cpp, the program's; MachineSim.cpp,
// the installer's custom actions'): the formatting of their log lines, and the
// plan of the calls that are to fail.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <string>

namespace simsupport {

inline std::string FormatList(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    std::string out(static_cast<size_t>(vsnprintf(nullptr, 0, format, args)), '\0');
    vsnprintf(&out[0], out.size() + 1, format, again);
    va_end(again);
    return out;
}

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string out = FormatList(format, args);
    va_end(args);
    return out;
}

// Which calls fail: by name, the n-th call from the plan on (after skip that
// succeed) and times in all, or every call until a moment of the clock.
struct FaultPlan {
    struct Failure {
        int skip = 0;
        int times = 0;
        DWORD until = 0;
    };
    std::map<std::string, Failure> failures;

    // Whether this call of the named function fails, at the moment now.
    bool ShouldFail(const std::string& call, DWORD now)
    {
        auto it = failures.find(call);
        if (it == failures.end())
            return false;
        if (it->second.times > 0) {
            if (it->second.skip > 0) {
                --it->second.skip;
                return false;
            }
            --it->second.times;
            return true;
        }
        return now < it->second.until;
    }

    void FailNth(const std::string& call, int n, int times)
    {
        failures[call].skip = n - 1;
        failures[call].times = times;
    }

    void FailUntil(const std::string& call, DWORD until) { failures[call].until = until; }

    // The failures planned that have not happened yet.
    int Pending() const
    {
        int pending = 0;
        for (const auto& failure : failures)
            pending += failure.second.times;
        return pending;
    }
};

}  // namespace simsupport
