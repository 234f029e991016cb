// A second launch that finds the marker held but no window: it waits for the
// window and hands its text over, or runs as the first copy when the marker
// goes meanwhile, or gives up at the deadline.

#include "ProgramTest.h"
#include "tray/TrayMenu.h"

namespace {

// The window of the running copy, made by another process at a scripted moment.
HWND ForeignWindow;

class HandOffWaitTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ForeignWindow = nullptr;
    }

    // The running copy shows its window at `at`.
    static void WindowAt(DWORD at)
    {
        sim::At(at, [] { ForeignWindow = sim::CreateForeignWindow(OVQ_WINDOW_CLASS); });
    }
    // The copy holding the marker ends at `at` (its window is already gone).
    static void MarkerGoesAt(DWORD at)
    {
        sim::At(at, [] { sim::ReleaseForeignMutex(OVQ_MUTEX_NAME); });
    }
    static size_t TextsHandedOver()
    {
        return ForeignWindow != nullptr ? sim::ForeignMessages(ForeignWindow).size() : 0;
    }
    static size_t Count(const std::string& name) { return sim::CallsOf({ name }).size(); }
};

const std::string MarkerCall = "CreateMutexA(null, FALSE, \"doaGD[da12_\") = ";
const std::string NoWindow = "FindWindowA(\"TApp_TOOLScrBlock\", null) = null";

// The launch up to its first look for the window: the command string, and
// the marker found held.
std::vector<std::string> Launch(const std::string& commandLine)
{
    return { "GetCommandLineA()", "GetProcessHeap() = heap", CommandStringBlock(commandLine), MarkerCall + "handle1",
             "GetLastError() = 183" };
}

// The looks at 0, 10 and 20 ms that find the marker held and no window, and
// the marker asked for once more at 30 ms: each look holds the marker only
// until it has found no window.
// clang-format off
const std::vector<std::string> LooksUntil30 = {
    NoWindow,
    "GetTickCount() = 0",
    "CloseHandle(handle1) = TRUE",
    "GetTickCount() = 0",
    "Sleep(10)",
    MarkerCall + "handle2",
    "GetLastError() = 183",
    NoWindow,
    "CloseHandle(handle2) = TRUE",
    "GetTickCount() = 10",
    "Sleep(10)",
    MarkerCall + "handle3",
    "GetLastError() = 183",
    NoWindow,
    "CloseHandle(handle3) = TRUE",
    "GetTickCount() = 20",
    "Sleep(10)",
    MarkerCall + "handle4",
};
// clang-format on

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(HandOffWaitTest, WindowThatComesAfterThreeLooksGetsTheText)
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    WindowAt(25);

    EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 1u);

    // clang-format off
    const std::vector<std::string> handOff = {
        "GetLastError() = 183",
        "FindWindowA(\"TApp_TOOLScrBlock\", null) = hwnd1",
        "SendMessageA(hwnd1, WM_SETTEXT, 0, \"ovq -s\")",
        "> WindowProc(hwnd1, WM_SETTEXT, 0, \"ovq -s\")",
        "ExitProcess(1)",
    };
    // clang-format on
    EXPECT_LINES(sim::Calls(), Join({ Launch("ovq.exe -s"), LooksUntil30, handOff }));
    ASSERT_EQ(TextsHandedOver(), 1u);
    EXPECT_EQ(sim::ForeignMessages(ForeignWindow)[0].text, "ovq -s");
    EXPECT_EQ(sim::Now(), 30u);
}

TEST_F(HandOffWaitTest, MarkerThatGoesWhileWaitingMakesThisLaunchTheFirstCopy)
{
    // What a first launch of the same command line does once it has made the marker.
    CloseAt(100);
    ASSERT_EQ(sim::RunProgram("ovq.exe -s"), 0u);
    const std::vector<std::string>& first = sim::Calls();
    const std::vector<std::string> firstCopyRun(first.begin() + 5, first.end());
    ASSERT_EQ(firstCopyRun.front(), "GetModuleHandleA(null)");

    StartAfresh();
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    MarkerGoesAt(25);
    CloseAt(130);

    ASSERT_EQ(sim::RunProgram("ovq.exe -s"), 0u);

    const std::vector<std::string> madeAnew = {
        "GetLastError() = 0",  // made anew: this launch is the first copy now
    };
    EXPECT_LINES(sim::Calls(), Join({ Launch("ovq.exe -s"), LooksUntil30, madeAnew, firstCopyRun }));
    ASSERT_NE(Main(), nullptr);
    EXPECT_EQ(sim::WindowTitle(Main()), "ovq -s");
    EXPECT_TRUE(IsMenuItemChecked(App.TrayMenu, IDM_PERMIT)) << "its own -s ran";
    // It keeps the marker it made for its whole run.
    EXPECT_EQ(sim::OpenHandles(), 1u);
    EXPECT_TRUE(sim::MutexExists(OVQ_MUTEX_NAME));
}

TEST_F(HandOffWaitTest, MarkerHeldByWhatNeverMakesTheWindowEndsTheLaunchAtTheDeadline)
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);

    EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 1u);

    const std::string lastHandle = "handle" + std::to_string(1 + HANDOFF_WAIT_MS / HANDOFF_POLL_MS);
    // clang-format off
    const std::vector<std::string> lastLook = {
        "Sleep(10)",
        MarkerCall + lastHandle,
        "GetLastError() = 183",
        NoWindow,
        "CloseHandle(" + lastHandle + ") = TRUE",
        "GetTickCount() = " + std::to_string(HANDOFF_WAIT_MS),
        "ExitProcess(1)",
    };
    // clang-format on
    const std::vector<std::string>& calls = sim::Calls();
    ASSERT_GE(calls.size(), lastLook.size());
    EXPECT_LINES(std::vector<std::string>(calls.end() - static_cast<long>(lastLook.size()), calls.end()), lastLook);
    EXPECT_EQ(sim::Now(), HANDOFF_WAIT_MS);
    EXPECT_EQ(Count("Sleep"), HANDOFF_WAIT_MS / HANDOFF_POLL_MS);
    EXPECT_EQ(Count("CloseHandle"), Count("CreateMutexA"));
    EXPECT_EQ(sim::OpenHandles(), 0u);
    EXPECT_EQ(Count("SendMessageA"), 0u);
    EXPECT_EQ(sim::MainWindowOf(OVQ_WINDOW_CLASS), nullptr);
}

TEST_F(HandOffWaitTest, PlainSecondLaunchEndsAtOnceWithoutWaiting)
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    WindowAt(25);

    EXPECT_EQ(sim::RunProgram("ovq.exe"), 1u);

    EXPECT_LINES(sim::Calls(), Join({ Launch("ovq.exe"), { "ExitProcess(1)" } }));
    EXPECT_EQ(sim::Now(), 0u);
}

// A failing call while the launch waits, and what it comes to.
struct WaitCase {
    const char* name;
    std::function<void()> prepare;
    UINT exitCode;
    size_t textsHandedOver;
    bool ranAsFirstCopy;
    DWORD endedAt;
};

TEST_F(HandOffWaitTest, FailingCallsOnTheWay)
{
    const DWORD deadline = HANDOFF_WAIT_MS;
    // The window comes, or the marker goes, at 25: the third look (at 30) sees it.
    // clang-format off
    const WaitCase cases[] = {
        { "CreateMutexA fails while the marker is held: counted as held",
          [] { WindowAt(25); sim::FailNth("CreateMutexA", 2); }, 1, 1, false, 30 },
        { "CreateMutexA fails when the marker has gone: the next look makes it",
          [] { MarkerGoesAt(25); sim::FailNth("CreateMutexA", 4); CloseAt(1000); }, 0, 0, true, 1000 },
        { "CreateMutexA fails at every look: the launch never runs",
          [] { MarkerGoesAt(25); sim::FailNth("CreateMutexA", 2, HANDOFF_WAIT_MS / HANDOFF_POLL_MS); }, 1, 0, false, deadline },
        { "CloseHandle fails: the launch's own handle keeps the marker",
          [] { MarkerGoesAt(25); sim::FailTimes("CloseHandle", 1); }, 1, 0, false, deadline },
        { "CloseHandle fails, then the window comes", [] { WindowAt(25); sim::FailNth("CloseHandle", 2); }, 1, 1, false, 30 },
        { "Sleep wakes at once: the next look comes sooner", [] { WindowAt(25); sim::FailTimes("Sleep", 1); }, 1, 1, false, 30 },
        { "Sleep wakes at once: the deadline still counts time", [] { sim::FailTimes("Sleep", 3); }, 1, 0, false, deadline },
        { "FindWindowA fails at the look that would find the window",
          [] { WindowAt(25); sim::FailNth("FindWindowA", 4); }, 1, 1, false, 40 },
        { "SendMessageA fails: the text is lost", [] { WindowAt(25); sim::FailTimes("SendMessageA", 1); }, 1, 0, false, 30 },
        { "the tick count wraps during the wait", [] { sim::SetTickCountAtStart(0xFFFFFFFFu - 25); }, 1, 0, false, deadline },
    };
    // clang-format on
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartAfresh();
        ForeignWindow = nullptr;
        sim::CreateForeignMutex(OVQ_MUTEX_NAME);
        c.prepare();
        EXPECT_EQ(sim::RunProgram("ovq.exe -s"), c.exitCode);
        EXPECT_EQ(TextsHandedOver(), c.textsHandedOver);
        EXPECT_EQ(Main() != nullptr, c.ranAsFirstCopy);
        EXPECT_EQ(sim::Now(), c.endedAt);
        EXPECT_EQ(sim::PendingFailures(), 0) << "the failure never happened";
    }
}

// A look whose CreateMutexA fails reads no last error and has no handle to close.
TEST_F(HandOffWaitTest, LookWithoutAMarkerHandleLooksForTheWindowAndClosesNothing)
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    WindowAt(15);
    sim::FailNth("CreateMutexA", 2);

    EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 1u);

    // clang-format off
    const std::vector<std::string> waits = {
        NoWindow,
        "GetTickCount() = 0",
        "CloseHandle(handle1) = TRUE",
        "GetTickCount() = 0",
        "Sleep(10)",
        MarkerCall + "null",
        NoWindow,
        "GetTickCount() = 10",
        "Sleep(10)",
        MarkerCall + "handle2",
        "GetLastError() = 183",
        "FindWindowA(\"TApp_TOOLScrBlock\", null) = hwnd1",
    };
    // clang-format on
    EXPECT_LINES(
        sim::CallsOf({ "CreateMutexA", "GetLastError", "FindWindowA", "CloseHandle", "GetTickCount", "Sleep" }),
        Join({ { MarkerCall + "handle1", "GetLastError() = 183" }, waits }));
    EXPECT_EQ(TextsHandedOver(), 1u);
}

}  // namespace
