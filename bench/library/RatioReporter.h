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

    // `options` as outputOptions() gives them, so --benchmark_color is obeyed.
    RatioReporter(OutputOptions options, std::vector<Pair> pairs)
        : ConsoleReporter(options)
        , m_pairs(std::move(pairs))
    {}

    // The console options the command line asks for: colour when --benchmark_color is true or
    // yes, or when it is auto (the default) and standard output is a terminal. Read before
    // benchmark::Initialize(), which takes the flags out of the arguments.
    static OutputOptions outputOptions(int argc, char** argv);

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<Pair> m_pairs;
    std::map<std::string, double> m_realTimes; // by benchmark name, in the report's time unit
};
