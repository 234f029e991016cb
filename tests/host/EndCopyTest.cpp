// The package's custom actions on a simulated machine (MachineSim.h): the
// copies of ovq in every session ended by their own -x before the files are
// touched, the program started again in each of those sessions after the
// commit, nothing after a removal, the ended copies again after a rollback;
// and, with each Windows call failing in turn, always an end that the package
// promises.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "EndCopy.h"
#include "MachineSim.h"

namespace {

const std::string Product = "{4540F423-1EC3-5C49-9168-B4235EA2EDAB}";
const std::string Exe = "C:\\Program Files\\ovq\\ovq.exe";
const std::string Exe32 = "C:\\Program Files (x86)\\ovq\\ovq.exe";
const std::string ListKey = "SOFTWARE\\ovq ended copies";
const UINT EndedByPackage = 0xF0;

using machine::Process;

std::string Lines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += "  " + line + "\n";
    return out;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The lines of the installation's log that contain every one of parts.
std::vector<std::string> LogLines(std::initializer_list<std::string> parts)
{
    std::vector<std::string> found;
    for (const std::string& line : machine::InstallLog())
        if (std::all_of(parts.begin(), parts.end(), [&](const std::string& part) { return Contains(line, part); }))
            found.push_back(line);
    return found;
}

// The processes a custom action started.
std::vector<Process> Started()
{
    std::vector<Process> started;
    for (const Process& process : machine::Processes())
        if (process.startedBy == machine::ActionProcess())
            started.push_back(process);
    return started;
}

class EndCopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine::Reset();
        machine::AddFile(Exe);
    }

    static UINT End()
    {
        machine::SetActionData(Product);
        return EndRunningCopies(machine::Install());
    }
    static UINT Start(const std::string& exe = Exe)
    {
        machine::SetActionData(Product + "|" + exe);
        return StartEndedCopies(machine::Install());
    }
    static UINT Restore()
    {
        machine::SetActionData(Product);
        return RestoreEndedCopies(machine::Install());
    }

    // A terminal server's or a shared PC's sessions: the installing user's
    // (alice, at the screen), another user's that is disconnected (bob), one
    // switched away from (carol), a user signed in with no copy (dave), and
    // session 0, which has no user. A copy runs in 1, 2 and 3.
    std::map<DWORD, DWORD> SharedMachine(std::function<void(machine::CopySpec*)> adjust = nullptr)
    {
        machine::AddSession(1, "alice");
        machine::AddSession(2, "bob");
        machine::AddSession(3, "carol");
        machine::AddSession(4, "dave");
        std::map<DWORD, DWORD> copies;
        for (DWORD session : { 1u, 2u, 3u }) {
            machine::CopySpec spec{ session, Exe };
            if (adjust)
                adjust(&spec);
            copies[session] = machine::StartCopy(spec);
        }
        return copies;
    }

    static void ExpectNothingHeld()
    {
        EXPECT_EQ(machine::OpenHandles(), 0u) << Lines(machine::Calls());
        EXPECT_EQ(machine::LiveBlocks(), 0u);
        EXPECT_EQ(machine::EnvironmentBlocks(), 0u);
    }
};

// ---- ending ----

TEST_F(EndCopyTest, EveryCopyIsAskedInItsSessionAsItsUserByItsOwnMinusX)
{
    std::map<DWORD, DWORD> copies = SharedMachine();
    EXPECT_EQ(End(), static_cast<UINT>(ERROR_SUCCESS));

    EXPECT_TRUE(machine::RunningCopies().empty()) << Lines(machine::InstallLog());
    std::vector<Process> launches = Started();
    ASSERT_EQ(launches.size(), 3u) << Lines(machine::Calls());
    for (const Process& launch : launches) {
        Process copy = machine::ProcessOf(copies.at(launch.session));
        EXPECT_EQ(launch.exe, copy.exe);
        EXPECT_EQ(launch.commandLine, "\"" + Exe + "\" -x");
        EXPECT_EQ(launch.user, copy.user) << "session " << launch.session;
        EXPECT_EQ(launch.desktop, "winsta0\\default");
        EXPECT_EQ(launch.exitCode, 1u) << "the -x is a second copy that hands over";
        EXPECT_EQ(copy.exitCode, 0u) << "the copy ended by its -x";
        EXPECT_EQ(LogLines({ "session " + std::to_string(copy.session), "process " + std::to_string(copy.id),
                             "ended with exit code 0", "after its own -x (which exited with 1)" })
                      .size(),
                  1u)
            << Lines(machine::InstallLog());
    }
    EXPECT_EQ(machine::MultiString(ListKey, Product), (std::vector<std::string>{ "1 " + Exe, "2 " + Exe, "3 " + Exe }));
    EXPECT_TRUE(machine::KeyVolatile(ListKey));
    ExpectNothingHeld();
}

TEST_F(EndCopyTest, TheActionReturnsOnlyOnceEachCopyHasEnded)
{
    // A copy slow to end (its shut-down takes 5 s) is waited for, not ended.
    std::map<DWORD, DWORD> copies = SharedMachine([](machine::CopySpec* spec) {
        if (spec->session == 2)
            spec->endMs = 5000;
    });
    End();
    Process slow = machine::ProcessOf(copies[2]);
    EXPECT_FALSE(slow.alive);
    EXPECT_EQ(slow.exitCode, 0u) << "ended by its -x, not by the package";
    EXPECT_GE(slow.endedAt, 5000u);
    EXPECT_GE(machine::Now(), slow.endedAt);
    EXPECT_TRUE(LogLines({ "the package ended it" }).empty()) << Lines(machine::InstallLog());
}

// A copy that cannot or does not take its -x is ended by the package: ovq
// keeps nothing between runs, and a copy left running would keep its file in
// use until the PC restarts. Either way it is named in the log, with its
// session, and started again like the others.
TEST_F(EndCopyTest, ACopyThatDoesNotEndIsEndedByThePackage)
{
    struct Case {
        const char* what;
        std::function<void(machine::CopySpec*)> adjust;
        std::function<void()> before;
        const char* logged;
        DWORD endedBy;  // the moment, from the start of the action
    };
    const Case cases[] = {
        { "a hung copy, after 30 s", [](machine::CopySpec* s) { s->ignoresMinusX = s->session == 2; }, nullptr,
          "did not end within 30 s of its -x: the package ended it", 30000 },
        { "a copy whose program file cannot be read, at once", nullptr,
          [] { machine::FailNth("QueryFullProcessImageNameA", 2); }, "was not asked: the package ended it", 0 },
        { "a copy whose -x cannot start, at once", nullptr, [] { machine::FailNth("CreateProcessAsUserA", 2); },
          "was not asked: the package ended it", 0 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        machine::Reset();
        machine::AddFile(Exe);
        std::map<DWORD, DWORD> copies = SharedMachine(test.adjust);
        if (test.before)
            test.before();
        End();
        Process ended = machine::ProcessOf(copies[2]);
        EXPECT_FALSE(ended.alive);
        EXPECT_EQ(ended.exitCode, EndedByPackage);
        EXPECT_GE(ended.endedAt, test.endedBy);
        EXPECT_LT(ended.endedAt, test.endedBy + 1000);
        EXPECT_EQ(LogLines({ "session 2", test.logged }).size(), 1u) << Lines(machine::InstallLog());
        EXPECT_TRUE(machine::RunningCopies().empty());
        EXPECT_EQ(machine::MultiString(ListKey, Product).size(), 3u);
        Start();
        EXPECT_EQ(machine::RunningCopies().size(), 3u) << Lines(machine::InstallLog());
        ExpectNothingHeld();
    }
}

TEST_F(EndCopyTest, AnElevatedCopyIsAskedAtItsLevelAndStartsAgainAsItsUserOnly)
{
    std::map<DWORD, DWORD> copies = SharedMachine([](machine::CopySpec* spec) { spec->elevated = spec->session == 1; });
    End();
    EXPECT_EQ(machine::ProcessOf(copies[1]).exitCode, 0u) << "its -x, at its level, reached it";
    Start();
    for (const Process& copy : machine::RunningCopies())
        EXPECT_FALSE(copy.elevated) << "session " << copy.session;
}

TEST_F(EndCopyTest, NoCopyRuns)
{
    machine::AddSession(1, "alice");
    machine::StartOther(1, "C:\\Windows\\notepad.exe");
    End();
    Start();
    EXPECT_EQ(machine::InstallLog(), (std::vector<std::string>{ "ovq: no copy of ovq runs" }));
    EXPECT_TRUE(Started().empty());
    EXPECT_FALSE(machine::KeyExists(ListKey));
    ExpectNothingHeld();
}

// ---- after the run ----

TEST_F(EndCopyTest, AfterTheCommitTheInstalledProgramStartsInEachSessionWhereACopyEnded)
{
    SharedMachine();
    End();
    size_t launches = Started().size();
    EXPECT_EQ(Start(), static_cast<UINT>(ERROR_SUCCESS));

    std::vector<Process> started = Started();
    started.erase(started.begin(), started.begin() + static_cast<long>(launches));
    ASSERT_EQ(started.size(), 3u) << Lines(machine::Calls());
    const std::map<DWORD, std::string> users = { { 1, "alice" }, { 2, "bob" }, { 3, "carol" } };
    for (const Process& copy : started) {
        EXPECT_TRUE(copy.alive && copy.copy) << "session " << copy.session;
        EXPECT_EQ(copy.user, users.at(copy.session));
        EXPECT_FALSE(copy.elevated);
        EXPECT_EQ(copy.exe, Exe);
        EXPECT_EQ(copy.commandLine, "\"" + Exe + "\"");
        EXPECT_EQ(copy.directory, "C:\\Program Files\\ovq");
        EXPECT_EQ(copy.desktop, "winsta0\\default");
        EXPECT_TRUE(copy.environment) << "the user's own environment";
        EXPECT_EQ(LogLines({ "started " + Exe + " in session " + std::to_string(copy.session),
                             "(process " + std::to_string(copy.id) + ")" })
                      .size(),
                  1u)
            << Lines(machine::InstallLog());
    }
    EXPECT_FALSE(machine::KeyExists(ListKey)) << "the list goes with its run";
    ExpectNothingHeld();
}

TEST_F(EndCopyTest, AfterARemovalNothingStarts)
{
    SharedMachine();
    End();
    size_t launches = Started().size();
    EXPECT_EQ(Start(""), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(Started().size(), launches);
    EXPECT_TRUE(machine::RunningCopies().empty());
    for (const char* session : { "session 1", "session 2", "session 3" })
        EXPECT_EQ(LogLines({ "the program is removed: nothing is started in", session }).size(), 1u);
    EXPECT_FALSE(machine::KeyExists(ListKey));
    ExpectNothingHeld();
}

// A rollback puts the files of the version that ran back, and each ended copy
// starts again from its own program file: after an upgrade from the other
// flavour, from the other folder.
TEST_F(EndCopyTest, AfterARollbackEachCopyStartsAgainFromItsOwnFile)
{
    machine::AddFile(Exe32);
    SharedMachine([](machine::CopySpec* spec) {
        if (spec->session == 3)
            spec->exe = Exe32;
    });
    End();
    EXPECT_EQ(Restore(), static_cast<UINT>(ERROR_SUCCESS));
    std::map<DWORD, std::string> running;
    for (const Process& copy : machine::RunningCopies())
        running[copy.session] = copy.exe;
    EXPECT_EQ(running, (std::map<DWORD, std::string>{ { 1, Exe }, { 2, Exe }, { 3, Exe32 } }));
    EXPECT_EQ(LogLines({ "rolled back" }).size(), 1u);
    EXPECT_FALSE(machine::KeyExists(ListKey));
    ExpectNothingHeld();
}

TEST_F(EndCopyTest, ASessionWhoseUserSignedOutMeanwhileGetsNothing)
{
    SharedMachine();
    End();
    machine::SignOut(2);
    Start();
    std::set<DWORD> sessions;
    for (const Process& copy : machine::RunningCopies())
        sessions.insert(copy.session);
    EXPECT_EQ(sessions, (std::set<DWORD>{ 1, 3 }));
    EXPECT_EQ(LogLines({ "cannot start", "in session 2", "no user's token" }).size(), 1u)
        << Lines(machine::InstallLog());
    ExpectNothingHeld();
}

// Each run has its list: the removal of an older product, which runs these
// actions too (with its own product code) in the same installation, neither
// takes nor starts the copies that the upgrading product ended.
TEST_F(EndCopyTest, ARunTakesOnlyItsOwnList)
{
    const std::string Older = "{BB7C25A0-79D9-5D89-956C-9094D3C73BDB}";
    SharedMachine();
    End();
    machine::SetActionData(Older + "|");
    StartEndedCopies(machine::Install());
    EXPECT_EQ(machine::MultiString(ListKey, Product).size(), 3u);
    EXPECT_TRUE(LogLines({ "nothing is started" }).empty());
    Start();
    EXPECT_EQ(machine::RunningCopies().size(), 3u);
    EXPECT_FALSE(machine::KeyExists(ListKey));
}

// On a terminal server the copies go in batches of 64, each with its own 30 s.
TEST_F(EndCopyTest, ManyCopiesGoInBatches)
{
    const DWORD Sessions = 150;
    for (DWORD session = 1; session <= Sessions; ++session) {
        machine::AddSession(session, "user" + std::to_string(session));
        machine::StartCopy(machine::CopySpec{ session, Exe, false, 50, session == 70 });
    }
    End();
    EXPECT_TRUE(machine::RunningCopies().empty());
    EXPECT_EQ(machine::MultiString(ListKey, Product).size(), Sessions);
    EXPECT_EQ(LogLines({ "ended", "after its own -x" }).size(), Sessions - 1);
    EXPECT_GE(machine::Now(), 30000u) << "the hung copy's batch waited its 30 s";
    EXPECT_LT(machine::Now(), 31000u) << "the other batches did not";
    Start();
    EXPECT_EQ(machine::RunningCopies().size(), Sessions);
    ExpectNothingHeld();
}

// ---- without the system account ----

// A run whose actions do not run as the system account (impersonating, or
// under Wine) reaches the copy of its own session only: another user's copy
// is left running and named, the list cannot be kept in HKLM, and nothing is
// started again; nothing fails the installation.
TEST_F(EndCopyTest, WithoutTheSystemAccountOnlyTheOwnSessionsCopyIsReached)
{
    std::map<DWORD, DWORD> copies = SharedMachine();
    machine::RunActionAsUser("alice", 1);
    EXPECT_EQ(End(), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_FALSE(machine::ProcessOf(copies[1]).alive);
    EXPECT_EQ(machine::ProcessOf(copies[1]).exitCode, 0u) << "asked by its -x from the caller's own session";
    EXPECT_TRUE(machine::ProcessOf(copies[2]).alive);
    EXPECT_EQ(LogLines({ "cannot open the copy in process " + std::to_string(copies[2]), "left running" }).size(), 1u)
        << Lines(machine::InstallLog());
    EXPECT_EQ(LogLines({ "cannot keep the list" }).size(), 1u);
    EXPECT_EQ(Start(), static_cast<UINT>(ERROR_SUCCESS));
    ExpectNothingHeld();
}

// ---- every call failing in turn ----

// The machine of the sweep: the shared PC, with a copy slow to end (bob's) and
// a hung one (carol's).
void SweepMachine()
{
    machine::Reset();
    machine::AddFile(Exe);
    machine::AddSession(1, "alice");
    machine::AddSession(2, "bob");
    machine::AddSession(3, "carol");
    machine::AddSession(4, "dave");
    machine::StartCopy(machine::CopySpec{ 1, Exe });
    machine::StartCopy(machine::CopySpec{ 2, Exe, false, 5000 });
    machine::StartCopy(machine::CopySpec{ 3, Exe, false, 50, true });
}

void RunUpgrade()
{
    machine::SetActionData(Product);
    EXPECT_EQ(EndRunningCopies(machine::Install()), static_cast<UINT>(ERROR_SUCCESS));
    machine::SetActionData(Product + "|" + Exe);
    EXPECT_EQ(StartEndedCopies(machine::Install()), static_cast<UINT>(ERROR_SUCCESS));
}

// What the package promises whatever fails: it never fails the installation
// nor waits for ever; a copy still running after the run is the original,
// and the log names it; at most one copy runs in a session; the program
// starts only in a session where a copy ended, and in each of those unless the
// log says why not; nothing is left open, and no list is left behind that the
// log does not mention.
// A release that fails (a handle, a block, an environment block given back)
// leaves that one thing held; the process that ran the action ends soon and
// takes it with it.
const std::set<std::string> Releases = {
    "CloseHandle", "RegCloseKey", "HeapFree", "GetProcessHeap", "DestroyEnvironmentBlock", "MsiCloseHandle"
};

void ExpectPromisesKept(const std::string& fault, const std::string& failed = "")
{
    SCOPED_TRACE(fault);
    const std::vector<std::string>& log = machine::InstallLog();
    std::string all;
    for (const std::string& line : log)
        all += line + "\n";
    std::map<DWORD, int> perSession;
    for (const Process& copy : machine::RunningCopies()) {
        ++perSession[copy.session];
        EXPECT_NE(copy.session, 4u) << "no copy starts where none ran";
        if (copy.startedBy != machine::ActionProcess()) {
            EXPECT_TRUE(Contains(all, "process " + std::to_string(copy.id)) || Contains(all, "ended early") ||
                        Contains(all, "cannot list"))
                << "a copy left running and not named:\n"
                << all;
        }
    }
    for (const auto& count : perSession)
        EXPECT_EQ(count.second, 1) << "session " << count.first;
    for (DWORD session : { 1u, 2u, 3u }) {
        bool running = perSession.count(session) != 0;
        bool explained = Contains(all, "session " + std::to_string(session)) && Contains(all, "cannot");
        bool listLost = Contains(all, "cannot keep the list") || Contains(all, "cannot read the list") ||
                        Contains(all, "no product code") || Contains(all, "session of the copy") ||
                        Contains(all, "program file of the copy");
        EXPECT_TRUE(running || explained || listLost || log.empty()) << "session " << session << ":\n" << all;
    }
    if (machine::KeyExists(ListKey) && !machine::MultiString(ListKey, Product).empty()) {
        EXPECT_TRUE(Contains(all, "cannot read the list") || Contains(all, "no product code")) << all;
    }
    size_t allowed = Releases.count(failed);
    EXPECT_LE(machine::OpenHandles(), allowed) << all;
    EXPECT_LE(machine::LiveBlocks(), allowed);
    EXPECT_LE(machine::EnvironmentBlocks(), allowed);
    EXPECT_LE(machine::OpenHandles() + machine::LiveBlocks() + machine::EnvironmentBlocks(), allowed);
}

TEST(EndCopySweep, EveryCallFailingInTurnStillEndsInAPromisedState)
{
    SweepMachine();
    RunUpgrade();
    std::vector<std::string> calls = machine::Calls();
    ASSERT_GT(calls.size(), 50u);
    ExpectPromisesKept("no fault");

    std::map<std::string, int> seen;
    int swept = 0;
    for (const std::string& line : calls) {
        std::string name = machine::FaultNameOf(line);
        int nth = ++seen[name];
        if (!machine::CanFail(name))
            continue;
        SweepMachine();
        machine::FailNth(name, nth);
        RunUpgrade();
        EXPECT_EQ(machine::PendingFailures(), 0) << name << " #" << nth << " was never called";
        ExpectPromisesKept(name + " #" + std::to_string(nth), name);
        ++swept;
    }
    EXPECT_GT(swept, 50);
}

}  // namespace
