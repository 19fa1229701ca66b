#include "SyntheticPhoto.h"
#include "TurboJpegReference.h"
#include "bench/ThreadClock.h"
#include "library/AlbumInfo.h"
#include "platform/foundation/AtomicFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

// Decoding a 24-megapixel JPEG for a 1920-pixel screen, against a reference that gives the same
// image: libjpeg-turbo's scaled decode at the smallest of its scales at or above that size (the
// best it offers for the job), then Qt's smooth resize to the target size (the program's own
// area-averaging resize rounds where Qt's truncates; the images are checked alike), reading the file
// through a mapping and keeping one decompressor across images as the program does. The two sides
// alternate in one process, each releasing its image before the other runs; the median of the
// per-round ratios and their spread are printed.
namespace {
constexpr int width = 6000;
constexpr int height = 4000;
constexpr unsigned screenSize = 1920;
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    QTemporaryDir folder;
    const QString path = folder.filePath("IMG_0001.JPG");
    if (!AtomicFile::write(path, SyntheticPhoto::jpeg(width, height)))
        return 1;
    const PlistPtr item = PlistValue::dictionary({{"ImagePath", PlistValue::string(path.toStdString())}});
    AlbumInfo albumInfo;

    // Same output first: the same size, and pixels that differ only by the decoders' rounding.
    const QImage ours = albumInfo.imageForItem(item, screenSize);
    const QImage reference = TurboJpegReference::decode(path, screenSize);
    const double difference = TurboJpegReference::meanDifference(ours, reference);
    std::printf("ours %dx%d, reference %dx%d, mean difference %.2f of 255 per channel\n", ours.width(),
                ours.height(), reference.width(), reference.height(), difference);
    if (difference < 0 || difference > TurboJpegReference::sameImageLimit) {
        std::fprintf(stderr, "the two sides give different images\n");
        return 1;
    }

    std::vector<double> oursMs, referenceMs, ratios, oursCpuMs, referenceCpuMs;
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        double times[2] = {};
        // Alternate which side goes first; each image is released before the other side runs.
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursTurn = (turn == 0) == (round % 2 == 0);
            const double cpuStart = threadCpuMilliseconds();
            timer.start();
            {
                const QImage image = oursTurn ? albumInfo.imageForItem(item, screenSize)
                                              : TurboJpegReference::decode(path, screenSize);
                if (image.isNull())
                    return 1;
            }
            times[oursTurn ? 0 : 1] = double(timer.nsecsElapsed()) / 1e6;
            (oursTurn ? oursCpuMs : referenceCpuMs).push_back(threadCpuMilliseconds() - cpuStart);
        }
        oursMs.push_back(times[0]);
        referenceMs.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
    }
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("ours %.1f ms, reference %.1f ms (medians of %d alternating rounds)\n",
                TurboJpegReference::median(oursMs), TurboJpegReference::median(referenceMs), rounds);
    // On a loaded machine the wall-clock figures mostly measure the wait for a core; the thread's
    // own processor time shows the work (the resize's helper threads are not in it).
    std::printf("processor time of the decoding thread: ours %.1f ms, reference %.1f ms (medians)\n",
                TurboJpegReference::median(oursCpuMs), TurboJpegReference::median(referenceCpuMs));
    std::printf("ratio ours/reference: median %.2f, spread %.2f-%.2f (goal at most 1.1: %s)\n",
                TurboJpegReference::median(ratios), *low, *high,
                *high <= 1.1                                ? "met"
                : TurboJpegReference::median(ratios) <= 1.1 ? "median met, spread crosses"
                                                            : "MISSED");
    std::printf("RESULT decode 24MP ratio=%.3f low=%.3f high=%.3f goal=1.1\n",
                TurboJpegReference::median(ratios), *low, *high);
    return 0;
}
