// The tokenizer's time over a 1 MiB and a 16 MiB text of the same shape: words,
// a quoted group with a doubled quote, blanks, tabs and line ends, none of them
// a command. Each size is timed many times and the best run kept; its
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
        // The simulated layer would log every conversion and heap call: that is
        // the log's cost, not the tokenizer's.
        sim::RecordCalls(false);
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

// Three rounds of five runs of each size; the figures are the best runs of all
// rounds, and each round's own ratio shows how much the machine's load moved them.
int main()
{
    const size_t small = size_t(1) << 20, large = size_t(16) << 20;
    const int rounds = 3, runs = 5;
    std::u16string smallText = Text(small), largeText = Text(large);
    size_t smallTokens = 0, largeTokens = 0;
    BestTime(smallText, 1, &smallTokens);  // warm up: page in the heap and the code
    double smallBest = 0, largeBest = 0;
    std::string roundRatios;
    for (int round = 0; round < rounds; ++round) {
        double smallTime = BestTime(smallText, runs, &smallTokens);
        double largeTime = BestTime(largeText, runs, &largeTokens);
        if (smallTime <= 0 || largeTime <= 0) {
            std::fprintf(stderr, "bench_tokenizer: a run handed on no token or took no measurable time\n");
            return 1;
        }
        smallBest = round == 0 ? smallTime : std::min(smallBest, smallTime);
        largeBest = round == 0 ? largeTime : std::min(largeBest, largeTime);
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%s%.2f", round ? " " : "", largeTime / smallTime);
        roundRatios += ratio;
    }
    std::printf("runs=%d\n", rounds * runs);
    std::printf("small.units=%zu\nsmall.tokens=%zu\nsmall.seconds=%.6f\n", small, smallTokens, smallBest);
    std::printf("large.units=%zu\nlarge.tokens=%zu\nlarge.seconds=%.6f\n", large, largeTokens, largeBest);
    std::printf("ratio=%.2f\n", largeBest / smallBest);
    std::printf("round_ratios=%s\n", roundRatios.c_str());
    return 0;
}
