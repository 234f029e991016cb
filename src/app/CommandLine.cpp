// Splits the process command line into words and joins the arguments behind
// "ovq", each after one blank, into App.CommandString.
//
// Blanks and all control characters (bytes 1 to 32) separate words; a pair of
// double quotes where a word would begin is skipped like a separator. Inside a
// word a double quote opens a run that is copied up to the next quote (or the
// end), separators included; both quotes are dropped. There is no escape
// character. Characters are stepped with CharNextA, so the second byte of a
// double-byte character is never taken for a quote or a separator. The first
// word is the program path and is skipped; the list ends at the first word that
// comes out empty.

#include "app/CommandLine.h"

#include "UTypes.h"
#include "platform/AnsiText.h"
#include "platform/Memory.h"

static bool IsSeparator(char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

static const char* SkipSeparators(const char* p)
{
    for (;;) {
        if (IsSeparator(*p))
            ++p;
        else if (p[0] == '"' && p[1] == '"')
            p += 2;
        else
            return p;
    }
}

// Copies one character (one or two bytes) from *p to out and steps past it.
static void CopyCharacter(const char** p, char** out)
{
    const char* next = CharNextA(*p);
    while (*p < next)
        *(*out)++ = *(*p)++;
}

// Reads one word starting at p into out; returns where the word ended.
static const char* ReadWord(const char* p, char** out)
{
    while (static_cast<unsigned char>(*p) > 32) {
        if (*p != '"') {
            CopyCharacter(&p, out);
            continue;
        }
        ++p;
        while (*p != '\0' && *p != '"')
            CopyCharacter(&p, out);
        if (*p == '"')
            ++p;
    }
    return p;
}

void BuildCommandString()
{
    const char* p = GetCommandLineA();

    // Every argument gives at most its own bytes plus one blank, and is
    // separated from the word before it by at least one byte.
    char* text = static_cast<char*>(AllocateMemory(sizeof(OVQ_SHORT_NAME) + TextLength(p) + 1));
    if (text == nullptr)
        ExitProcess(1);

    const size_t shortNameLength = sizeof(OVQ_SHORT_NAME) - 1;
    CopyMemory(text, OVQ_SHORT_NAME, shortNameLength);
    char* out = text + shortNameLength;
    int count = 0;

    p = ReadWord(SkipSeparators(p), &out);  // the program path, not kept
    out = text + shortNameLength;

    for (;;) {
        char* wordStart = out + 1;
        char* wordEnd = wordStart;
        p = ReadWord(SkipSeparators(p), &wordEnd);
        if (wordEnd == wordStart)
            break;
        *out = ' ';
        out = wordEnd;
        ++count;
    }
    *out = '\0';

    App.CommandString = text;
    App.ArgumentCount = count;
}
