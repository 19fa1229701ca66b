#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

// The console report, followed by the ratio of each measured benchmark to its reference from the
// same run, so a figure is judged against this machine and this moment rather than a number.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Pair {
        std::string measured;
        std::string reference;
        double goal; // the ratio not to exceed
    };

    explicit RatioReporter(std::vector<Pair> pairs)
        : m_pairs(std::move(pairs))
    {}

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<Pair> m_pairs;
    std::map<std::string, double> m_realTimes; // by benchmark name, in the report's time unit
};
