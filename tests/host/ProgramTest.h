// A fixture for running the program in the simulated Windows layer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "UTypes.h"
#include "WinSim.h"

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { StartAfresh(); }

    // A new process: the simulated Windows and the program's state as at start.
    static void StartAfresh()
    {
        sim::Reset();
        App = AppState{};
    }

    // The main window of the running program, for scripted events.
    static HWND Main() { return sim::MainWindowOf(OVQ_WINDOW_CLASS); }

    // Ends the run from outside at `at`, the way another program would.
    static void CloseAt(DWORD at)
    {
        sim::At(at, [] { sim::PostFromOutside(Main(), WM_CLOSE, 0, 0); });
    }

    // Runs `action` at `at` and keeps the log lines it produced.
    static void CaptureAt(DWORD at, std::vector<std::string>* lines, std::function<void()> action)
    {
        sim::At(at, [lines, action] {
            size_t before = sim::Calls().size();
            action();
            lines->assign(sim::Calls().begin() + static_cast<long>(before), sim::Calls().end());
        });
    }
};

// The icon record as the log shows it in every Shell_NotifyIconA line.
const std::string TrayRecord = "size=88, hwnd1, id=13, flags=7, callback=1124, icon=MAINICON, "
                               "tip=\"\\x83X\\x83N\\x83\\x8a\\x81[\\x83\\x93\\x83Z\\x81[\\x83o\\x81[\\x97}\\x8e~\")";

// The command string's block holds "ovq", the command line and two bytes more.
inline std::string CommandStringBlock(const std::string& commandLine)
{
    return "HeapAlloc(heap, 0x0, " + std::to_string(4 + commandLine.size() + 1) + ") = block1";
}

// The log without the lines of the received text's memory and conversions,
// for tables about other calls.
inline std::vector<std::string> WithoutHeap(std::vector<std::string> lines)
{
    const char* const names[] = { "GetProcessHeap(", "HeapAlloc(", "HeapFree(", "MultiByteToWideChar(",
                                  "WideCharToMultiByte(" };
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& line) {
                                   return std::any_of(std::begin(names), std::end(names),
                                                      [&](const char* name) { return line.rfind(name, 0) == 0; });
                               }),
                lines.end());
    return lines;
}

// Log lines in a readable form for failure messages.
inline std::string Lines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += "  " + line + "\n";
    return out;
}

#define EXPECT_LINES(actual, ...) \
    do { \
        std::vector<std::string> expected_ = __VA_ARGS__; \
        std::vector<std::string> actual_ = (actual); \
        EXPECT_EQ(actual_, expected_) << "actual:\n" << Lines(actual_) << "expected:\n" << Lines(expected_); \
    } while (0)
