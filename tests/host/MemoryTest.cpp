// The program's memory: every block comes from the process heap and goes back
// to it, and a block that cannot be had costs what it was for and no more.

#include "ProgramTest.h"

namespace {

class MemoryTest : public ProgramTest {
protected:
    static bool PermitChecked() { return sim::MenuItems(App.TrayMenu)[0].checked; }
};

// A start-up without its command string cannot go on: it ends with 1 before
// it looks for another copy or makes anything.
TEST_F(MemoryTest, CommandStringThatCannotBeHadEndsTheStartWithOne)
{
    for (const char* call : { "GetProcessHeap", "HeapAlloc" }) {
        SCOPED_TRACE(call);
        StartAfresh();
        sim::FailTimes(call, 1);
        EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 1u);
        EXPECT_EQ(sim::Calls().back(), "ExitProcess(1)");
        EXPECT_TRUE(sim::CallsOf({ "CreateMutexA", "RegisterClassA", "CreateWindowExA", "CreatePopupMenu",
                                   "SetThreadExecutionState" })
                        .empty());
    }
}

// A received text needs three blocks: the text in UTF-16, the token being
// collected, and the token in ANSI. The n-th of them fails.
struct TextFault {
    const char* name;
    const char* call;
    int n;
    const char* text;
    bool checked;  // the permit switch afterwards
};

TEST_F(MemoryTest, ReceivedTextWhoseMemoryCannotBeHadIsStoredAndItsCommandsSkipped)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const TextFault cases[] = {
        { "no heap for the UTF-16 text", "GetProcessHeap", 1, "ovq -s", false },
        { "no UTF-16 text", "HeapAlloc", 1, "ovq -s", false },
        { "no token buffer", "HeapAlloc", 2, "ovq -s", false },
        { "no ANSI buffer for the only token", "HeapAlloc", 3, "-s", false },
        // Only the token whose buffer failed is lost; the next one asks again.
        { "no ANSI buffer for ovq, then -s runs", "HeapAlloc", 3, "ovq -s", true },
    };
    // clang-format on
    for (const TextFault& c : cases) {
        SCOPED_TRACE(c.name);
        StartAfresh();
        const std::string text = c.text;
        bool checked = true;
        size_t blocks = 0;
        sim::At(100, [&] {
            sim::FailNth(c.call, c.n);
            sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
            checked = PermitChecked();
            blocks = sim::LiveBlocks();
        });
        CloseAt(200);
        EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
        EXPECT_EQ(checked, c.checked);
        EXPECT_EQ(blocks, 1u);  // only the command string is kept
        EXPECT_EQ(sim::WindowTitle(Main()), text);
    }
}

// A conversion that fails after it has told the size leaves its block
// unwritten. Whatever the block held must not be read as commands: here the
// fresh blocks hold "-x" over and over, which would end the program.
struct UnwrittenBlock {
    const char* name;
    const char* call;
    int n;
    std::string fill;
    const char* text;
    bool checked;
};

TEST_F(MemoryTest, ConversionThatFailsLeavesNoUnwrittenTextBehind)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const UnwrittenBlock cases[] = {
        // The text's second conversion, into its block: the whole text is skipped.
        { "the UTF-16 text", "MultiByteToWideChar", 2, std::string(" \0-\0x\0", 6), "ovq -s", false },
        // The first token's second conversion: that token is skipped, -s runs.
        { "the ANSI token", "WideCharToMultiByte", 2, "-x", "ab -s", true },
    };
    // clang-format on
    for (const UnwrittenBlock& c : cases) {
        SCOPED_TRACE(c.name);
        StartAfresh();
        const std::string text = c.text;
        bool alive = false;
        bool checked = false;
        sim::At(100, [&] {
            sim::FillNewBlocks(c.fill);
            sim::FailNth(c.call, c.n);
            sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
            alive = sim::WindowAlive(Main());
            checked = alive && PermitChecked();
        });
        CloseAt(200);
        EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
        EXPECT_TRUE(alive);
        EXPECT_EQ(checked, c.checked);
        EXPECT_EQ(sim::WindowTitle(Main()), text);
    }
}

// Hand-offs of every shape keep no memory: after each text only the command
// string is held, and a block that the heap would not take back is the only
// one left over.
TEST_F(MemoryTest, EveryReceivedTextGivesItsBlocksBack)
{
    // A table laid out by hand, a row a line.
    // clang-format off
    const std::string texts[] = {
        "ovq -s", "", "ovq -c \"\" \"a \"\"b\"\" c\"", "\x83X\x83N -s", "ovq \"unterminated -s",
        std::string(70000, 'w') + " -s",
    };
    // clang-format on
    std::vector<size_t> held;
    sim::At(100, [&] {
        for (const std::string& text : texts) {
            sim::SendFromOutside(Main(), WM_SETTEXT, 0, &text);
            held.push_back(sim::LiveBlocks());
        }
        sim::FailTimes("HeapFree", 1);
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &texts[0]);
        held.push_back(sim::LiveBlocks());
        sim::SendFromOutside(Main(), WM_SETTEXT, 0, &texts[0]);
        held.push_back(sim::LiveBlocks());
    });
    CloseAt(200);
    EXPECT_EQ(sim::RunProgram("ovq.exe -s"), 0u);
    EXPECT_EQ(held, std::vector<size_t>({ 1, 1, 1, 1, 1, 1, 2, 2 }));
    EXPECT_GT(sim::BlocksAllocated(), 3 * (std::size(texts) + 2));
}

}  // namespace
