// Splitting the process command line into the command string.

#include "ProgramTest.h"
#include "app/CommandLine.h"

namespace {

struct CommandLineCase {
    const char* commandLine;
    const char* commandString;
    int arguments;
};

// A table laid out by hand, a row a line.
// clang-format off
const CommandLineCase CommandLineCases[] = {
    { "ovq.exe", "ovq", 0 },
    { "", "ovq", 0 },
    { "ovq.exe   ", "ovq", 0 },
    { "ovq.exe -s", "ovq -s", 1 },
    { "ovq.exe  -s   a\"b c\"d", "ovq -s ab cd", 2 },
    // A quoted argument keeps its blank; the command string carries no quotes.
    { "ovq.exe \"-s -x\"", "ovq -s -x", 1 },
    { "ovq.exe \"\" -s", "ovq -s", 1 },
    // A lone quote at the very end is an empty word and ends the list.
    { "ovq.exe -s \"", "ovq -s", 1 },
    { "ovq.exe \"-s -c", "ovq -s -c", 1 },
    { "ovq.exe \"\"\"\" -c", "ovq -c", 1 },
    { "ovq.exe a\"\"b", "ovq ab", 1 },
    { "ovq.exe \"\"\" x\"", "ovq  x", 1 },
    // The first word is always the program path, whatever it holds.
    { "-x", "ovq", 0 },
    { "\"C:\\Program Files\\ovq\\ovq.exe\" -x", "ovq -x", 1 },
    { "ovq.exe\"-s\" -c", "ovq -c", 1 },
    // Every control character separates words; a backslash is no escape.
    { "ovq.exe\t-s\x01-c\x1f-x", "ovq -s -c -x", 3 },
    { "ovq.exe a\\\"b c\"", "ovq a\\b c", 1 },
    { "ovq.exe a\\\\ b", "ovq a\\\\ b", 2 },
    // A double-byte character is stepped whole: its second byte is never a
    // quote or a separator.
    { "ovq.exe \x81\" x", "ovq \x81\" x", 2 },
    { "ovq.exe \x81 x", "ovq \x81 x", 1 },
    { "ovq.exe \x95\x5c\x8e\x7e -s", "ovq \x95\x5c\x8e\x7e -s", 2 },
    // Bytes from 128 up are word characters, also a lead byte at the very end.
    { "ovq.exe \xa0\xdf -s \x81", "ovq \xa0\xdf -s \x81", 3 },
};
// clang-format on

class CommandLineTest : public ProgramTest {};

TEST_F(CommandLineTest, SplitsArgumentsAndJoinsThemBehindTheShortName)
{
    for (const CommandLineCase& c : CommandLineCases) {
        SCOPED_TRACE(sim::Quote(c.commandLine));
        App = AppState{};
        sim::SetCommandLine(c.commandLine);
        BuildCommandString();
        EXPECT_EQ(sim::Quote(App.CommandString), sim::Quote(c.commandString));
        EXPECT_EQ(App.ArgumentCount, c.arguments);
    }
}

}  // namespace
