#include "RoundStatistics.h"

#include <algorithm>
#include <cmath>
#include <random>

double RoundStatistics::median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

RoundStatistics::Interval RoundStatistics::medianInterval(const std::vector<double>& values,
                                                          double confidence, int resamples)
{
    if (values.empty() || resamples <= 0)
        return {};
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
    std::vector<double> medians(static_cast<std::size_t>(resamples));
    std::vector<double> sample(values.size());
    for (double& result : medians) {
        for (double& value : sample)
            value = values[pick(random)];
        result = median(sample);
    }
    std::sort(medians.begin(), medians.end());
    const double tail = (1 - confidence) / 2;
    const auto at = [&](double share) {
        const auto index = std::size_t(std::lround(share * double(medians.size() - 1)));
        return medians[std::min(index, medians.size() - 1)];
    };
    return {at(tail), at(1 - tail)};
}

RoundStatistics::SignTest RoundStatistics::signTest(const std::vector<double>& ratios, double tie)
{
    SignTest test;
    for (const double ratio : ratios) {
        if (ratio < tie)
            ++test.below;
        else if (ratio > tie)
            ++test.above;
    }
    const std::size_t n = test.below + test.above;
    if (n == 0)
        return test;
    // P(X <= fewer) for X ~ Binomial(n, 1/2), doubled; the terms summed in logarithms so that
    // hundreds of rounds do not overflow.
    const std::size_t fewer = std::min(test.below, test.above);
    double tailProbability = 0;
    for (std::size_t k = 0; k <= fewer; ++k)
        tailProbability += std::exp(std::lgamma(double(n) + 1) - std::lgamma(double(k) + 1) -
                                    std::lgamma(double(n - k) + 1) - double(n) * std::log(2.0));
    test.p = std::min(1.0, 2 * tailProbability);
    return test;
}
