#include "SyntheticPhoto.h"
#include "library/AreaAveragingScaler.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QThreadPool>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <ctime>

// The photo loaders' resize of a 24-megapixel photo for the 1920 × 1080 strip: the JPEG decoded at
// its DCT scale of 2/8 (1500 × 1000 in landscape, 1000 × 1500 in portrait), then resized to the
// strip's photo (1060 × 707 and 700 × 1050). The area-averaging scaler, on the calling thread,
// against Qt's smooth scale twice: as it runs from a thread of ours (split over Qt's shared thread
// pool, all of its threads working), and pinned to one thread (called from inside a task of that
// pool, where Qt does the whole image itself). Every side is timed by the wall clock; the
// `process_cpu_ms` counter is the processor time of the whole process for one resize, which also
// counts the pool's threads. Run with interleaved repetitions so that the sides take turns:
//   AreaAveragingScalerBench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//       --benchmark_report_aggregates_only=true
namespace {
struct Case {
    QImage decoded;
    QSize target;
};

Case makeCase(bool portrait)
{
    const int width = portrait ? 4000 : 6000, height = portrait ? 6000 : 4000;
    QByteArray jpeg = SyntheticPhoto::jpeg(width, height);
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    // An exact DCT scale: the decoder's own, nothing resized after it.
    reader.setScaledSize(QSize(width / 4, height / 4));
    return {reader.read().convertToFormat(QImage::Format_RGB32),
            portrait ? QSize(700, 1050) : QSize(1060, 707)};
}

const Case& photo(bool portrait)
{
    static const Case landscape = makeCase(false);
    static const Case upright = makeCase(true);
    return portrait ? upright : landscape;
}

double processCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

template <typename Resize> void timeResizes(benchmark::State& state, Resize resize)
{
    const Case& photo = ::photo(state.range(0) != 0);
    const double cpuStart = processCpuMilliseconds();
    for (auto _ : state) {
        QImage resized = resize(photo.decoded, photo.target);
        benchmark::DoNotOptimize(resized.constBits());
    }
    state.counters["process_cpu_ms"] =
        benchmark::Counter((processCpuMilliseconds() - cpuStart) / double(state.iterations()));
    state.SetLabel(state.range(0) != 0 ? "portrait" : "landscape");
}

void BM_AreaAveragingScaler(benchmark::State& state)
{
    timeResizes(state, [](const QImage& image, const QSize& size) {
        return AreaAveragingScaler::scaled(image, size);
    });
}

QImage qtSmooth(const QImage& image, const QSize& size)
{
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void BM_QtSmoothScalePooled(benchmark::State& state)
{
    timeResizes(state, qtSmooth);
}

void BM_QtSmoothScaleOneThread(benchmark::State& state)
{
    // The timing loop itself runs on a pool thread: Qt does not split work it is asked for there.
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->start([&state] { timeResizes(state, qtSmooth); });
    pool->waitForDone();
}

BENCHMARK(BM_AreaAveragingScaler)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtSmoothScalePooled)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QtSmoothScaleOneThread)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same image from all sides, up to the rounding: printed before anything is timed.
void printDifferences()
{
    for (const bool portrait : {false, true}) {
        const Case& photo = ::photo(portrait);
        const QImage ours = AreaAveragingScaler::scaled(photo.decoded, photo.target);
        const QImage qt = qtSmooth(photo.decoded, photo.target);
        int largest = 0;
        double total = 0;
        for (int y = 0; y < ours.height(); ++y) {
            for (int x = 0; x < ours.width(); ++x) {
                const QRgb a = ours.pixel(x, y), b = qt.pixel(x, y);
                for (const int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)}) {
                    largest = std::max(largest, std::abs(d));
                    total += std::abs(d);
                }
            }
        }
        std::printf("%s %dx%d -> %dx%d: largest difference from Qt's smooth scale %d, mean %.3f of 255\n",
                    portrait ? "portrait" : "landscape", photo.decoded.width(), photo.decoded.height(),
                    ours.width(), ours.height(), largest, total / (3.0 * ours.width() * ours.height()));
    }
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    printDifferences();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
