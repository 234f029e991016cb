// The Windows calls and heap allocations of one keep-awake tick, with the
// permit switch off and on, counted in the simulated Windows layer's log.
//
// The program runs for a few virtual seconds: ticks at 900, 1800, ... with the
// switch off; a second launch hands over "ovq -s" between two ticks, which
// turns it on; the ticks after that run with it on. A tick's calls are the log
// lines after "> WindowProc(..., WM_TIMER, ...)" up to the next GetMessageA,
// without the deliveries to the window procedure itself. A scripted event of
// another program runs while the program waits, before GetMessageA returns, so
// its lines are cut off where the event began.
//
// Prints key=value lines for ./bench.sh; exits 1 when the log does not show
// the ticks it should (a broken measurement), never because of a count.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "UTypes.h"
#include "WinSim.h"

namespace {

const DWORD kToggleAt = 3000;  // between the ticks at 2700 and 3600
const DWORD kCloseAt = 6000;

struct Tick {
    DWORD at;
    std::vector<std::string> calls;
};

bool StartsWith(const std::string& line, const char* prefix)
{
    return line.rfind(prefix, 0) == 0;
}

std::string FunctionName(const std::string& line)
{
    return line.substr(0, line.find('('));
}

// Where in the log each scripted event began.
std::vector<size_t> EventStarts;

// The ticks in the log; `at` comes from the delivery order and the period.
std::vector<Tick> TicksOf(const std::vector<std::string>& log)
{
    std::vector<Tick> ticks;
    bool inTick = false;
    for (size_t i = 0; i < log.size(); ++i) {
        const std::string& line = log[i];
        if (std::find(EventStarts.begin(), EventStarts.end(), i) != EventStarts.end())
            inTick = false;
        if (StartsWith(line, "> WindowProc(") && line.find("WM_TIMER") != std::string::npos) {
            ticks.push_back(Tick{ static_cast<DWORD>(ticks.size() + 1) * KEEPAWAKE_PERIOD_MS, {} });
            inTick = true;
        } else if (StartsWith(line, "GetMessageA")) {
            inTick = false;
        } else if (inTick && !StartsWith(line, "> ")) {
            ticks.back().calls.push_back(line);
        }
    }
    return ticks;
}

size_t Allocations(const Tick& tick)
{
    size_t n = 0;
    for (const std::string& line : tick.calls)
        n += StartsWith(line, "HeapAlloc(") ? 1 : 0;
    return n;
}

std::string Names(const Tick& tick)
{
    std::string names;
    for (const std::string& line : tick.calls)
        names += (names.empty() ? "" : ",") + FunctionName(line);
    return names;
}

// One group of ticks (all with the switch in one position): the smallest and
// largest count, so a tick that differs from the others shows.
void Report(const char* key, const std::vector<Tick>& ticks)
{
    size_t minCalls = ~size_t(0), maxCalls = 0, minAllocs = ~size_t(0), maxAllocs = 0;
    for (const Tick& tick : ticks) {
        minCalls = std::min(minCalls, tick.calls.size());
        maxCalls = std::max(maxCalls, tick.calls.size());
        minAllocs = std::min(minAllocs, Allocations(tick));
        maxAllocs = std::max(maxAllocs, Allocations(tick));
    }
    std::printf("%s.ticks=%zu\n", key, ticks.size());
    std::printf("%s.calls_min=%zu\n%s.calls_max=%zu\n", key, minCalls, key, maxCalls);
    std::printf("%s.allocs_min=%zu\n%s.allocs_max=%zu\n", key, minAllocs, key, maxAllocs);
    std::printf("%s.names=%s\n", key, Names(ticks.back()).c_str());
}

}  // namespace

int main()
{
    sim::Reset();
    App = AppState{};
    const std::string handedOver = "ovq -s";
    sim::At(kToggleAt, [&] {
        EventStarts.push_back(sim::Calls().size());
        sim::SendFromOutside(sim::MainWindowOf(OVQ_WINDOW_CLASS), WM_SETTEXT, 0, &handedOver);
    });
    sim::At(kCloseAt, [] {
        EventStarts.push_back(sim::Calls().size());
        sim::PostFromOutside(sim::MainWindowOf(OVQ_WINDOW_CLASS), WM_CLOSE, 0, 0);
    });
    UINT code = 0;
    try {
        code = sim::RunProgram("ovq.exe");
    } catch (const sim::Deadlock& deadlock) {
        std::fprintf(stderr, "bench_ticks: the simulated run did not end: %s\n", deadlock.what.c_str());
        return 1;
    }

    std::vector<Tick> off, on;
    for (const Tick& tick : TicksOf(sim::Calls()))
        (tick.at < kToggleAt ? off : on).push_back(tick);
    if (code != 0 || off.empty() || on.empty()) {
        std::fprintf(stderr, "bench_ticks: exit code %u, %zu ticks with the switch off, %zu with it on\n", code,
                     off.size(), on.size());
        return 1;
    }
    Report("off", off);
    Report("on", on);
    return 0;
}
