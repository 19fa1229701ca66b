#pragma once

#include <cstddef>
#include <vector>

// What a benchmark's per-round ratios (measured / reference, one per round of alternating sides)
// say beyond their median, so a result near 1 can be told apart from a tie: on a shared machine
// single rounds swing far both ways, and only many rounds judged together show a lead.
class RoundStatistics {
public:
    // The bounds of the central `confidence` share (0.95 for 95 %) of the medians of `resamples`
    // resamples drawn with replacement from `values` (a bootstrap interval of the median). Drawn
    // with a fixed seed, so the same rounds give the same interval.
    struct Interval {
        double low = 0;
        double high = 0;
    };
    static Interval medianInterval(const std::vector<double>& values, double confidence = 0.95,
                                   int resamples = 4000);

    // A sign test of the ratios against `tie` (1 for a ratio): how many rounds lie below and above
    // it (rounds exactly on it are left out), and the two-sided probability of a split at least as
    // uneven if either side were as likely to win any round.
    struct SignTest {
        std::size_t below = 0;
        std::size_t above = 0;
        double p = 1;
    };
    static SignTest signTest(const std::vector<double>& ratios, double tie = 1.0);

    static double median(std::vector<double> values);
};
