#include "platform/foundation/Resources.h"
#include "support/QMSFX.h"
#include "ui/Button.h"
#include "ui/HostView.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

// The time from a button press to the press's sound at the sound output: the program presses
// Select every 300 ms and records the output's monitor (what the output plays, as a recording
// source) with timestamps from the same clock. Each sound's onset is its first sample above
// -44 dB; the time of a recorded sample is the arrival time of its block, less the samples that
// came after it in the block. That includes the recording's own block delay, so the figures are
// an upper bound of the press-to-output time.
//
// The output is kept running (playing silence) all along, as it is while anything else plays;
// waking an idle output would add its own start-up time.
//
// It needs a sound server with a monitor source; bench/audio/sound-latency.sh starts a private
// PulseAudio server with a null output for it. Without a sound output it reports only how long
// loading the sounds took, and exits with 77.
namespace {

constexpr int sampleRate = 48000;
constexpr int presses = 20;
constexpr int pressIntervalMs = 300;
// Presses begin once the recording has run a while: in its first second or so the times measured
// here were off by hundreds of milliseconds, though the program's first sound came on time when
// recorded by other means (parec, with presses a second apart).
constexpr int warmUpMs = 3000;
constexpr int onsetThreshold = 200;

struct Block {
    qint64 arrivalNs;
    qint64 framesAfter;
};

// Endless silence, played so that the output runs all along, as it does while anything else
// plays: an idle null output renders nothing, and its monitor would record nothing either.
class Silence : public QIODevice {
public:
    Silence() { open(QIODevice::ReadOnly); }
    qint64 readData(char* data, qint64 size) override
    {
        std::fill(data, data + size, 0);
        return size;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    qint64 bytesAvailable() const override { return 1 << 20; }
};

// The value below which `fraction` of `values` lie.
double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<std::size_t>(fraction * (values.size() - 1))];
}

double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// Qt lists no monitor sources, so the script offers the output's monitor as a plain source.
QAudioDevice monitorOf(const QAudioDevice& output)
{
    for (const QAudioDevice& input : QMediaDevices::audioInputs()) {
        if (input.id() == output.id() + "_monitor")
            return input;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("ZUZIRE_RESOURCE_DIR"))
        qputenv("ZUZIRE_RESOURCE_DIR", QApplication::applicationDirPath().toUtf8() + "/../../share/zuzire");

    QElapsedTimer clock;
    clock.start();
    QMSFX::sharedSFX();
    const double loadMs = clock.nsecsElapsed() / 1e6;
    std::printf("loading the six sounds: %.1f ms\n", loadMs);

    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    const QAudioDevice monitor = monitorOf(output);
    if (output.isNull() || monitor.isNull()) {
        std::puts("no sound output with a monitor source: run bench/audio/sound-latency.sh");
        return 77;
    }
    std::printf("output: %s\n", qPrintable(output.description()));

    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    Silence silence;
    QAudioSink background(output, format);
    // A small buffer: the null output runs at the latency its streams ask for, and a large one
    // would hold every other stream's sound back by as much.
    background.setBufferSize(format.bytesForDuration(40000));
    background.start(&silence);
    QAudioSource source(monitor, format);
    // Small blocks keep the recording's own delay small (5 ms).
    source.setBufferSize(sampleRate / 200 * 2);
    QIODevice* recording = source.start();
    if (!recording) {
        std::puts("the monitor source cannot be recorded");
        return 1;
    }
    std::vector<std::int16_t> samples;
    std::vector<Block> blocks;
    QObject::connect(recording, &QIODevice::readyRead, [&] {
        const QByteArray bytes = recording->readAll();
        const qint64 now = clock.nsecsElapsed();
        const auto* data = reinterpret_cast<const std::int16_t*>(bytes.constData());
        samples.insert(samples.end(), data, data + bytes.size() / 2);
        blocks.push_back({now, static_cast<qint64>(samples.size())});
    });

    HostView view;
    std::vector<qint64> pressNs;
    std::vector<double> callMs;
    // Each press is timed from the one before, so a stalled event loop never bunches them up
    // and every sound has ended before the next press.
    std::function<void()> pressNext = [&] {
        const qint64 before = clock.nsecsElapsed();
        view.performButton(ButtonSelect);
        pressNs.push_back(before);
        callMs.push_back((clock.nsecsElapsed() - before) / 1e6);
        if (pressNs.size() < static_cast<std::size_t>(presses))
            QTimer::singleShot(pressIntervalMs, pressNext);
        else
            QTimer::singleShot(pressIntervalMs, &application, &QApplication::quit);
    };
    QTimer::singleShot(warmUpMs, pressNext);
    QApplication::exec();
    source.stop();
    background.stop();

    // The time of sample `frame`, from the block it arrived in.
    auto timeOfFrame = [&](qint64 frame) -> qint64 {
        for (const Block& block : blocks) {
            if (block.framesAfter > frame)
                return block.arrivalNs - (block.framesAfter - frame) * 1000000000 / sampleRate;
        }
        return -1;
    };
    std::vector<double> latencies;
    for (qint64 press : pressNs) {
        // The first sample that arrived after the press, then the first loud one from there.
        qint64 frame = 0;
        for (const Block& block : blocks) {
            if (block.arrivalNs >= press)
                break;
            frame = block.framesAfter;
        }
        while (frame < static_cast<qint64>(samples.size()) && std::abs(samples[frame]) < onsetThreshold)
            ++frame;
        if (frame >= static_cast<qint64>(samples.size()) ||
            (timeOfFrame(frame) - press) > pressIntervalMs * 1000000LL) {
            std::printf("(press %zu not heard) ", latencies.size());
            continue;
        }
        latencies.push_back((timeOfFrame(frame) - press) / 1e6);
        std::printf("%.1f ", latencies.back());
    }
    std::puts("ms");
    std::printf("presses heard: %zu of %d\n", latencies.size(), presses);
    std::printf(
        "press to first sample at the output (upper bound): median %.1f ms, 90%% %.1f ms, max %.1f ms\n",
        percentile(latencies, 0.5), percentile(latencies, 0.9), maximum(latencies));
    std::printf("time the press spends starting the sound: median %.2f ms, 90%% %.2f ms, max %.2f ms\n",
                percentile(callMs, 0.5), percentile(callMs, 0.9), maximum(callMs));
    return latencies.size() == static_cast<std::size_t>(presses) ? 0 : 1;
}
