// The tokenizer's time over a 1 MiB and a 16 MiB text of the same shape: words,
// a quoted group with a doubled quote, blanks, tabs and line ends, none of them
// a command. Each size is timed a few times and the best run kept; its
// ExecuteCommand only counts tokens, so the figure is the tokenizer's and the
// conversion of each token to ANSI text.
//
// Prints key=value lines for ./bench.sh; exits 1 when a run hands on no token.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "WinSim.h"
#include "command/ExecuteCommand.h"
#include "command/ParseCommandText.h"

namespace {

size_t TokenCount;

// Repeats the unit up to exactly `units` UTF-16 code units.
std::u16string Text(size_t units)
{
    static const std::u16string unit = u"ovq -s \"a b \"\"c\"\" d\"\t\x5b57\x30c6 word\r\n";
    std::u16string text;
    text.reserve(units);
    while (text.size() + unit.size() <= units)
        text += unit;
    text.append(unit, 0, units - text.size());
    return text;
}

// The best of `runs` timings, in seconds; 0 when a run handed on no token.
double BestTime(const std::u16string& text, int runs, size_t* tokens)
{
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        TokenCount = 0;
        sim::ClearCalls();  // the layer logs every heap call; start each run with an empty log
        auto start = std::chrono::steady_clock::now();
        ParseCommandText(text.data(), text.size());
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (TokenCount == 0)
            return 0;
        best = i == 0 ? seconds : std::min(best, seconds);
    }
    *tokens = TokenCount;
    return best;
}

}  // namespace

bool ExecuteCommand(const char*)
{
    ++TokenCount;
    return false;
}

int main()
{
    const size_t small = size_t(1) << 20, large = size_t(16) << 20;
    std::u16string smallText = Text(small), largeText = Text(large);
    size_t smallTokens = 0, largeTokens = 0;
    BestTime(smallText, 1, &smallTokens);  // warm up: page in the heap and the code
    double smallTime = BestTime(smallText, 5, &smallTokens);
    double largeTime = BestTime(largeText, 5, &largeTokens);
    if (smallTime <= 0 || largeTime <= 0) {
        std::fprintf(stderr, "bench_tokenizer: a run handed on no token or took no measurable time\n");
        return 1;
    }
    std::printf("small.units=%zu\nsmall.tokens=%zu\nsmall.seconds=%.6f\n", small, smallTokens, smallTime);
    std::printf("large.units=%zu\nlarge.tokens=%zu\nlarge.seconds=%.6f\n", large, largeTokens, largeTime);
    std::printf("ratio=%.2f\n", largeTime / smallTime);
    return 0;
}
