// Every Windows call the program makes, made to fail in turn.
//
// A normal run is recorded first; every call in its log is then made to fail
// once, at the same place (the n-th call of that name), in a run of its own
// that is driven to its end. So a call added to the program later is swept
// without anyone touching this file. Each outcome is checked against what
// the program promises: where start-up cannot go on it ends with 1 and has
// made nothing; otherwise the run goes on, ends with 0, and gives back what
// it took (the icon, the menu, the execution state, the window, its memory),
// except the one thing whose giving back was the call that failed.

#include <cstdio>
#include <map>
#include <set>

#include "ProgramTest.h"

namespace {

struct Fault {
    std::string name;  // as FailNth knows it
    int n;             // the n-th call of that name in the normal run
    bool last;         // the last call of that name in the normal run
    bool beforeMutex;  // made before the single-copy test
};

// The calls of a normal run's log, each as the fault that makes it fail.
std::vector<Fault> FaultsOf(const std::vector<std::string>& log)
{
    std::vector<Fault> faults;
    std::map<std::string, int> seen;
    bool mutexSeen = false;
    for (const std::string& line : log) {
        std::string name = sim::FaultNameOf(line);
        if (name == "CreateMutexA")
            mutexSeen = true;
        if (name.empty() || sim::NeverFails(name))
            continue;
        faults.push_back({ name, ++seen[name], false, !mutexSeen });
    }
    for (Fault& fault : faults)
        fault.last = fault.n == seen[fault.name];
    return faults;
}

std::string NameOf(const Fault& fault)
{
    return fault.name + " #" + std::to_string(fault.n);
}

// What is left when a run has ended.
struct Outcome {
    UINT exitCode;
    size_t icons;  // of the program, in the notification area
    size_t menus;  // not destroyed
    EXECUTION_STATE state;
    bool windowAlive;
    size_t timers;
    size_t blocks;  // heap blocks not given back
    int menusShown;
    int boxesShown;
    size_t handedOver;  // texts that reached the running copy's window
};

// The running copy's window in the second-copy scenarios, made by another process.
HWND RunningWindow;

std::string Describe(const Outcome& o)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "exit %u, icons %zu, menus %zu, state 0x%08x, window %s, timers %zu, blocks %zu, shown %d+%d, "
                  "handed over %zu",
                  o.exitCode, o.icons, o.menus, o.state, o.windowAlive ? "alive" : "gone", o.timers, o.blocks,
                  o.menusShown, o.boxesShown, o.handedOver);
    return text;
}

HWND Main()
{
    return sim::MainWindowOf(OVQ_WINDOW_CLASS);
}

// Runs one scenario from a clean simulation, with `fault` made to fail.
Outcome RunWith(const std::function<void()>& script, const std::string& commandLine, const Fault* fault)
{
    sim::Reset();
    App = AppState{};
    RunningWindow = nullptr;
    script();
    if (fault != nullptr)
        sim::FailNth(fault->name, fault->n);
    Outcome o{};
    o.exitCode = sim::RunProgram(commandLine);
    o.icons = sim::TrayIcons().size();
    o.menus = sim::MenuCount();
    o.state = sim::ContinuousState();
    o.windowAlive = Main() != nullptr && sim::WindowAlive(Main());
    o.timers = sim::TimerCount();
    o.blocks = sim::LiveBlocks();
    o.menusShown = sim::MenusShown();
    o.boxesShown = sim::MessageBoxesShown();
    o.handedOver = RunningWindow != nullptr ? sim::ForeignMessages(RunningWindow).size() : 0;
    return o;
}

// The first copy, from `start` on: start-up, a tick with the switch off, a
// hand-off of -s, a tick with the switch on, the menu and from it the version
// box (a tick while it is open), a TaskbarCreated, and Exit from the menu.
// Should a fault have taken that way out, the window is closed from outside,
// and last of all the thread is sent the quit message, as Windows does at
// log-off.
void FirstCopyFrom(DWORD start)
{
    sim::At(start + 1000, [] {
        std::string text = "ovq -s";
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
    });
    sim::At(start + 2000, [] {
        sim::ScriptMenuChoice(IDM_VERSION, 100);
        sim::ScriptMessageBox(1000);
        sim::PostFromOutside(Main(), WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONUP);
    });
    sim::At(start + 3500, [] { sim::SendFromOutside(Main(), App.TaskbarCreatedMsg, 0, LPARAM(0)); });
    sim::At(start + 4000, [] {
        sim::ScriptMenuChoice(IDM_EXIT, 100);
        sim::PostFromOutside(Main(), WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONUP);
    });
    sim::At(start + 5000, [] { sim::PostFromOutside(Main(), WM_CLOSE, 0, 0); });
    sim::At(start + 6000, [] { sim::PostFromOutside(nullptr, WM_QUIT, 0, 0); });
}

void FirstCopy()
{
    FirstCopyFrom(0);
}

// What the program knew of its icon, and how many shell calls it had made.
struct IconLook {
    bool known;
    size_t icons;
    size_t calls;
};
IconLook AfterTwoTicks, BeforeTheReAdd;

IconLook LookAtTheIcon()
{
    return IconLook{ App.IconAdded, sim::TrayIcons().size(), sim::CallsOf({ "Shell_NotifyIconA" }).size() };
}

// The first copy at a busy log-on: the shell answers nothing for 4.5 s, so
// the add at start-up reports failure after the shell's 4 s and lands after
// all; the first tick, at 4900, finds the icon there. The icon is looked at
// after the second tick and before the TaskbarCreated; then everything of
// FirstCopy.
void FirstCopyAtABusyLogOn()
{
    sim::ShellBusyUntil(4500);
    AfterTwoTicks = BeforeTheReAdd = IconLook{};
    sim::At(5900, [] { AfterTwoTicks = LookAtTheIcon(); });
    sim::At(8400, [] { BeforeTheReAdd = LookAtTheIcon(); });
    FirstCopyFrom(5000);
}

// A second copy, with the first one's marker and window present; closed from
// outside should it come to run as a copy of its own.
void SecondCopy()
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    RunningWindow = sim::CreateForeignWindow(OVQ_WINDOW_CLASS);
    sim::At(1000, [] { sim::PostFromOutside(Main(), WM_CLOSE, 0, 0); });
}

// A second copy that meets a first one still starting: the marker is held,
// and the window comes after the launch has looked three times.
void SecondCopyWaiting()
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    sim::At(25, [] { RunningWindow = sim::CreateForeignWindow(OVQ_WINDOW_CLASS); });
    sim::At(1000, [] { sim::PostFromOutside(Main(), WM_CLOSE, 0, 0); });
}

// A launch that meets a copy ending after -x: the marker is held and the
// window already gone; the marker goes while the launch waits, which then
// runs as the first copy does in FirstCopy.
void RunningCopyEnding()
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    sim::At(25, [] { sim::ReleaseForeignMutex(OVQ_MUTEX_NAME); });
    FirstCopy();
}

// The marker is held by something that never makes the window.
void MarkerWithoutWindow()
{
    sim::CreateForeignMutex(OVQ_MUTEX_NAME);
    sim::At(1000, [] { sim::PostFromOutside(Main(), WM_CLOSE, 0, 0); });
}

// What the program promises when `fault` happens in the first copy.
bool FirstCopyKeepsItsPromise(const Fault& fault, const Outcome& o, std::string* why)
{
    const std::string& name = fault.name;
    bool cannotStart = name == "RegisterClassA" || name == "CreateWindowExA" ||
                       ((name == "GetProcessHeap" || name == "HeapAlloc") && fault.beforeMutex);
    if (cannotStart) {
        *why = "start-up cannot go on: exit 1, nothing made";
        return o.exitCode == 1 && o.icons == 0 && o.menus == 0 && o.state == 0 && !o.windowAlive && o.timers == 0;
    }
    *why = "the run goes on, ends with 0, gives back all it took, and does nothing twice";
    if (o.exitCode != 0 || o.timers != 0 || o.menusShown > 2 || o.boxesShown > 1)
        return false;
    bool lastRemoval = fault.last;
    if (o.icons != (name == "NIM_DELETE" && lastRemoval ? 1u : 0u))
        return false;
    if (o.menus != (name == "DestroyMenu" ? 1u : 0u))
        return false;
    if (o.windowAlive != (name == "DestroyWindow" && lastRemoval))
        return false;
    // The clearing call at the end is the last; if the first one fails, the
    // clearing call still leaves the state cleared.
    EXECUTION_STATE state =
        name == "SetThreadExecutionState" && lastRemoval ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS;
    if (o.state != state)
        return false;
    // The command string is kept to the end; a block whose giving back failed
    // (its heap could not be had, or would not take it) is the only other.
    size_t blocks = o.blocks;
    if (name == "HeapFree" || name == "GetProcessHeap")
        return blocks == 1 || blocks == 2;
    return blocks == 1;
}

// What the program promises at a busy log-on: what it promises anyway, and
// that within two ticks it knows the icon the shell shows, one, and calls the
// shell no more. A copy that could not start, or has no timer, has no ticks
// to find out with.
bool BusyLogOnKeepsItsPromise(const Fault& fault, const Outcome& o, std::string* why)
{
    if (!FirstCopyKeepsItsPromise(fault, o, why))
        return false;
    if (o.exitCode != 0 || fault.name == "SetTimer")
        return true;
    *why = "the landed icon known within two ticks, and the shell left alone after that";
    return AfterTwoTicks.known && AfterTwoTicks.icons == 1 && BeforeTheReAdd.calls == AfterTwoTicks.calls;
}

// A second copy that found the marker held: it ends with 1 and makes nothing.
bool MadeNothingAndEndedWithOne(const Outcome& o)
{
    return o.exitCode == 1 && o.menus == 0 && o.icons == 0 && o.state == 0 && !o.windowAlive && o.timers == 0;
}

// The command string could not be made: the launch ends with 1 before the
// single-copy test.
bool WithoutCommandString(const Fault& fault)
{
    return (fault.name == "GetProcessHeap" || fault.name == "HeapAlloc") && fault.beforeMutex;
}

// What the program promises when `fault` happens in the second copy. Only the
// first CreateMutexA decides whether it is one; a later look whose call fails
// counts the marker as held.
bool SecondCopyKeepsItsPromise(const Fault& fault, const Outcome& o, std::string* why)
{
    if (WithoutCommandString(fault)) {
        *why = "without its command string it ends with 1, hands nothing over and makes nothing";
        return MadeNothingAndEndedWithOne(o) && o.handedOver == 0;
    }
    if (fault.name == "CreateMutexA" && fault.n == 1) {
        *why = "no marker to be found: it runs as a copy of its own, closed with 0";
        return o.exitCode == 0 && o.icons == 0 && o.menus == 0 && o.state == ES_CONTINUOUS && o.handedOver == 0;
    }
    size_t texts = fault.name == "SendMessageA" ? 0 : 1;
    *why = "a second copy hands its text over " + std::to_string(texts) + " time(s), ends with 1 and makes nothing";
    return MadeNothingAndEndedWithOne(o) && o.handedOver == texts;
}

// What the program promises when `fault` happens in a launch whose running
// copy ends while it waits: it runs as the first copy. A handle that would
// not close keeps the marker held, and the launch then waits out the deadline.
bool LaunchAfterTheEndKeepsItsPromise(const Fault& fault, const Outcome& o, std::string* why)
{
    if (fault.name == "CloseHandle") {
        *why = "its own handle keeps the marker: it ends with 1 at the deadline and makes nothing";
        return MadeNothingAndEndedWithOne(o) && sim::Now() == HANDOFF_WAIT_MS;
    }
    return FirstCopyKeepsItsPromise(fault, o, why);
}

// What the program promises when `fault` happens in a launch that waits for a
// window that never comes.
bool LaunchWithoutWindowKeepsItsPromise(const Fault& fault, const Outcome& o, std::string* why)
{
    if (WithoutCommandString(fault) || (fault.name == "CreateMutexA" && fault.n == 1))
        return SecondCopyKeepsItsPromise(fault, o, why);
    // A handle that would not close stays open until the process ends.
    size_t open = fault.name == "CloseHandle" ? 1 : 0;
    *why = "it ends with 1 at the deadline, every look's handle closed that would close, and makes nothing";
    return MadeNothingAndEndedWithOne(o) && sim::Now() == HANDOFF_WAIT_MS && sim::OpenHandles() == open;
}

struct Scenario {
    const char* name;
    std::function<void()> script;
    const char* commandLine;
    std::function<bool(const Fault&, const Outcome&, std::string*)> promise;
};

class FaultSweepTest : public ::testing::Test {
protected:
    static void Sweep(const Scenario& scenario)
    {
        Outcome normal = RunWith(scenario.script, scenario.commandLine, nullptr);
        std::vector<Fault> faults = FaultsOf(sim::Calls());
        ASSERT_FALSE(faults.empty());
        std::printf("%s: %s; %zu calls to fail\n", scenario.name, Describe(normal).c_str(), faults.size());

        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::string(scenario.name) + ", " + NameOf(fault) + " fails");
            ASSERT_TRUE(sim::CanFail(fault.name)) << "the simulation cannot make " << fault.name << " fail";
            Outcome o{};
            try {
                o = RunWith(scenario.script, scenario.commandLine, &fault);
            } catch (const sim::Deadlock& deadlock) {
                ADD_FAILURE() << "the run did not end: " << deadlock.what;
                continue;
            }
            EXPECT_EQ(sim::PendingFailures(), 0) << "the failure never happened";
            std::string why;
            bool kept = scenario.promise(fault, o, &why);
            EXPECT_TRUE(kept) << why << "; got " << Describe(o);
            std::printf("  %-28s %s%s\n", NameOf(fault).c_str(), Describe(o).c_str(), kept ? "" : "  <- broken");
        }
    }
};

TEST_F(FaultSweepTest, FirstCopy)
{
    Sweep({ "first copy", FirstCopy, "ovq.exe", FirstCopyKeepsItsPromise });
}

TEST_F(FaultSweepTest, FirstCopyWithOwnArguments)
{
    Sweep({ "first copy with -c", FirstCopy, "ovq.exe -c", FirstCopyKeepsItsPromise });
}

TEST_F(FaultSweepTest, FirstCopyAtABusyLogOn)
{
    Sweep({ "first copy at a busy log-on", FirstCopyAtABusyLogOn, "ovq.exe", BusyLogOnKeepsItsPromise });
}

TEST_F(FaultSweepTest, SecondCopy)
{
    Sweep({ "second copy", SecondCopy, "ovq.exe -s", SecondCopyKeepsItsPromise });
}

TEST_F(FaultSweepTest, SecondCopyWaitingForTheWindow)
{
    Sweep({ "second copy waiting", SecondCopyWaiting, "ovq.exe -s", SecondCopyKeepsItsPromise });
}

TEST_F(FaultSweepTest, LaunchWhileTheRunningCopyEnds)
{
    Sweep({ "launch while the running copy ends", RunningCopyEnding, "ovq.exe -c", LaunchAfterTheEndKeepsItsPromise });
}

TEST_F(FaultSweepTest, LaunchWaitingForAWindowThatNeverComes)
{
    Sweep({ "launch without a window", MarkerWithoutWindow, "ovq.exe -s", LaunchWithoutWindowKeepsItsPromise });
}

// The sweep's own premise: the normal run of the first copy does everything
// it is meant to, so that its log holds every kind of call.
TEST_F(FaultSweepTest, NormalRunCoversEveryPath)
{
    Outcome o = RunWith(FirstCopy, "ovq.exe", nullptr);
    EXPECT_EQ(o.exitCode, 0u);
    EXPECT_EQ(sim::MenusShown(), 2);
    EXPECT_EQ(sim::MessageBoxesShown(), 1);
    EXPECT_LT(sim::Now(), 5000u) << "it ended through the menu, not from outside";
    std::set<std::string> names;
    for (const std::string& line : sim::Calls())
        names.insert(sim::FaultNameOf(line));
    for (const char* call : { "mouse_event", "HeapFree", "NIM_DELETE", "MessageBoxA", "TrackPopupMenu",
                              "WideCharToMultiByte", "KillTimer", "DestroyMenu" })
        EXPECT_EQ(names.count(call), 1u) << call;
}

}  // namespace
