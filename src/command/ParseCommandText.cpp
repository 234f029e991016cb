// The command-text tokenizer.
//
// Only TAB, LF, CR and blank separate tokens. A double quote always ends the
// token before it; the text between an opening and a closing quote is one
// token, handed on even when it is empty. Inside quotes, two quotes in a row
// stand for one literal quote. Each token goes to ExecuteCommand, in text
// order, as ANSI text; after -x nothing more of the text is looked at. An
// unterminated quote takes the rest of the text into the last token.

#include "command/ParseCommandText.h"

#include "command/ExecuteCommand.h"
#include "platform/AnsiText.h"
#include "platform/Memory.h"

struct Tokenizer {
    WCHAR* Token;  // the characters collected since the last dispatch
    size_t TokenLength;
    AnsiBuffer Ansi;  // the token as ANSI text, reused for every token
};

static bool IsSeparator(WCHAR c)
{
    return c == L'\t' || c == L'\n' || c == L'\r' || c == L' ';
}

// Hands the current token on; true means stop: -x has ended the program.
static bool Dispatch(Tokenizer* tokenizer)
{
    const char* token = WideToAnsi(tokenizer->Token, tokenizer->TokenLength, &tokenizer->Ansi);
    tokenizer->TokenLength = 0;
    // Only a token too large to convert fails here, and such a token is no command.
    return token != nullptr && ExecuteCommand(token);
}

static bool DispatchIfNotEmpty(Tokenizer* tokenizer)
{
    return tokenizer->TokenLength > 0 && Dispatch(tokenizer);
}

static void Append(Tokenizer* tokenizer, WCHAR c)
{
    tokenizer->Token[tokenizer->TokenLength++] = c;
}

// Runs the tokens of text through dispatch; returns at the stop or the end.
static void Tokenize(Tokenizer* tokenizer, const WCHAR* text, size_t length)
{
    bool inQuotes = false;
    bool literalQuotePending = false;

    for (size_t i = 0; i < length; ++i) {
        WCHAR c = text[i];
        if (!inQuotes) {
            if (IsSeparator(c)) {
                if (DispatchIfNotEmpty(tokenizer))
                    return;
            } else if (c == L'"') {
                if (DispatchIfNotEmpty(tokenizer))
                    return;
                inQuotes = true;
            } else {
                Append(tokenizer, c);
            }
        } else if (literalQuotePending) {
            Append(tokenizer, L'"');
            literalQuotePending = false;
        } else if (c != L'"') {
            Append(tokenizer, c);
        } else if (i + 1 < length && text[i + 1] == L'"') {
            literalQuotePending = true;
        } else {
            inQuotes = false;
            if (Dispatch(tokenizer))
                return;
        }
    }
    // The end of the text hands on what is left; the stop result no longer matters.
    DispatchIfNotEmpty(tokenizer);
}

void ParseCommandText(const WCHAR* text, size_t length)
{
    Tokenizer tokenizer = { nullptr, 0, { nullptr, 0 } };
    // No token is longer than the text.
    tokenizer.Token = static_cast<WCHAR*>(AllocateMemory((length + 1) * sizeof(WCHAR)));
    if (tokenizer.Token == nullptr)
        return;

    Tokenize(&tokenizer, text, length);

    FreeMemory(tokenizer.Token);
    FreeMemory(tokenizer.Ansi.Bytes);
}
