// What the benchmarks that compare against a library share: the text they
// speak and the statistic they compare.
#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace orafon::bench {

// 2000 words from a small vocabulary, a full stop after every twelfth.
inline std::string Text2000Words()
{
    static const char *const words[] = {
        "the",    "quick", "brown",  "fox",   "jumps", "over",  "lazy",   "dog",      "speech", "engine", "reads",
        "every",  "line",  "slowly", "today", "while", "birds", "sing",   "outside",  "window", "rain",   "falls",
        "gently", "on",    "green",  "hills", "under", "grey",  "clouds", "children", "play",   "games"};
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += words[rng() % (sizeof words / sizeof *words)];
        text += (i % 12 == 11) ? ". " : " ";
    }
    return text;
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace orafon::bench
