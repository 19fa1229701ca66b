#include "tools/sounds/InterfaceSounds.h"

#include "platform/audio/WaveFile.h"
#include "platform/foundation/AtomicFile.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numbers>
#include <tuple>

namespace {

// Every partial and burst fades out over its last moments (seconds): a tone stopped dead clicks.
constexpr double release = 0.006;

// Gain of a sound part at `t` seconds into it: a linear rise over `attack`, a linear fall over the
// release before `length`, else 1.
double edges(double t, double attack, double length)
{
    return std::min({1.0, t / attack, (length - t) / release});
}

// One decaying partial: a sine that glides from `startHz` to `endHz` (exponentially, over its
// length) under a short linear attack and an exponential decay. Times in seconds.
struct Partial {
    double start;
    double length;
    double startHz;
    double endHz;
    double amplitude;
    double attack;
    double decay;
};

// A burst of noise for the strike of a tick or thump, low-passed by one pole at `cutoffHz`.
struct Noise {
    double length;
    double amplitude;
    double decay;
    double cutoffHz;
};

struct Recipe {
    double length;
    // Peak level, dB below full scale.
    double peakDb;
    std::vector<Partial> partials;
    std::vector<Noise> noises;
};

// Two short notes with a touch of their octave, the second overlapping the first's tail.
Recipe twoNotes(double firstHz, double secondHz)
{
    Recipe recipe{0.2, -9.0, {}, {}};
    for (const auto& [start, length, hz, decay] :
         {std::tuple{0.0, 0.09, firstHz, 0.045}, std::tuple{0.07, 0.13, secondHz, 0.055}}) {
        recipe.partials.push_back({start, length, hz, hz, 1.0, 0.003, decay});
        recipe.partials.push_back({start, length, 2 * hz, 2 * hz, 0.25, 0.003, decay * 0.55});
    }
    return recipe;
}

const Recipe* recipeFor(const std::string& name)
{
    static const std::vector<std::pair<std::string, Recipe>> recipes = {
        {"click",
         {0.045,
          -12.0,
          {{0.0, 0.045, 2300, 1700, 1.0, 0.0005, 0.007}, {0.0, 0.03, 3400, 3100, 0.4, 0.0003, 0.004}},
          {{0.004, 0.3, 0.0012, 6000}}}},
        {"clunk",
         {0.12,
          -6.0,
          {{0.0, 0.12, 200, 120, 1.0, 0.002, 0.035}, {0.0, 0.08, 410, 250, 0.45, 0.001, 0.018}},
          {{0.008, 0.3, 0.003, 900}}}},
        {"clank",
         {0.22,
          -9.0,
          {{0.0, 0.22, 620, 612, 1.0, 0.0008, 0.085},
           {0.0, 0.22, 1459, 1450, 0.6, 0.0008, 0.055},
           {0.0, 0.16, 2297, 2290, 0.4, 0.0006, 0.035},
           {0.0, 0.10, 3411, 3400, 0.25, 0.0005, 0.022}},
          {{0.004, 0.12, 0.0015, 6000}}}},
        // A rising fifth for a photo promoted, a falling fifth for one rated down.
        {"up", twoNotes(659.26, 987.77)},
        {"down", twoNotes(440.0, 293.66)},
        {"meh",
         {0.15,
          -11.0,
          {{0.0, 0.15, 587.33, 555, 1.0, 0.004, 0.05}, {0.0, 0.15, 1762, 1665, 0.15, 0.004, 0.03}},
          {}}},
    };
    for (const auto& [recipeName, recipe] : recipes) {
        if (recipeName == name)
            return &recipe;
    }
    return nullptr;
}

void addPartial(std::vector<double>& out, const Partial& partial)
{
    const auto first = static_cast<std::size_t>(partial.start * InterfaceSounds::sampleRate);
    const auto count = static_cast<std::size_t>(partial.length * InterfaceSounds::sampleRate);
    double phase = 0.0;
    for (std::size_t i = 0; i < count && first + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / InterfaceSounds::sampleRate;
        const double hz = partial.startHz * std::pow(partial.endHz / partial.startHz, t / partial.length);
        out[first + i] += partial.amplitude * edges(t, partial.attack, partial.length) *
                          std::exp(-t / partial.decay) * std::sin(phase);
        phase += 2.0 * std::numbers::pi * hz / InterfaceSounds::sampleRate;
    }
}

void addNoise(std::vector<double>& out, const Noise& noise)
{
    constexpr double noiseAttack = 0.001;
    // A fixed linear congruential sequence: the same sound on every build.
    std::uint32_t state = 22695477u;
    const double alpha =
        1.0 - std::exp(-2.0 * std::numbers::pi * noise.cutoffHz / InterfaceSounds::sampleRate);
    double filtered = 0.0;
    const auto count = static_cast<std::size_t>(noise.length * InterfaceSounds::sampleRate);
    for (std::size_t i = 0; i < count && i < out.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double white = static_cast<double>(state >> 8) / static_cast<double>(1u << 24) * 2.0 - 1.0;
        filtered += alpha * (white - filtered);
        const double t = static_cast<double>(i) / InterfaceSounds::sampleRate;
        out[i] +=
            noise.amplitude * edges(t, noiseAttack, noise.length) * std::exp(-t / noise.decay) * filtered;
    }
}

} // namespace

const std::vector<std::string>& InterfaceSounds::names()
{
    static const std::vector<std::string> all = {"click", "clank", "clunk", "meh", "down", "up"};
    return all;
}

std::vector<std::int16_t> InterfaceSounds::render(const std::string& name)
{
    const Recipe* recipe = recipeFor(name);
    if (!recipe)
        return {};
    std::vector<double> mix(static_cast<std::size_t>(recipe->length * sampleRate), 0.0);
    for (const Partial& partial : recipe->partials)
        addPartial(mix, partial);
    for (const Noise& noise : recipe->noises)
        addNoise(mix, noise);
    // The last few milliseconds fade to silence, so a sound cut short by its own end never pops.
    const std::size_t fade = std::min<std::size_t>(mix.size(), sampleRate / 200);
    for (std::size_t i = 0; i < fade; ++i)
        mix[mix.size() - 1 - i] *= static_cast<double>(i) / static_cast<double>(fade);
    double peak = 0.0;
    for (double sample : mix)
        peak = std::max(peak, std::abs(sample));
    const double gain = peak > 0.0 ? std::pow(10.0, recipe->peakDb / 20.0) * 32767.0 / peak : 0.0;
    std::vector<std::int16_t> samples(mix.size());
    std::transform(mix.begin(), mix.end(), samples.begin(),
                   [gain](double sample) { return static_cast<std::int16_t>(std::lround(sample * gain)); });
    return samples;
}

bool InterfaceSounds::writeAll(const QString& folder, Error* error)
{
    if (!QDir().mkpath(folder)) {
        qmSetError(error, Error(Error::posixDomain, EACCES,
                                "The sound folder " + folder.toStdString() + " could not be created."));
        return false;
    }
    for (const std::string& name : names()) {
        const QString path =
            folder + QLatin1Char('/') + QString::fromStdString(name) + QStringLiteral(".wav");
        if (!AtomicFile::write(path, WaveFile::encode(render(name), sampleRate, 1), error))
            return false;
    }
    return true;
}
