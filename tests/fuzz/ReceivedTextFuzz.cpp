// Fuzzes the received-text path of the running program: bytes handed over as
// the window's title (WM_SETTEXT), converted, tokenized and dispatched; and
// the same bytes as the first launch's own command line.

#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "UTypes.h"
#include "WinSim.h"

namespace {

HWND Main()
{
    return sim::MainWindowOf(OVQ_WINDOW_CLASS);
}

void Start()
{
    sim::Reset();             // also frees the heap of the run before
    sim::RecordCalls(false);  // the checks below read the outcome, not the log
    App = AppState{};
}

// The checks that hold for every text: the run ends with 0, the text keeps
// no memory, and unless it ended the run the window carries it as its title.
void HandOver(const std::string& text)
{
    Start();
    bool alive = false;
    sim::At(100, [&] {
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
        alive = sim::WindowAlive(Main());
        if (alive && sim::WindowTitle(Main()) != text.c_str())
            abort();
        if (sim::LiveBlocks() != 1)  // the text gave back all it took
            abort();
    });
    sim::At(200, [] { sim::PostFromOutside(Main(), WM_COMMAND, IDM_EXIT, 0); });
    if (sim::RunProgram("ovq.exe") != 0)
        abort();
}

void Launch(const std::string& arguments)
{
    Start();
    sim::At(2000, [] { sim::PostFromOutside(Main(), WM_COMMAND, IDM_EXIT, 0); });
    if (sim::RunProgram("ovq.exe " + std::string(arguments.c_str())) != 0)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    HandOver(bytes.c_str());  // a WM_SETTEXT text ends at its first zero byte
    Launch(bytes);
    return 0;
}
