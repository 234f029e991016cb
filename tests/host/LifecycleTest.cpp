// Start-up, shut-down, the single-instance hand-off and the exit codes.

#include "ProgramTest.h"

namespace {

class LifecycleTest : public ProgramTest {
protected:
    // The log up to the first message the loop takes, and after the last.
    static std::vector<std::string> StartUp()
    {
        const auto& calls = sim::Calls();
        auto loop = std::find_if(calls.begin(), calls.end(),
                                 [](const std::string& line) { return line.rfind("GetMessageA", 0) == 0; });
        return std::vector<std::string>(calls.begin(), loop);
    }
    static std::vector<std::string> ShutDown()
    {
        const auto& calls = sim::Calls();
        auto last = std::find_if(calls.rbegin(), calls.rend(),
                                 [](const std::string& line) { return line.rfind("GetMessageA", 0) == 0; });
        return std::vector<std::string>(last.base(), calls.end());
    }
};

// A table laid out by hand, a row a line.
// clang-format off
const std::string MenuAndIconStartUp[] = {
    "CreatePopupMenu() = hmenu1",
    "AppendMenuA(hmenu1, 0x0, 202, \"\\x83X\\x83N\\x83\\x8a\\x81[\\x83\\x93\\x83Z\\x81[\\x83o\\x81[\\x82\\xcc"
    "\\x8bN\\x93\\xae\\x82\\xf0\\x8b\\x96\\x89\\xc2(&S)\")",
    "AppendMenuA(hmenu1, 0x0, 201, \"\\x83o\\x81[\\x83W\\x83\\x87\\x83\\x93\\x8f\\xee\\x95\\xf1(&A)\")",
    "AppendMenuA(hmenu1, 0x800, 0, null)",
    "AppendMenuA(hmenu1, 0x0, 200, \"\\x8fI\\x97\\xb9(&X)\")",
    "UpdateWindow(hwnd1)",
    "RegisterWindowMessageA(\"TaskbarCreated\")",
    "GetModuleHandleA(\"user32.dll\")",
    "GetProcAddress(user32, \"ChangeWindowMessageFilterEx\") = ChangeWindowMessageFilterEx",
    "ChangeWindowMessageFilterEx(hwnd1, TaskbarCreated, MSGFLT_ALLOW, null) = TRUE",
    "Shell_NotifyIconA(NIM_ADD, " + TrayRecord + " = TRUE",
};
// clang-format on

std::vector<std::string> ExpectedStartUp(const std::string& commandLine, const std::vector<std::string>& ownArguments)
{
    // The calls in the order of the log, one a line.
    // clang-format off
    std::vector<std::string> lines = {
        "GetCommandLineA()",
        "GetProcessHeap() = heap",
        CommandStringBlock(commandLine),
        "CreateMutexA(null, FALSE, \"doaGD[da12_\") = handle1",
        "GetLastError() = 0",
        "GetModuleHandleA(null)",
        "LoadIconA(module, \"MAINICON\") = MAINICON",
        "RegisterClassA(style=3, proc=set, extra=0/0, instance=module, icon=MAINICON, cursor=null, "
        "background=null, menu=null, class=\"TApp_TOOLScrBlock\") = atom",
        "CreateWindowExA(0, \"TApp_TOOLScrBlock\", \"ovq\", 0x80000000, 0, 0, 0, 0, null, null, module, null)"
        " = hwnd1",
        "> WindowProc(hwnd1, WM_CREATE, 0, 0)",
        "DefWindowProcA(hwnd1, WM_CREATE, 0, 0)",
    };
    // clang-format on
    lines.insert(lines.end(), std::begin(MenuAndIconStartUp), std::end(MenuAndIconStartUp));
    lines.insert(lines.end(), ownArguments.begin(), ownArguments.end());
    lines.push_back("SetThreadExecutionState(0x80000001)");
    lines.push_back("SetTimer(hwnd1, 8345, 900, null) = 8345");
    return lines;
}

TEST_F(LifecycleTest, StartUpWithoutArgumentsSendsNoText)
{
    CloseAt(100);
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    EXPECT_LINES(StartUp(), ExpectedStartUp("ovq.exe", {}));
    EXPECT_EQ(sim::WindowTitle(Main()), "ovq");
}

TEST_F(LifecycleTest, OwnArgumentsRunInsideStartUpBeforeTheTimerExists)
{
    CloseAt(100);
    EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 0u);
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> ownArguments = {
        "SendMessageA(hwnd1, WM_SETTEXT, 0, \"ovq -s\")",
        "> WindowProc(hwnd1, WM_SETTEXT, 0, \"ovq -s\")",
        "GetMenuState(hmenu1, 202, 0x0) = 0x0",
        "CheckMenuItem(hmenu1, 202, 0x8)",
        "DefWindowProcA(hwnd1, WM_SETTEXT, 0, \"ovq -s\")",
    };
    // clang-format on
    EXPECT_LINES(WithoutHeap(StartUp()), WithoutHeap(ExpectedStartUp("ovq.exe -s", ownArguments)));
}

TEST_F(LifecycleTest, ShutDownAfterCloseFromOutside)
{
    CloseAt(100);
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "KillTimer(hwnd1, 8345) = FALSE",  // the timer ended with the window
        "SetThreadExecutionState(0x80000000)",
        "Shell_NotifyIconA(NIM_DELETE, " + TrayRecord + " = TRUE",
        "DestroyMenu(hmenu1)",
        "DestroyWindow(hwnd1) = FALSE",
        "ExitProcess(0)",
    };
    // clang-format on
    EXPECT_LINES(ShutDown(), expected);
    EXPECT_EQ(sim::ContinuousState(), ES_CONTINUOUS);
    EXPECT_TRUE(sim::TrayIcons().empty());
    EXPECT_EQ(sim::MenuCount(), 0u);
}

TEST_F(LifecycleTest, ShutDownAfterTheExitCommandDestroysTheLiveWindowLast)
{
    sim::At(100, [] { sim::PostFromOutside(Main(), WM_COMMAND, IDM_EXIT, 0); });
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "> WindowProc(hwnd1, WM_CREATE, 0, 0)",
        "Shell_NotifyIconA(NIM_ADD, " + TrayRecord + " = TRUE",
        "SetThreadExecutionState(0x80000001)",
        "GetMessageA() = TRUE WM_COMMAND",
        "> WindowProc(hwnd1, WM_COMMAND, 200, 0)",
        "PostQuitMessage(0)",
        "GetMessageA() = FALSE WM_QUIT",
        "KillTimer(hwnd1, 8345) = TRUE",
        "SetThreadExecutionState(0x80000000)",
        "Shell_NotifyIconA(NIM_DELETE, " + TrayRecord + " = TRUE",
        "DestroyMenu(hmenu1)",
        "DestroyWindow(hwnd1)",
        "> WindowProc(hwnd1, WM_DESTROY, 0, 0)",
        "PostQuitMessage(0)",  // never read
        "> WindowProc(hwnd1, WM_NCDESTROY, 0, 0)",
        "ExitProcess(0)",
    };
    // clang-format on
    EXPECT_LINES(sim::CallsOf({ "GetMessageA", "KillTimer", "SetThreadExecutionState", "Shell_NotifyIconA",
                                "DestroyMenu", "DestroyWindow", "> WindowProc", "PostQuitMessage", "ExitProcess" }),
                 expected);
}

// Every way the run can end, and the exit code it gives.
struct ExitCase {
    const char* name;
    const char* commandLine;
    std::function<void()> prepare;
    UINT exitCode;
};

TEST_F(LifecycleTest, ExitCodes)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const ExitCase cases[] = {
        { "WM_CLOSE from outside", "ovq.exe", [] { CloseAt(2000); }, 0 },
        { "exit command", "ovq.exe", [] { sim::At(2000, [] { sim::PostFromOutside(Main(), WM_COMMAND, IDM_EXIT, 0); }); }, 0 },
        { "-x handed over", "ovq.exe",
          [] { sim::At(2000, [] { std::string t = "ovq -x"; sim::SendFromOutside(Main(), WM_SETTEXT, 0, &t); }); }, 0 },
        { "own -x", "ovq.exe -x", [] {}, 0 },
        { "quit 3 posted to the thread", "ovq.exe", [] { sim::At(2000, [] { sim::PostFromOutside(nullptr, WM_QUIT, 3, 0); }); }, 3 },
        { "quit 3 posted to the window", "ovq.exe", [] { sim::At(2000, [] { sim::PostFromOutside(Main(), WM_QUIT, 3, 0); }); }, 3 },
        { "quit 65535", "ovq.exe", [] { sim::At(2000, [] { sim::PostFromOutside(nullptr, WM_QUIT, 65535, 0); }); }, 65535 },
        { "quit above 65535 keeps its value", "ovq.exe",
          [] { sim::At(2000, [] { sim::PostFromOutside(nullptr, WM_QUIT, 70000, 0); }); }, 70000 },
        { "another copy runs, no arguments", "ovq.exe", [] { sim::CreateForeignMutex(OVQ_MUTEX_NAME); }, 1 },
        { "another copy runs, arguments", "ovq.exe -s",
          [] { sim::CreateForeignMutex(OVQ_MUTEX_NAME); sim::CreateForeignWindow(OVQ_WINDOW_CLASS); }, 1 },
        { "mutex present, no window", "ovq.exe -s", [] { sim::CreateForeignMutex(OVQ_MUTEX_NAME); }, 1 },
        { "RegisterClassA fails", "ovq.exe", [] { sim::FailTimes("RegisterClassA", 1); }, 1 },
        { "CreateWindowExA fails", "ovq.exe", [] { sim::FailTimes("CreateWindowExA", 1); }, 1 },
        { "CreateMutexA fails: runs as first copy", "ovq.exe",
          [] { sim::FailTimes("CreateMutexA", 1); sim::CreateForeignMutex(OVQ_MUTEX_NAME); CloseAt(2000); }, 0 },
    };
    // clang-format on
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartAfresh();
        c.prepare();
        EXPECT_EQ(sim::RunProgram(c.commandLine), c.exitCode);
    }
}

TEST_F(LifecycleTest, SecondCopyHandsTheCommandStringToTheFirstWindowOfTheClass)
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    HWND first = sim::CreateForeignWindow(OVQ_WINDOW_CLASS);
    HWND later = sim::CreateForeignWindow(OVQ_WINDOW_CLASS);

    EXPECT_EQ(sim::RunProgram("ovq.exe \"-s -x\""), 1u);

    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "GetCommandLineA()",
        "GetProcessHeap() = heap",
        CommandStringBlock("ovq.exe \"-s -x\""),
        "CreateMutexA(null, FALSE, \"doaGD[da12_\") = handle1",
        "GetLastError() = 183",
        "FindWindowA(\"TApp_TOOLScrBlock\", null) = hwnd1",
        "SendMessageA(hwnd1, WM_SETTEXT, 0, \"ovq -s -x\")",
        "> WindowProc(hwnd1, WM_SETTEXT, 0, \"ovq -s -x\")",
        "ExitProcess(1)",
    };
    // clang-format on
    EXPECT_LINES(sim::Calls(), expected);
    ASSERT_EQ(sim::ForeignMessages(first).size(), 1u);
    EXPECT_EQ(sim::ForeignMessages(first)[0].wParam, 0u);
    EXPECT_TRUE(sim::ForeignMessages(later).empty());
}

TEST_F(LifecycleTest, SecondCopyWithoutArgumentsSendsNothing)
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    HWND first = sim::CreateForeignWindow(OVQ_WINDOW_CLASS);

    EXPECT_EQ(sim::RunProgram("ovq.exe \"\""), 1u);

    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "GetCommandLineA()",
        "GetProcessHeap() = heap",
        CommandStringBlock("ovq.exe \"\""),
        "CreateMutexA(null, FALSE, \"doaGD[da12_\") = handle1",
        "GetLastError() = 183",
        "ExitProcess(1)",
    };
    // clang-format on
    EXPECT_LINES(sim::Calls(), expected);
    EXPECT_TRUE(sim::ForeignMessages(first).empty());
}

TEST_F(LifecycleTest, FailedStartUpCreatesNothingMore)
{
    sim::FailTimes("CreateWindowExA", 1);
    EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 1u);
    EXPECT_EQ(sim::Calls().back(), "ExitProcess(1)");
    EXPECT_EQ(sim::MenuCount(), 0u);
    EXPECT_TRUE(sim::CallsOf({ "SetThreadExecutionState", "Shell_NotifyIconA", "SetTimer" }).empty());

    StartAfresh();
    sim::FailTimes("RegisterClassA", 1);
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 1u);
    EXPECT_TRUE(sim::CallsOf({ "CreateWindowExA", "CreatePopupMenu" }).empty());
}

TEST_F(LifecycleTest, MutexThatCannotBeCreatedIsNotAskedForItsError)
{
    sim::FailTimes("CreateMutexA", 1);
    CloseAt(100);
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    EXPECT_TRUE(sim::CallsOf({ "GetLastError" }).empty());
    EXPECT_EQ(sim::CallsOf({ "CreateWindowExA" }).size(), 1u);
}

TEST_F(LifecycleTest, OwnExitCommandEndsTheRunThroughTheNormalShutDown)
{
    EXPECT_EQ(sim::RunProgram("ovq.exe -x -s"), 0u);
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "Shell_NotifyIconA(NIM_ADD, " + TrayRecord + " = TRUE",
        "SendMessageA(hwnd1, WM_SETTEXT, 0, \"ovq -x -s\")",
        "DestroyWindow(hwnd1)",
        "PostQuitMessage(0)",
        "SetThreadExecutionState(0x80000001)",
        "SetTimer(hwnd1, 8345, 900, null) = 0",
        "GetMessageA() = FALSE WM_QUIT",
        "KillTimer(hwnd1, 8345) = FALSE",
        "SetThreadExecutionState(0x80000000)",
        "Shell_NotifyIconA(NIM_DELETE, " + TrayRecord + " = TRUE",
        "DestroyMenu(hmenu1)",
        "DestroyWindow(hwnd1) = FALSE",
        "ExitProcess(0)",
    };
    // clang-format on
    EXPECT_LINES(
        sim::CallsOf({ "SendMessageA", "DestroyWindow", "PostQuitMessage", "CheckMenuItem", "SetThreadExecutionState",
                       "SetTimer", "GetMessageA", "KillTimer", "Shell_NotifyIconA", "DestroyMenu", "ExitProcess" }),
        expected);
    EXPECT_TRUE(sim::InputEvents().empty());
}

}  // namespace
