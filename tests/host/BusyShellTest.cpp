// The tray icon at a busy log-on: a notification area that is not there yet,
// a shell too busy to answer within its fixed wait (whose requests are still
// carried out), and requests lost on their way. Whatever happened, the icon
// ends up shown once, the program knows it, and its ticks stop calling the
// shell.

#include "ProgramTest.h"

namespace {

// A Shell_NotifyIconA line of the log in short: "ADD TRUE", "DELETE FALSE",
// and "late" behind a call that got no answer in time.
std::string ShortCall(const std::string& line)
{
    std::string op = line.compare(18, 7, "NIM_ADD") == 0 ? "ADD" : "DELETE";
    std::string result = line.find(") = TRUE") != std::string::npos ? "TRUE" : "FALSE";
    return op + " " + result + (line.find("(no answer in time)") != std::string::npos ? " late" : "");
}

// The program's calls to the shell in each tick, from the timer message to
// the next look for a message or the next message, a tick's calls joined by
// ", ".
std::vector<std::string> ShellCallsPerTick()
{
    std::vector<std::string> ticks;
    bool inTick = false;
    for (const std::string& line : sim::Calls()) {
        if (line.rfind("> WindowProc(hwnd1, WM_TIMER,", 0) == 0) {
            ticks.emplace_back();
            inTick = true;
        } else if (line.rfind("GetMessageA", 0) == 0 || line.rfind("> ", 0) == 0) {
            inTick = false;
        } else if (inTick && line.rfind("Shell_NotifyIconA(", 0) == 0) {
            ticks.back() += (ticks.back().empty() ? "" : ", ") + ShortCall(line);
        }
    }
    return ticks;
}

// The shell calls of start-up and of shut-down, the first and last of the log.
std::string FirstShellCall()
{
    return ShortCall(sim::CallsOf({ "Shell_NotifyIconA" }).front());
}
std::string LastShellCall()
{
    return ShortCall(sim::CallsOf({ "Shell_NotifyIconA" }).back());
}

class BusyShellTest : public ProgramTest {
protected:
    // The program's icons in the notification area.
    static size_t IconsShown()
    {
        size_t shown = 0;
        for (const sim::TrayIcon& icon : sim::TrayIcons())
            shown += icon.window == Main() && icon.id == TRAY_ICON_ID ? 1 : 0;
        return shown;
    }
};

// Each way the shell can meet the program's first add, with the calls of every
// tick until the window is closed. Once an add has succeeded, ticks make no
// call; before that, two quick ones at most.
TEST_F(BusyShellTest, TheRetryEndsWithTheIconShownAndKnown)
{
    struct Case {
        const char* what;
        std::function<void()> shell;
        DWORD closeAt;
        const char* startUp;  // the add at start-up
        std::vector<std::string> ticks;
    };
    // A table laid out by hand, a row a line.
    // clang-format off
    const Case cases[] = {
        { "no notification area until 2500: two quick calls a tick until it comes",
          [] { sim::ShellAbsentUntil(2500); }, 4000, "ADD FALSE",
          { "DELETE FALSE, ADD FALSE", "DELETE FALSE, ADD FALSE", "DELETE FALSE, ADD TRUE", "" } },
        { "the add at start-up lost on its way: the first tick adds it",
          [] { sim::FailTimes("NIM_ADD", 1); }, 3000, "ADD FALSE",
          { "DELETE FALSE, ADD TRUE", "", "" } },
        { "the shell busy until 4500: the add at start-up fails at 4000 and lands at 4500",
          [] { sim::ShellBusyUntil(4500); }, 8000, "ADD FALSE late",
          { "DELETE TRUE, ADD TRUE", "", "", "" } },
        { "the shell busy until 10000: the first tick's delete gets no answer either",
          [] { sim::ShellBusyUntil(10000); }, 12000, "ADD FALSE late",
          { "DELETE FALSE late, ADD TRUE", "", "", "" } },
        { "the shell restarts at 1000 and stays busy until 10000: the re-add fails and lands",
          [] { sim::At(1000, [] { sim::ShellBusyUntil(10000); sim::RestartShell(); }); }, 12000, "ADD TRUE",
          { "", "DELETE TRUE, ADD TRUE", "", "", "" } },
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartAfresh();
        c.shell();
        size_t shownAtClose = 0;
        bool knownAtClose = false;
        sim::At(c.closeAt, [&] {
            shownAtClose = IconsShown();
            knownAtClose = App.IconAdded;
            sim::PostFromOutside(Main(), WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
        EXPECT_EQ(FirstShellCall(), c.startUp);
        EXPECT_EQ(ShellCallsPerTick(), c.ticks);
        EXPECT_EQ(shownAtClose, 1u);
        EXPECT_TRUE(knownAtClose);
        EXPECT_EQ(LastShellCall(), "DELETE TRUE");  // shut-down takes the icon away
        EXPECT_EQ(IconsShown(), 0u);
    }
}

// While the notification area is missing, the calls fail at once: the ticks
// keep their pace and the idle timer is reset on every one of them.
TEST_F(BusyShellTest, AMissingNotificationAreaCostsNoTime)
{
    sim::ShellAbsentUntil(100000);
    CloseAt(4000);
    sim::RunProgram("ovq.exe");
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 900, 1800, 2700, 3600 }));
}

// Storms: the same trouble over and over. After each, within two ticks of the
// shell being free and answering, the icon is shown once and known, and the
// ticks make no more calls until the next.
TEST_F(BusyShellTest, AfterEveryStormTheIconIsShownOnceAndTheTicksFallSilent)
{
    struct Case {
        const char* what;
        std::function<void()> trouble;  // what befalls the shell
        DWORD settled;                  // how long after that the shell is free
    };
    // A table laid out by hand, a row a line.
    // clang-format off
    const Case cases[] = {
        { "the shell restarts too busy to answer for 9 s: every request of the re-add lands late",
          [] { sim::ShellBusyUntil(sim::Now() + 9000); sim::RestartShell(); }, 9000 },
        { "the shell restarts, and its notification area comes 3 s later",
          [] { sim::ShellAbsentUntil(sim::Now() + 3000); sim::RestartShell(); }, 3000 },
        { "ten adds in a row are lost on their way",
          [] { sim::FailTimes("NIM_ADD", 10); sim::RestartShell(); }, 10 * KEEPAWAKE_PERIOD_MS },
        { "ten deletes and ten adds in a row are lost on their way",
          [] { sim::FailTimes("NIM_DELETE", 10); sim::FailTimes("NIM_ADD", 10); sim::RestartShell(); },
          10 * KEEPAWAKE_PERIOD_MS },
    };
    // clang-format on
    const DWORD storms = 20, every = 30000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartAfresh();
        // At each storm's end, with two ticks' grace: the icon, the flag and
        // how many shell calls the program had made.
        struct Look {
            size_t shown;
            bool known;
            size_t calls;
        };
        std::vector<Look> settled, beforeNext;
        auto look = [] { return Look{ IconsShown(), App.IconAdded, sim::CallsOf({ "Shell_NotifyIconA" }).size() }; };
        for (DWORD n = 1; n <= storms; ++n) {
            DWORD at = n * every;
            sim::At(at, c.trouble);
            sim::At(at + c.settled + 2 * KEEPAWAKE_PERIOD_MS + 100, [&] { settled.push_back(look()); });
            sim::At(at + every - 100, [&] { beforeNext.push_back(look()); });
        }
        CloseAt((storms + 1) * every);
        EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);

        ASSERT_EQ(settled.size(), storms);
        ASSERT_EQ(beforeNext.size(), storms);
        for (size_t i = 0; i < storms; ++i) {
            SCOPED_TRACE("storm " + std::to_string(i + 1));
            EXPECT_EQ(settled[i].shown, 1u);
            EXPECT_TRUE(settled[i].known);
            EXPECT_EQ(beforeNext[i].calls, settled[i].calls) << "the ticks went on calling the shell";
        }
        EXPECT_EQ(LastShellCall(), "DELETE TRUE");
        EXPECT_EQ(IconsShown(), 0u);
    }
}

}  // namespace
