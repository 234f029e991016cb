// The execution state and the 900 ms keep-awake tick.

#include "ProgramTest.h"

namespace {

class KeepAwakeTest : public ProgramTest {};

TEST_F(KeepAwakeTest, HoldsTheSystemAndResetsIdleTimeOnEveryTick)
{
    CloseAt(2800);
    sim::RunProgram("ovq.exe");
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "SetThreadExecutionState(0x80000001)",
        "GetMenuState(hmenu1, 202, 0x0) = 0x0",
        "SetThreadExecutionState(0x00000002)",
        "mouse_event(0x0001, 0, 0, 0, 0)",
        "GetMenuState(hmenu1, 202, 0x0) = 0x0",
        "SetThreadExecutionState(0x00000002)",
        "mouse_event(0x0001, 0, 0, 0, 0)",
        "GetMenuState(hmenu1, 202, 0x0) = 0x0",
        "SetThreadExecutionState(0x00000002)",
        "mouse_event(0x0001, 0, 0, 0, 0)",
        "SetThreadExecutionState(0x80000000)",
    };
    // clang-format on
    EXPECT_LINES(sim::CallsOf({ "SetThreadExecutionState", "mouse_event", "GetMenuState" }), expected);
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 900, 1800, 2700 }));
}

TEST_F(KeepAwakeTest, TicksThatFallWhileTheThreadIsBusyAreSkippedNotQueued)
{
    // Another program keeps the thread busy for five seconds at 1000.
    sim::At(1000, [] { sim::AdvanceClock(5000); });
    CloseAt(7000);
    sim::RunProgram("ovq.exe");
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 900, 6000, 6900 }));
}

TEST_F(KeepAwakeTest, TheContinuousRequestIsHeldForTheWholeRun)
{
    EXECUTION_STATE during = 0;
    sim::At(1000, [&] { during = sim::ContinuousState(); });
    CloseAt(2000);
    sim::RunProgram("ovq.exe");
    EXPECT_EQ(during, ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    EXPECT_EQ(sim::ContinuousState(), ES_CONTINUOUS);
}

TEST_F(KeepAwakeTest, WithoutATimerNothingIsSuppressedButTheRunGoesOn)
{
    sim::FailTimes("SetTimer", 1);
    CloseAt(5000);
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    EXPECT_TRUE(sim::InputEvents().empty());
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "SetThreadExecutionState(0x80000001)",
        "SetThreadExecutionState(0x80000000)",
    };
    // clang-format on
    EXPECT_LINES(sim::CallsOf({ "SetThreadExecutionState" }), expected);
}

}  // namespace
