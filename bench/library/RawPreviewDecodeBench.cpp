#include "RoundStatistics.h"
#include "SyntheticPhoto.h"
#include "TurboJpegReference.h"
#include "bench/ThreadClock.h"
#include "library/AlbumInfo.h"
#include "library/RawPreview.h"
#include "platform/foundation/AtomicFile.h"
#include "tools/library/RawLikeFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTransform>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <vector>

// Showing a RAW file on a 1920-pixel screen, which the program does through its largest embedded
// preview, against decoding the same preview extracted to a JPEG file of its own with
// libjpeg-turbo's scaled decode and the same resize (the reference of PhotoDecodeBench: one
// decompressor kept across images and the file mapped, as the program does). The RAW
// side pays for everything it does more: opening the RAW file, reading its TIFF directories to find
// the preview and the orientation, and mapping the preview's bytes, which it decodes in place. Four files: a
// CR2 and a DNG with full-size 24-megapixel previews (the DNG keeps its preview as a TIFF strip), and an ARW
// with a 1616×1080 preview, shown at its full size, once upright and once taken in portrait (turned a
// quarter clockwise to be shown, which the reference does the fastest way measured with the library:
// its decoded rows written straight into the upright image). The two sides alternate in one process, each
// releasing its image before the other runs; the median of the per-round ratios and their spread are printed,
// with what many rounds together say of them (an interval of the median, a sign test), by the wall
// clock and by processor time: the decoding thread's own, and the whole process's, which also
// counts the smooth resize Qt spreads over its thread pool. Last, the only work the two sides do
// differently, getting at the preview's bytes, is timed alone.
namespace {
constexpr unsigned screenSize = 1920;
constexpr double goal = 1.0;

struct Case {
    const char* label;
    RawLikeFile::Format format;
    int width;
    int height;
    int orientation; // the EXIF orientation the RAW file records
};

const Case cases[] = {
    {"cr2-24MP", RawLikeFile::Format::Cr2, 6000, 4000, 1},
    {"dng-24MP", RawLikeFile::Format::Dng, 6000, 4000, 1},
    {"arw-1616x1080", RawLikeFile::Format::Arw, 1616, 1080, 1},
    {"arw-1616x1080-portrait", RawLikeFile::Format::Arw, 1616, 1080, 6},
};

// Processor time of every thread of the process, in milliseconds: the decoding thread and the
// pool threads Qt's smooth resize runs on.
double processCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void printJudgement(const char* label, const char* clock, const std::vector<double>& ratios)
{
    const RoundStatistics::Interval interval = RoundStatistics::medianInterval(ratios);
    const RoundStatistics::SignTest sign = RoundStatistics::signTest(ratios);
    std::printf("%s: %s ratio: median %.3f, 95%% interval of the median %.3f-%.3f; ours faster in %zu of %zu "
                "rounds (sign test p=%.3g)\n",
                label, clock, RoundStatistics::median(ratios), interval.low, interval.high, sign.below,
                sign.below + sign.above, sign.p);
}

// Getting at the preview's bytes, the one step the sides do differently, timed on the thread's
// clock, sides alternating: ours opens the RAW file, reads its directories and maps the preview
// (released afterwards, unmapping it), the reference opens its JPEG file and maps it whole,
// populating its pages as ours does the preview's (unmapped afterwards too). Timed twice: back to
// back, and `cold`, each turn after 8 MB have been written (twice the core's second-level cache,
// about what a decode writes), as the step runs in a real sequence of photos: after the previous
// photo's decode, with the caches holding its pixels and not this step's code and data. There it
// costs several times as much.
void measureFileWork(const Case& test, const QString& rawPath, const QString& jpegPath, int rounds, bool cold)
{
    static std::vector<char> flush(size_t(8) << 20);
    std::vector<double> ours, reference;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursTurn = (turn == 0) == (round % 2 == 0);
            if (cold)
                std::memset(flush.data(), round + turn, flush.size());
            const double start = threadCpuMilliseconds();
            bool read = false;
            if (oursTurn) {
                const auto preview = RawPreview::read(rawPath);
                read = preview && !preview->data().isEmpty();
            } else {
                read = TurboJpegReference::read(jpegPath) != nullptr;
            }
            (oursTurn ? ours : reference).push_back(threadCpuMilliseconds() - start);
            if (!read)
                return;
        }
    }
    std::printf("%s: getting the preview's bytes%s, thread processor time: ours (open, directories, map, "
                "unmap) %.3f ms, reference (%s) %.3f ms (medians of %d)\n",
                test.label, cold ? " after 8 MB written" : " back to back", RoundStatistics::median(ours),
                TurboJpegReference::readDescription(), RoundStatistics::median(reference), rounds);
}

// The reference's image for the case: where the photo was taken in portrait, the library's decode
// written straight into the upright image (the fastest of the ways measured below).
QImage referenceImage(const Case& test, const QString& jpegPath)
{
    if (test.orientation == 6)
        return TurboJpegReference::decodeTurnedQuarter(jpegPath, screenSize);
    return TurboJpegReference::decode(jpegPath, screenSize);
}

// For a portrait photo, the reference's ways of getting the upright image, timed alternately on the
// thread's clock: decoding and then turning with Qt's quarter-turn rotation (as the image reader
// turns a JPEG), against the decode written turned.
void measureReferenceWays(const Case& test, const QString& jpegPath, int rounds)
{
    std::vector<double> rotated, written;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool rotatedTurn = (turn == 0) == (round % 2 == 0);
            const double start = threadCpuMilliseconds();
            const QImage image =
                rotatedTurn
                    ? TurboJpegReference::decode(jpegPath, screenSize).transformed(QTransform().rotate(90))
                    : TurboJpegReference::decodeTurnedQuarter(jpegPath, screenSize);
            (rotatedTurn ? rotated : written).push_back(threadCpuMilliseconds() - start);
            if (image.isNull())
                return;
        }
    }
    std::printf("%s: the reference's ways to the upright image, thread processor time: decoded then turned "
                "(Qt) %.3f ms, decoded turned %.3f ms (medians of %d)\n",
                test.label, RoundStatistics::median(rotated), RoundStatistics::median(written), rounds);
}

bool measure(const Case& test, const QTemporaryDir& folder, int rounds)
{
    const QByteArray preview = SyntheticPhoto::jpeg(test.width, test.height);
    const QString rawPath = folder.filePath(QStringLiteral("IMG_0001.") + RawLikeFile::suffix(test.format));
    if (!AtomicFile::write(rawPath, RawLikeFile::make(test.format, preview, QSize(test.width, test.height),
                                                      test.orientation)))
        return false;
    // The preview as the RAW file holds it, written out.
    const auto extracted = RawPreview::read(rawPath);
    const QString jpegPath = folder.filePath(QStringLiteral("IMG_0001-preview.jpg"));
    if (!extracted || extracted->data() != preview || !AtomicFile::write(jpegPath, extracted->data()))
        return false;
    const PlistPtr item = PlistValue::dictionary({{"ImagePath", PlistValue::string(rawPath.toStdString())}});
    AlbumInfo albumInfo;

    const QImage ours = albumInfo.imageForItem(item, screenSize);
    const QImage reference = referenceImage(test, jpegPath);
    const double difference = TurboJpegReference::meanDifference(ours, reference);
    std::printf("%s: ours %dx%d, reference %dx%d, mean difference %.2f of 255 per channel\n", test.label,
                ours.width(), ours.height(), reference.width(), reference.height(), difference);
    if (difference < 0 || difference > TurboJpegReference::sameImageLimit) {
        std::fprintf(stderr, "the two sides give different images\n");
        return false;
    }

    std::vector<double> oursMs, referenceMs, ratios, oursCpuMs, referenceCpuMs, oursFaults, referenceFaults;
    std::vector<double> cpuRatios, processRatios;
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        double times[2] = {}, cpu[2] = {}, process[2] = {};
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursTurn = (turn == 0) == (round % 2 == 0);
            const double processStart = processCpuMilliseconds();
            const double cpuStart = threadCpuMilliseconds();
            const long faultsStart = threadPageFaults();
            timer.start();
            {
                const QImage image =
                    oursTurn ? albumInfo.imageForItem(item, screenSize) : referenceImage(test, jpegPath);
                if (image.isNull())
                    return false;
            }
            times[oursTurn ? 0 : 1] = double(timer.nsecsElapsed()) / 1e6;
            cpu[oursTurn ? 0 : 1] = threadCpuMilliseconds() - cpuStart;
            process[oursTurn ? 0 : 1] = processCpuMilliseconds() - processStart;
            (oursTurn ? oursCpuMs : referenceCpuMs).push_back(cpu[oursTurn ? 0 : 1]);
            (oursTurn ? oursFaults : referenceFaults).push_back(double(threadPageFaults() - faultsStart));
        }
        oursMs.push_back(times[0]);
        referenceMs.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
        cpuRatios.push_back(cpu[0] / cpu[1]);
        processRatios.push_back(process[0] / process[1]);
    }
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    const double median = TurboJpegReference::median(ratios);
    std::printf("%s: ours %.2f ms, reference %.2f ms (medians of %d alternating rounds)\n", test.label,
                TurboJpegReference::median(oursMs), TurboJpegReference::median(referenceMs), rounds);
    // On a loaded machine the wall-clock figures mostly measure the wait for a core; the thread's
    // own processor time shows the work.
    std::printf("%s: processor time of the decoding thread: ours %.2f ms, reference %.2f ms (medians)\n",
                test.label, TurboJpegReference::median(oursCpuMs),
                TurboJpegReference::median(referenceCpuMs));
    std::printf("%s: page faults of the decoding thread: ours %.0f, reference %.0f (medians)\n", test.label,
                TurboJpegReference::median(oursFaults), TurboJpegReference::median(referenceFaults));
    std::printf("%s: ratio ours/reference: median %.3f, spread %.3f-%.3f (goal at most %.1f: %s)\n",
                test.label, median, *low, *high, goal,
                *high <= goal    ? "met"
                : median <= goal ? "median met, spread crosses"
                                 : "MISSED");
    printJudgement(test.label, "wall-clock", ratios);
    printJudgement(test.label, "thread processor time", cpuRatios);
    printJudgement(test.label, "process processor time", processRatios);
    measureFileWork(test, rawPath, jpegPath, rounds, false);
    measureFileWork(test, rawPath, jpegPath, rounds, true);
    if (test.orientation == 6)
        measureReferenceWays(test, jpegPath, rounds);
    std::printf("RESULT raw-preview %s ratio=%.3f low=%.3f high=%.3f goal=%.1f\n", test.label, median, *low,
                *high, goal);
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    QTemporaryDir folder;
    for (const Case& test : cases) {
        if (!measure(test, folder, rounds)) {
            std::fprintf(stderr, "%s: could not be measured\n", test.label);
            return 1;
        }
    }
    return 0;
}
