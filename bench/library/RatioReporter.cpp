#include "RatioReporter.h"

#include <cstdio>

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
