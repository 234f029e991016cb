// The version text and the version box.

#include "ProgramTest.h"
#include "Texts.h"
#include "tray/VersionBox.h"

namespace {

class VersionTest : public ProgramTest {};

TEST_F(VersionTest, TextHasSevenLinesJoinedByASingleCr)
{
    const std::string text = GetVersionText();
    EXPECT_EQ(text.size(), 182u);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.back(), '\r');

    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t cr; (cr = text.find('\r', start)) != std::string::npos; start = cr + 1)
        lines.push_back(text.substr(start, cr - start));
    lines.push_back(text.substr(start));

    // The Japanese lines are proven against their UTF-8 form in TextsTest.
    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        TEXT_VERSION_TITLE, "ovq Ver:0.2.8.4", "", TEXT_VERSION_OPTIONS,
        TEXT_VERSION_OPTION_S, TEXT_VERSION_OPTION_C, TEXT_VERSION_OPTION_X,
    };
    // clang-format on
    EXPECT_EQ(lines, expected);
    const size_t lengths[] = { 36, 15, 0, 24, 33, 51, 17 };
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].size(), lengths[i]) << "line " << i + 1;
}

TEST_F(VersionTest, BoxIsOwnedByTheMainWindowAndLeavesSwitchAndIconAlone)
{
    sim::ScriptMessageBox(0);
    std::vector<std::string> lines;
    CaptureAt(100, &lines, [] { sim::SendFromOutside(Main(), WM_COMMAND, IDM_VERSION, LPARAM(0)); });
    bool checked = true;
    size_t icons = 0;
    sim::At(200, [&] {
        checked = sim::MenuItems(App.TrayMenu)[0].checked;
        icons = sim::TrayIcons().size();
    });
    CloseAt(300);
    sim::RunProgram("ovq.exe");

    // The calls in the order of the log, one a line.
    // clang-format off
    const std::vector<std::string> expected = {
        "> WindowProc(hwnd1, WM_COMMAND, 201, 0)",
        "MessageBoxA(hwnd1, \"" + sim::Quote(GetVersionText()) + "\", \"" + sim::Quote(TEXT_VERSION_CAPTION) +
            "\", 0x00010000)",
    };
    // clang-format on
    EXPECT_LINES(lines, expected);
    EXPECT_EQ(sim::Quote(TEXT_VERSION_CAPTION), "\\x83o\\x81[\\x83W\\x83\\x87\\x83\\x93\\x8f\\xee\\x95\\xf1");
    EXPECT_FALSE(checked);
    EXPECT_EQ(icons, 1u);
}

TEST_F(VersionTest, TicksGoOnWhileTheBoxIsOpen)
{
    sim::ScriptMessageBox(3000);  // open from 100 to 3100
    sim::At(100, [] { sim::PostFromOutside(Main(), WM_COMMAND, IDM_VERSION, 0); });
    std::string handed = "ovq -s";
    sim::At(2000, [&] { sim::SendFromOutside(Main(), WM_SETTEXT, 0, &handed); });  // a hand-off meanwhile
    CloseAt(4000);
    EXPECT_EQ(sim::RunProgram("ovq.exe"), 0u);
    EXPECT_EQ(sim::MessageBoxesShown(), 1);
    EXPECT_EQ(sim::InputEvents(), (std::vector<DWORD>{ 900, 1800 }));
}

TEST_F(VersionTest, NoCommandLineWordOpensTheBox)
{
    CloseAt(100);
    sim::RunProgram("ovq.exe -a -v /? -h -A");
    EXPECT_EQ(sim::MessageBoxesShown(), 0);
}

}  // namespace
