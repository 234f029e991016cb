// Command texts through the whole received path of the running program:
// WM_SETTEXT, conversion, tokenizer and dispatch.

#include <chrono>

#include "ProgramTest.h"

namespace {

class DispatchTest : public ProgramTest {
protected:
    static bool PermitChecked() { return sim::MenuItems(App.TrayMenu)[0].checked; }
};

struct DispatchCase {
    const char* name;
    std::vector<std::string> texts;  // handed over one after the other
    bool checked;                    // the permit switch afterwards
    bool ended;                      // whether -x ended the program
};

TEST_F(DispatchTest, CommandsChangeTheSwitchOrEndTheProgram)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const DispatchCase cases[] = {
        { "-s", { "ovq -s" }, true, false },
        { "-S like -s", { "ovq -S" }, true, false },
        { "-s twice in one text", { "ovq -s -s" }, false, false },
        { "-s in two texts", { "ovq -s", "ovq -s" }, false, false },
        { "-c on unchecked", { "ovq -c" }, false, false },
        { "-C clears", { "ovq -s", "ovq -C" }, false, false },
        { "-s -c", { "ovq -s -c" }, false, false },
        { "-c -s", { "ovq -c -s" }, true, false },
        { "-x", { "ovq -x" }, false, true },
        { "-X", { "ovq -X" }, false, true },
        { "-s -x -c: -c never runs", { "ovq -s -x -c" }, true, true },
        { "-x -s: -s never runs", { "ovq -x -s" }, false, true },
        { "a quoted -x", { "ovq\"-x\"" }, false, true },
        { "the program's name is no command", { "ovq" }, false, false },
        { "no commands", { "ovq \"\" - s /s --s -sc -s-c \"-s \" x-s -s\v-c" }, false, false },
        { "a quoted pair of words is one token", { "\"-s -c\"" }, false, false },
        { "full-width hyphen and s", { "ovq \x81|\x82\x93 \x81|\x82\x72" }, false, false },
        { "a double-byte letter after the hyphen", { "-\x82\x93" }, false, false },
        { "the empty text", { "" }, false, false },
    };
    // clang-format on
    for (const DispatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartAfresh();
        bool checked = false;
        bool alive = true;
        sim::At(100, [&] {
            for (const std::string& text : c.texts)
                sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
            checked = PermitChecked();
            alive = sim::WindowAlive(Main());
        });
        sim::At(200, [] { sim::PostFromOutside(Main(), WM_COMMAND, IDM_EXIT, 0); });
        EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
        EXPECT_EQ(checked, c.checked);
        EXPECT_EQ(!alive, c.ended);
        if (!c.ended) {
            EXPECT_EQ(sim::WindowTitle(Main()), c.texts.back());
        }
    }
}

TEST_F(DispatchTest, ExitInTheMiddleOfATextLeavesTheRestAndEndsWithZero)
{
    std::vector<std::string> lines;
    CaptureAt(100, &lines, [] {
        std::string text = "ovq -s -x -c";
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
    });
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "> WindowProc(hwnd1, WM_SETTEXT, 0, \"ovq -s -x -c\")",
        "MultiByteToWideChar(0, 0x0, 12 bytes, null, 0 units) = 12",
        "GetProcessHeap() = heap",
        "HeapAlloc(heap, 0x0, 26) = block2",  // the text in UTF-16, 12 units and a zero
        "MultiByteToWideChar(0, 0x0, 12 bytes, buffer, 12 units) = 12",
        "GetProcessHeap() = heap",
        "HeapAlloc(heap, 0x0, 26) = block3",  // the token, never longer than the text
        "WideCharToMultiByte(0, 0x0, 3 units, null, 0 bytes) = 3",
        "GetProcessHeap() = heap",
        "HeapAlloc(heap, 0x0, 4) = block4",   // "ovq" in ANSI; "-s" and "-x" fit in it
        "WideCharToMultiByte(0, 0x0, 3 units, buffer, 3 bytes) = 3",
        "WideCharToMultiByte(0, 0x0, 2 units, null, 0 bytes) = 2",
        "WideCharToMultiByte(0, 0x0, 2 units, buffer, 2 bytes) = 2",
        "GetMenuState(hmenu1, 202, 0x0) = 0x0",
        "CheckMenuItem(hmenu1, 202, 0x8)",
        "WideCharToMultiByte(0, 0x0, 2 units, null, 0 bytes) = 2",
        "WideCharToMultiByte(0, 0x0, 2 units, buffer, 2 bytes) = 2",
        "DestroyWindow(hwnd1)",
        "> WindowProc(hwnd1, WM_DESTROY, 0, 0)",
        "PostQuitMessage(0)",
        "> WindowProc(hwnd1, WM_NCDESTROY, 0, 0)",
        "DefWindowProcA(hwnd1, WM_NCDESTROY, 0, 0)",
        // The stop still gives every block of the text back.
        "GetProcessHeap() = heap",
        "HeapFree(heap, 0x0, block3) = TRUE",
        "GetProcessHeap() = heap",
        "HeapFree(heap, 0x0, block4) = TRUE",
        "GetProcessHeap() = heap",
        "HeapFree(heap, 0x0, block2) = TRUE",
        "DefWindowProcA(hwnd1, WM_SETTEXT, 0, \"ovq -s -x -c\")",  // on the destroyed window

    };
    // clang-format on
    EXPECT_LINES(lines, expected);
}

TEST_F(DispatchTest, NullTextRunsNothingAndStillReachesTheDefaultHandling)
{
    LRESULT result = -1;
    std::vector<std::string> lines;
    CaptureAt(100, &lines, [&] { result = sim::SendFromOutside(Main(), WM_SETTEXT, 0, LPARAM(0)); });
    CloseAt(200);
    sim::RunProgram("ovq.exe");
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "> WindowProc(hwnd1, WM_SETTEXT, 0, null)",
        "DefWindowProcA(hwnd1, WM_SETTEXT, 0, null)",
    };
    // clang-format on
    EXPECT_LINES(WithoutHeap(lines), expected);
    EXPECT_EQ(result, TRUE);
}

// First launches: the real command line, split, joined and run before the first tick.
struct LaunchCase {
    const char* commandLine;
    bool checked;  // at the first tick
    bool ended;
};

TEST_F(DispatchTest, OwnArgumentsActBeforeTheFirstTick)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const LaunchCase cases[] = {
        { "ovq.exe -s", true, false },
        { "ovq.exe \"-s -x\"", true, true },
        { "ovq.exe \"\" -s", true, false },
        { "ovq.exe -s \"", true, false },
        { "ovq.exe \"-s -c", false, false },
        { "ovq.exe -c -s", true, false },
        { "ovq.exe -x -s", false, true },
        { "-s", false, false },  // only a path, no arguments
    };
    // clang-format on
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(c.commandLine);
        StartAfresh();
        bool checked = false;
        sim::At(100, [&] { checked = PermitChecked(); });
        CloseAt(1000);
        EXPECT_EQ(sim::RunProgram(c.commandLine), 0u);
        if (c.ended) {
            EXPECT_TRUE(sim::CallsOf({ "mouse_event" }).empty());
            EXPECT_EQ(sim::TimerCount(), 0u);
            EXPECT_EQ(sim::Calls().back(), "ExitProcess(0)");
        } else {
            EXPECT_EQ(checked, c.checked);
            EXPECT_EQ(sim::InputEvents().size(), c.checked ? 0u : 1u);
        }
    }
}

// A text of 16 MiB through the whole path, then -x still ends the program.
TEST_F(DispatchTest, SixteenMebibyteTextIsRunWhole)
{
    const std::string unit = "\x83X\x83N ab\t\"c d\" ";
    std::string text = "ovq -s ";
    while (text.size() + unit.size() + 3 <= (16u << 20))
        text += unit;
    text.resize((16u << 20) - 3, ' ');
    text += " -c";
    ASSERT_EQ(text.size(), 16u << 20);

    bool checked = true;
    double seconds = 0;
    sim::At(100, [&] {
        auto start = std::chrono::steady_clock::now();
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        checked = PermitChecked();
    });
    sim::At(200, [] {
        std::string x = "-x";
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &x);
    });
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    EXPECT_FALSE(checked);  // -s at the start and -c at the very end both ran
    EXPECT_EQ(sim::WindowTitle(Main()).size(), 16u << 20);
    std::printf("16 MiB text handled in %.3f s\n", seconds);
}

}  // namespace
