// The command-text tokenizer on its own: the tokens it hands on, in order.
// This test links its own ExecuteCommand, which records each token and, like
// the real one, stops the text at -x.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "WinSim.h"
#include "command/ExecuteCommand.h"
#include "command/ParseCommandText.h"
#include "platform/AnsiText.h"
#include "platform/Memory.h"

namespace {

std::vector<std::string> Tokens;

std::vector<std::string> Tokenize(const std::u16string& text)
{
    Tokens.clear();
    ParseCommandText(text.data(), text.size());
    return Tokens;
}

// ANSI (code page 932) bytes to the UTF-16 text the window procedure passes on.
std::u16string Wide(const std::string& ansi)
{
    WideText wide = AnsiToWide(ansi.c_str());
    std::u16string out(wide.Units, wide.Length);
    FreeMemory(wide.Units);
    return out;
}

}  // namespace

bool ExecuteCommand(const char* token)
{
    Tokens.push_back(token);
    return Tokens.back() == "-x" || Tokens.back() == "-X";
}

namespace {

struct TokenCase {
    const char* name;
    std::string text;  // ANSI bytes, code page 932
    std::vector<std::string> tokens;
};

TEST(TokenizerTest, HandsOnTheTokensOfEachTextInOrder)
{
    const std::string Q = "\"";
    // A table laid out by hand, a row a line.
    // clang-format off
    const TokenCase cases[] = {
        { "plain words", "ovq -s -c", { "ovq", "-s", "-c" } },
        { "quoted -x after a blank", "ovq \"-x\"", { "ovq", "-x" } },
        { "an opening quote ends the word before it", "ovq\"-x\"", { "ovq", "-x" } },
        { "quotes split a word in three", "a\"b c\"d", { "a", "b c", "d" } },
        { "a quote pair inside quotes is one quote", "\"a\"\"b\"", { "a\"b" } },
        { "a lone pair is one empty token", Q + Q, { "" } },
        { "two pairs are two empty tokens", Q + Q + " " + Q + Q, { "", "" } },
        { "a pair between letters", "a\"\"b", { "a", "", "b" } },
        { "four quotes: one quote, at the fourth", Q + Q + Q + Q, { "\"" } },
        { "three quotes: one quote, at the end", Q + Q + Q, { "\"" } },
        { "four quotes then a word", Q + Q + Q + Q + "x", { "\"", "x" } },
        { "unterminated quote runs to the end", "ovq \"-s", { "ovq", "-s" } },
        { "unterminated quote takes separators along", "ovq \"-s -c", { "ovq", "-s -c" } },
        { "a lone quote at the end", "ovq \"", { "ovq" } },
        { "TAB, CR and LF separate", "ovq\t-s\r\n-c", { "ovq", "-s", "-c" } },
        { "vertical tab does not", "-s\v-c", { "-s\v-c" } },
        { "form feed does not", "-s\f-c", { "-s\f-c" } },
        { "other control codes do not", "-s\x01-c", { "-s\x01-c" } },
        { "blanks around the words", "   ovq   -s   ", { "ovq", "-s" } },
        { "empty text", "", {} },
        { "separators only", " \t\r\n ", {} },
        { "inside quotes separators are kept", "\"a\tb\r\nc d\"", { "a\tb\r\nc d" } },
        { "the text stops after -x", "ovq -x -s", { "ovq", "-x" } },
        { "the text stops after -X", "ovq -X -s", { "ovq", "-X" } },
        { "-x before a quoted word stops at the quote", "-x\"-s\"", { "-x" } },
        { "-x at the very end", "ovq -x", { "ovq", "-x" } },
        { "Japanese words round-trip", "ovq \x83X\x83N\x83\x8a\x81[\x83\x93 \x95\x5c", { "ovq", "\x83X\x83N\x83\x8a\x81[\x83\x93", "\x95\x5c" } },
        { "a Japanese word in quotes", "\"\x89\xc2 \x8e~\"", { "\x89\xc2 \x8e~" } },
        { "full-width hyphen and letter", "\x81|\x82\x93", { "\x81|\x82\x93" } },
        { "a quote then a separator inside quotes", "\"a\" b\"", { "a", "b" } },
    };
    // clang-format on
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Tokenize(Wide(c.text)), c.tokens);
    }
}

TEST(TokenizerTest, NothingCarriesOverFromOneTextToTheNext)
{
    EXPECT_EQ(Tokenize(u"ovq \"-s"), (std::vector<std::string>{ "ovq", "-s" }));
    EXPECT_EQ(Tokenize(u"-c\" x"), (std::vector<std::string>{ "-c", " x" }));
}

TEST(TokenizerTest, ADoubleByteCharacterNeverActsAsASeparatorOrQuote)
{
    // 0x81 0x22 and 0x81 0x20 are lead bytes followed by a quote and a blank
    // byte; the pair is one character, whatever it maps to.
    EXPECT_EQ(Tokenize(Wide("a\x81\x22 b")).size(), 2u);
    EXPECT_EQ(Tokenize(Wide("a\x81\x20 b")).size(), 2u);
}

// A 16 MiB text in time linear in its length: the time per byte of the large
// text stays within a small factor of that of a text of a sixteenth the size.
TEST(TokenizerTest, HugeTextsAreHandledInLinearTime)
{
    struct Shape {
        const char* name;
        std::u16string unit;
    };
    // A table laid out by hand, a row a line.
    // clang-format off
    const Shape shapes[] = {
        { "one huge token", u"a" },
        { "many tokens", u"ab " },
        { "one huge quoted token", u"\"\"" },
    };
    // clang-format on
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        auto timeFor = [&](size_t size) {
            std::u16string text = shape.unit == u"\"\"" ? u"\"" : u"";
            while (text.size() < size)
                text += shape.unit;
            text += u" -x";
            auto start = std::chrono::steady_clock::now();
            std::vector<std::string> tokens = Tokenize(text);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_FALSE(tokens.empty());
            return seconds;
        };
        timeFor(1 << 20);  // warm up
        double small = timeFor(1 << 20);
        double large = timeFor(16 << 20);
        // Side by side only: a busy machine slows both alike.
        EXPECT_LT(large, 64 * small + 0.05) << "1 MiB: " << small << " s, 16 MiB: " << large << " s";
    }
}

}  // namespace
