// The tray menu, the permit switch and the tray icon.

#include <set>

#include "ProgramTest.h"
#include "Texts.h"
#include "tray/TrayMenu.h"

namespace {

class TrayTest : public ProgramTest {
protected:
    static bool PermitChecked() { return sim::MenuItems(App.TrayMenu)[0].checked; }
    static void Send(const char* text)
    {
        std::string t = text;
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &t);
    }
    static void Choose(UINT command) { sim::SendFromOutside(Main(), WM_COMMAND, command, LPARAM(0)); }
};

TEST_F(TrayTest, MenuHasItsFourItemsInOrderAllUncheckedAndEnabled)
{
    std::vector<sim::MenuItem> items;
    sim::At(100, [&] { items = sim::MenuItems(App.TrayMenu); });
    CloseAt(200);
    sim::RunProgram("ovq.exe");

    ASSERT_EQ(items.size(), 4u);
    struct Expected {
        UINT flags;
        UINT_PTR id;
        bool hasText;
        std::string text;
    };
    // A table laid out by hand, a row a line.
    // clang-format off
    const Expected expected[] = {
        { MF_STRING, IDM_PERMIT, true, TEXT_MENU_PERMIT },
        { MF_STRING, IDM_VERSION, true, TEXT_MENU_VERSION },
        { MF_SEPARATOR, 0, false, "" },
        { MF_STRING, IDM_EXIT, true, TEXT_MENU_EXIT },
    };
    // clang-format on
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].flags, expected[i].flags);
        EXPECT_EQ(items[i].id, expected[i].id);
        EXPECT_EQ(items[i].hasText, expected[i].hasText);
        EXPECT_EQ(items[i].text, expected[i].text);
        EXPECT_FALSE(items[i].checked);
    }
}

// The switch's state table: each event from each state.
TEST_F(TrayTest, PermitSwitchFollowsItsStateTable)
{
    struct Case {
        const char* event;
        std::function<void()> act;
        bool fromUnchecked;  // the state after the event, starting unchecked
        bool fromChecked;    // and starting checked
    };
    // A table laid out by hand, a row a line.
    // clang-format off
    const Case cases[] = {
        { "menu item", [] { Choose(IDM_PERMIT); }, true, false },
        { "-s", [] { Send("ovq -s"); }, true, false },
        { "-c", [] { Send("ovq -c"); }, false, false },
        { "version item", [] { sim::ScriptMessageBox(0); Choose(IDM_VERSION); }, false, true },
        { "menu item with high word 1", [] { sim::SendFromOutside(Main(), WM_COMMAND, MAKEWPARAM(IDM_PERMIT, 1), LPARAM(0)); }, false, true },
    };
    // clang-format on
    for (const Case& c : cases) {
        for (bool startChecked : { false, true }) {
            SCOPED_TRACE(std::string(c.event) + (startChecked ? " from checked" : " from unchecked"));
            StartAfresh();
            bool after = !startChecked;
            sim::At(100, [&] {
                if (startChecked)
                    Choose(IDM_PERMIT);
                ASSERT_EQ(PermitChecked(), startChecked);
                c.act();
                after = PermitChecked();
            });
            CloseAt(200);
            sim::RunProgram("ovq.exe");
            EXPECT_EQ(after, startChecked ? c.fromChecked : c.fromUnchecked);
        }
    }
}

TEST_F(TrayTest, TickDoesNothingWhileThePermitItemIsChecked)
{
    // Checked at 1000 through the menu, cleared at 3000 by -c.
    sim::At(1000, [] { Choose(IDM_PERMIT); });
    sim::At(3000, [] { Send("ovq -c"); });
    CloseAt(4000);
    sim::RunProgram("ovq.exe");
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 900, 3600 }));
    EXPECT_EQ(sim::CallsOf({ "SetThreadExecutionState" }).size(), 4u);  // begin, two ticks, end
}

TEST_F(TrayTest, OwnPermitIsInForceFromTheFirstTick)
{
    sim::At(3000, [] { Send("ovq -s"); });  // and cleared again by a second -s
    CloseAt(4000);
    sim::RunProgram("ovq.exe -s");
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 3600 }));
}

TEST_F(TrayTest, WithoutAMenuTheSwitchReadsAsCheckedAndNoTickActs)
{
    sim::FailTimes("CreatePopupMenu", 1);
    bool checked = false;
    sim::At(100, [&] { checked = IsMenuItemChecked(App.TrayMenu, IDM_PERMIT); });
    CloseAt(3000);
    EXPECT_EQ(sim::RunProgram("ovq.exe -c"), 0u);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(sim::InputEvents().empty());
    EXPECT_EQ(sim::CallsOf({ "SetThreadExecutionState" }).size(), 2u);
}

TEST_F(TrayTest, MissingItemReadsAsChecked)
{
    bool missing = false, present = true;
    sim::At(100, [&] {
        missing = IsMenuItemChecked(App.TrayMenu, 999);
        present = IsMenuItemChecked(App.TrayMenu, IDM_PERMIT);
    });
    CloseAt(200);
    sim::RunProgram("ovq.exe");
    EXPECT_TRUE(missing);
    EXPECT_FALSE(present);
}

TEST_F(TrayTest, MenuChoicesArriveAsCommandsAfterTheMenuCloses)
{
    // Permit chosen, then the menu closed without a choice, then Exit.
    sim::ScriptMenuChoice(IDM_PERMIT, 2000);
    sim::ScriptMenuChoice(0, 500);
    sim::ScriptMenuChoice(IDM_EXIT, 0);
    bool afterFirst = false, afterSecond = false;
    sim::At(100, [] { sim::PostFromOutside(Main(), WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONUP); });
    sim::At(5000, [&] {
        afterFirst = PermitChecked();
        sim::PostFromOutside(Main(), WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONUP);
    });
    sim::At(7000, [&] {
        afterSecond = PermitChecked();
        sim::PostFromOutside(Main(), WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONUP);
    });
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    EXPECT_EQ(sim::MenusShown(), 3);
    EXPECT_TRUE(afterFirst);
    EXPECT_TRUE(afterSecond);
    // The ticks went on while the first menu was open (100 to 2100).
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 900, 1800 }));
    EXPECT_EQ(sim::Calls().back(), "ExitProcess(0)");
}

TEST_F(TrayTest, MenuOpensAtTheCornerWhenTheCursorCannotBeRead)
{
    sim::FailTimes("GetCursorPos", 1);
    sim::At(100, [] { sim::SendFromOutside(Main(), WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONUP); });
    CloseAt(200);
    sim::RunProgram("ovq.exe");
    EXPECT_LINES(sim::CallsOf({ "TrackPopupMenu" }), { "TrackPopupMenu(hmenu1, 0x0, 0, 0, 0, hwnd1, null)" });
}

TEST_F(TrayTest, IconRecordIsTheFirstVersionWithTheFixedTip)
{
    std::vector<sim::TrayIcon> shown;
    sim::At(100, [&] { shown = sim::TrayIcons(); });
    CloseAt(200);
    sim::RunProgram("ovq.exe -s");  // the tip does not follow the switch
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].window, Main());
    EXPECT_EQ(shown[0].id, 13u);
    EXPECT_EQ(shown[0].flags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    EXPECT_EQ(shown[0].callbackMessage, 1124u);
    EXPECT_EQ(shown[0].icon, sim::MainIcon());
    EXPECT_EQ(shown[0].tip, std::string(TEXT_TRAY_TIP) + std::string(42, '\0'));
    EXPECT_EQ(App.IconData.cbSize, 88u);
}

TEST_F(TrayTest, FailedAddIsRetriedOncePerTickUntilTheShellAcceptsIt)
{
    sim::FailUntil("NIM_ADD", 2500);
    std::vector<size_t> shownAt;
    for (DWORD t : { 1000u, 2000u, 3000u })
        sim::At(t, [&] { shownAt.push_back(sim::TrayIcons().size()); });
    sim::At(3000, [] { sim::ClearCalls(); });
    CloseAt(4000);
    sim::RunProgram("ovq.exe");
    EXPECT_EQ(shownAt, (std::vector<size_t>{ 0, 0, 1 }));
    // Start-up, 900 and 1800 failed; 2700 succeeded; 3600 made no call.
    EXPECT_EQ(sim::CallsOf({ "Shell_NotifyIconA" }).size(), 1u);  // the delete at shut-down
}

TEST_F(TrayTest, FailedAddsCostADeleteAndAnAddPerTick)
{
    sim::FailUntil("NIM_ADD", 100000);
    CloseAt(4000);
    sim::RunProgram("ovq.exe");
    std::vector<std::string> calls;
    for (const std::string& line : sim::CallsOf({ "Shell_NotifyIconA" }))
        calls.push_back(line.substr(18, 7));
    // Start-up, four ticks, and the delete at shut-down although nothing was added.
    EXPECT_EQ(calls, (std::vector<std::string>{ "NIM_ADD", "NIM_DEL", "NIM_ADD", "NIM_DEL", "NIM_ADD", "NIM_DEL",
                                                "NIM_ADD", "NIM_DEL", "NIM_ADD", "NIM_DEL" }));
}

TEST_F(TrayTest, TaskbarCreatedDeletesThenAddsWhateverTheFlagSays)
{
    std::vector<std::string> lines;
    CaptureAt(100, &lines, [] { sim::SendFromOutside(Main(), App.TaskbarCreatedMsg, 0, LPARAM(0)); });
    std::vector<std::string> afterFailure;
    sim::At(150, [] { sim::FailTimes("NIM_ADD", 1); });
    CaptureAt(200, &afterFailure, [] { sim::SendFromOutside(Main(), App.TaskbarCreatedMsg, 0, LPARAM(0)); });
    size_t shownAtTick = 0;
    sim::At(1000, [&] { shownAtTick = sim::TrayIcons().size(); });
    CloseAt(1100);
    sim::RunProgram("ovq.exe");

    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(0, 29), "Shell_NotifyIconA(NIM_DELETE,");
    EXPECT_EQ(lines[2].substr(0, 26), "Shell_NotifyIconA(NIM_ADD,");
    ASSERT_EQ(afterFailure.size(), 3u);
    EXPECT_EQ(afterFailure[2].substr(afterFailure[2].size() - 5), "FALSE");
    EXPECT_EQ(shownAtTick, 1u);  // the tick at 900 picked the failed add up
}

TEST_F(TrayTest, TaskbarCreatedBringsTheIconBackAfterTheShellLostIt)
{
    size_t shown = 0;
    sim::At(100, [] {
        // The shell restarts: its icons are gone, then it broadcasts.
        HWND main = Main();
        NOTIFYICONDATAA record = {};
        record.cbSize = NOTIFYICONDATAA_V1_SIZE;
        record.hWnd = main;
        record.uID = TRAY_ICON_ID;
        Shell_NotifyIconA(NIM_DELETE, &record);
        sim::SendFromOutside(main, App.TaskbarCreatedMsg, 0, LPARAM(0));
    });
    sim::At(200, [&] { shown = sim::TrayIcons().size(); });
    CloseAt(300);
    sim::RunProgram("ovq.exe");
    EXPECT_EQ(shown, 1u);
}

// A copy started as administrator, while the shell restarts and a normal
// launch hands it "-x". Only the shell's "TaskbarCreated" may get through, and
// only where the window's filter was changed; each fault leaves the copy as it
// was before the filter existed: running, its icon lost with the old shell.
TEST_F(TrayTest, AnElevatedCopyLetsOnlyTheShellsAnnouncementIn)
{
    struct Case {
        const char* what;
        const char* fault;  // the call that fails at start-up, if any
        int n;              // its n-th call
        bool iconBack;
    };
    // A table laid out by hand, a row a line.
    // clang-format off
    const Case cases[] = {
        { "Windows 7 and later",                nullptr,                       0, true },
        { "a Windows without the function",     "GetProcAddress",              1, false },
        { "user32.dll not found by its name",   "GetModuleHandleA",            2, false },
        { "the filter not changed",             "ChangeWindowMessageFilterEx", 1, false },
        { "no number for \"TaskbarCreated\"", "RegisterWindowMessageA",      1, false },
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartAfresh();
        sim::SetElevated(true);
        if (c.fault != nullptr)
            sim::FailNth(c.fault, c.n);
        size_t shown = 0;
        std::string title;
        std::set<UINT> allowed;
        sim::At(100, [] { sim::RestartShell(); });
        sim::At(200, [&] { shown = sim::TrayIcons().size(); });
        sim::At(300, [] { Send("ovq -x"); });
        sim::At(400, [&] {
            title = sim::WindowTitle(Main());
            allowed = sim::AllowedMessages(Main());
            // Closed by a program that runs as administrator too.
            sim::SetElevated(false);
            sim::PostFromOutside(Main(), WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
        EXPECT_EQ(shown, c.iconBack ? 1u : 0u);
        EXPECT_EQ(title, "ovq");  // the hand-off never arrived
        EXPECT_EQ(allowed, c.iconBack ? std::set<UINT>{ App.TaskbarCreatedMsg } : std::set<UINT>{});
    }
}

}  // namespace
