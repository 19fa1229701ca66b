#include "RatioReporter.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

benchmark::ConsoleReporter::OutputOptions RatioReporter::outputOptions(int argc, char** argv)
{
    std::string colour = "auto";
    const char* flag = "--benchmark_color=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0)
            colour = argv[i] + std::strlen(flag);
    }
    const bool wanted = colour == "auto" ? isatty(STDOUT_FILENO) == 1 : colour == "true" || colour == "yes";
    return wanted ? OO_Defaults : OO_Tabular;
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
            m_realTimes[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
}

void RatioReporter::Finalize()
{
    ConsoleReporter::Finalize();
    for (const Pair& pair : m_pairs) {
        const auto measured = m_realTimes.find(pair.measured);
        const auto reference = m_realTimes.find(pair.reference);
        if (measured == m_realTimes.end() || reference == m_realTimes.end() || reference->second <= 0)
            continue;
        const double ratio = measured->second / reference->second;
        std::printf("ratio %s / %s = %.2f (goal at most %.2f: %s)\n", pair.measured.c_str(),
                    pair.reference.c_str(), ratio, pair.goal, ratio <= pair.goal ? "met" : "MISSED");
    }
}
