#include "SyntheticPhoto.h"
#include "bench/ThreadClock.h"
#include "display/ItemDisplay.h"
#include "library/AlbumInfo.h"
#include "platform/foundation/MemoryAllocator.h"
#include "platform/foundation/PropertyList.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/LayerTreeHost.h"
#include "platform/graphics/ShadowImageCache.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// The rating screen's strip (full screen, 1920 × 1080) moved on once every 0.5 s through an album
// of 24-megapixel photos, in real time, with frames painted at 60 Hz as the window would.
// Reported: how many photos were loaded at their laid-out size when their 0.25 s move ended, the
// worst time from a move to its photo being sharp, the longest main-thread stall (the longest gap
// between two turns of the event loop, a painted frame included), the longest frame, and the
// process's peak resident memory.
//
//   ItemDisplayReadinessBench make FOLDER          writes the photos (100 files, about 600 MB)
//   ItemDisplayReadinessBench run FOLDER [ALBUM] [MOVES]
//   ItemDisplayReadinessBench repeat RUNS FOLDER [ALBUM] [MOVES]   the run RUNS times, each in its
//                                                  own process, and the main thread's work that
//                                                  came back at the same half-second in every run
//
// ALBUM items (default 100) cycle over the files; MOVES (default ALBUM − 1, at most 99 by default)
// moves are made. Compare the peak memory of ALBUM 100 and 1000 with the same MOVES, each in its
// own process.
namespace {

constexpr int photoFiles = 100;
// Whether main() fixed the allocator's thresholds as the program does.
bool fixedAllocatorThresholds = false;
const QSize screen(1920, 1080);
constexpr int moveMilliseconds = 500;
// Begins the line a run prints of its longest stretch of main-thread work in each half-second.
constexpr const char* worstWorkLinePrefix = "longest main-thread work in each half-second (ms):";
constexpr int animationMilliseconds = 250;

QString photoPath(const QString& folder, int i)
{
    return QDir(folder).filePath(QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')));
}

// Every fourth photo is a portrait.
bool isPortrait(int i)
{
    return i % 4 == 3;
}

int make(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return 1;
    const QByteArray landscape = SyntheticPhoto::jpeg(6000, 4000);
    const QByteArray portrait = SyntheticPhoto::jpeg(4000, 6000);
    for (int i = 0; i < photoFiles; ++i) {
        QFile file(photoPath(folder, i));
        if (!file.open(QIODevice::WriteOnly) || file.write(isPortrait(i) ? portrait : landscape) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    std::printf("%d photos of 24 megapixels in %s\n", photoFiles, qPrintable(folder));
    return 0;
}

class Host : public LayerTreeHost {
public:
    void layerTreeNeedsDisplay() override {}
};

// The rating screen's data source: item records handed to the album data's decoder.
class Album : public ItemDisplayDataSource {
public:
    Album(const QString& folder, int count)
    {
        for (int i = 0; i < count; ++i) {
            const int file = i % photoFiles;
            m_items.push_back(PlistValue::dictionary(
                {{"ImagePath", PlistValue::string(photoPath(folder, file).toStdString())},
                 {"Aspect Ratio", PlistValue::real(isPortrait(file) ? 4000.0 / 6000.0 : 6000.0 / 4000.0)}}));
        }
    }
    std::size_t numberOfItemsInDisplay(ItemDisplay& /*display*/) override { return m_items.size(); }
    double itemDisplayNeedsAspectRatio(ItemDisplay& /*display*/, std::size_t index) override
    {
        return m_albumInfo.aspectRatioForItem(m_items.at(index));
    }
    QImage itemDisplayNeedsImage(ItemDisplay& /*display*/, std::size_t index, unsigned size) override
    {
        return m_albumInfo.imageForItem(m_items.at(index), size);
    }

private:
    AlbumInfo m_albumInfo;
    std::vector<PlistPtr> m_items;
};

long peakResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// The calling thread's time in the kernel and its page faults so far: a stall spent there is
// the system's (memory being found for the process), not the program's own work.
struct ThreadUsage {
    double systemMilliseconds = 0;
    long minorFaults = 0;
};

ThreadUsage threadUsage()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return {double(usage.ru_stime.tv_sec) * 1e3 + double(usage.ru_stime.tv_usec) / 1e3, usage.ru_minflt};
}

// Milliseconds the machine's processors have been held by the host for other guests so far (all
// processors together). A thread's processor time runs on while its processor is taken away, so
// a long frame with steal in it may be the host's doing rather than the program's.
double stealMilliseconds()
{
    // Read often (every heartbeat): the file stays open and only its first line is read again.
    static const int stat = open("/proc/stat", O_RDONLY | O_CLOEXEC);
    char line[512] = {};
    if (stat < 0 || pread(stat, line, sizeof line - 1, 0) <= 0)
        return 0;
    long long values[8] = {};
    if (std::sscanf(line, "cpu %lld %lld %lld %lld %lld %lld %lld %lld", &values[0], &values[1], &values[2],
                    &values[3], &values[4], &values[5], &values[6], &values[7]) != 8)
        return 0;
    return double(values[7]) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// The second of the numbers a one-line file of the kernel's (open as `fd`) starts with; 0 when it
// cannot be read.
unsigned long long secondNumberOf(int fd)
{
    char line[128] = {};
    if (fd < 0 || pread(fd, line, sizeof line - 1, 0) <= 0)
        return 0;
    unsigned long long first = 0;
    unsigned long long second = 0;
    return std::sscanf(line, "%llu %llu", &first, &second) == 2 ? second : 0;
}

// Milliseconds the calling thread has waited, ready to run, for a processor so far (the scheduler's
// own count): a stall by the wall clock that is neither work nor this is the thread asleep.
double runQueueWaitMilliseconds()
{
    static thread_local const int schedstat = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    return double(secondNumberOf(schedstat)) / 1e6;
}

// The process's resident memory now, from its one-line status.
double residentMegabytes()
{
    static const int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    return double(secondNumberOf(statm)) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// What the painter did in a frame, from its own counts: pixels of photos copied one to one, of
// backgrounds filled, of fills stacked, and the shadow pieces and silhouettes it had to make.
struct PaintedWork {
    qint64 heldPixels = 0;
    qint64 backgroundPixels = 0;
    qint64 stackedPixels = 0;
    int keptPiecesMade = 0;
    int silhouettesMade = 0;

    static PaintedWork sinceStart()
    {
        return {LayerPainter::heldPiecePixelCountForTesting(), LayerPainter::backgroundPixelCountForTesting(),
                LayerPainter::stackedFillPixelCountForTesting(), LayerPainter::keptPieceCountForTesting(),
                LayerPainter::blurredSilhouetteCountForTesting()};
    }
    PaintedWork operator-(const PaintedWork& other) const
    {
        return {heldPixels - other.heldPixels, backgroundPixels - other.backgroundPixels,
                stackedPixels - other.stackedPixels, keptPiecesMade - other.keptPiecesMade,
                silhouettesMade - other.silhouettesMade};
    }
    qint64 pixels() const { return heldPixels + backgroundPixels + stackedPixels; }
    std::string describe() const
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%.2f/%.2f/%.2f Mpx held/background/stacked, %d pieces and %d shadows made",
                      double(heldPixels) / 1e6, double(backgroundPixels) / 1e6, double(stackedPixels) / 1e6,
                      keptPiecesMade, silhouettesMade);
        return text;
    }
};

bool isSharp(const Layer& layer)
{
    const QVariant shown = layer.attribute(ItemDisplay::shownSizeKey);
    return !layer.contents().isNull() && shown.isValid() &&
           shown.toUInt() >= layer.attribute(ItemDisplay::loadSizeKey).toUInt();
}

// Times every event the main thread handles by the thread's processor time, and keeps the
// longest few with what they were, so a long stall can be traced to its cause.
class TimedApplication : public QGuiApplication {
public:
    using QGuiApplication::QGuiApplication;

    struct Handled {
        double milliseconds;
        std::string what;
    };

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (QThread::currentThread() != thread())
            return QGuiApplication::notify(receiver, event);
        const double start = threadCpuMilliseconds();
        const bool result = QGuiApplication::notify(receiver, event);
        const double spent = threadCpuMilliseconds() - start;
        if (spent >= 1 && (m_longest.size() < 8 || spent > m_longest.back().milliseconds)) {
            std::string what = describe(receiver, event) + " at " +
                               std::to_string(int(m_since.isValid() ? m_since.elapsed() : 0)) + " ms";
            m_longest.push_back({spent, std::move(what)});
            std::sort(m_longest.begin(), m_longest.end(),
                      [](const Handled& a, const Handled& b) { return a.milliseconds > b.milliseconds; });
            if (m_longest.size() > 8)
                m_longest.pop_back();
        }
        return result;
    }

    const std::vector<Handled>& longest() const { return m_longest; }
    // Times are given from here on, as the run's own are.
    void restartClock() { m_since.start(); }

private:
    static std::string describe(QObject* receiver, QEvent* event)
    {
        if (event->type() == QEvent::Timer && !receiver->objectName().isEmpty())
            return receiver->objectName().toStdString() + " timer";
        if (event->type() == QEvent::MetaCall)
            return "a call posted to the main thread (a finished load being shown)";
        return std::string(receiver->metaObject()->className()) + " event " +
               std::to_string(int(event->type()));
    }

    std::vector<Handled> m_longest;
    QElapsedTimer m_since = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
};

int run(const QString& folder, int albumSize, int moves)
{
    if (!QFile::exists(photoPath(folder, photoFiles - 1))) {
        std::fprintf(stderr, "no photos in %s: run \"make\" first\n", qPrintable(folder));
        return 1;
    }
    Host host;
    Album album(folder, albumSize);
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, screen.width(), screen.height()));
    root->setTreeHost(&host);
    ItemDisplay display;
    display.layer()->setFrame(root->bounds());
    display.layer()->setBackgroundColor(Color::white(0.5, 1));
    root->addSublayer(display.layer());
    display.setDataSource(&album);

    QImage frame(screen, QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer clock;
    clock.start();
    double longestFrame = 0;
    double longestStall = 0;
    double lastBeat = 0;
    double longestFrameWork = 0;
    double longestStallWork = 0;
    // The wall-clock length of the stall with the most work.
    double longestStallWall = 0;
    std::vector<double> frameWorks;
    // Frames of more than 5 ms of work, in order, with what else went on in them: whether the long
    // ones come back at the same moments from run to run (one-off work) or anywhere (the machine).
    struct HeavyFrame {
        double at;
        double work;
        long faults;
        double steal;
        PaintedWork painted;
    };
    // What the frames painted, the median frame's and the heaviest's, to tell more painting from
    // the same painting taking longer.
    std::vector<PaintedWork> paintedByFrame;
    constexpr double heavyFrameWork = 5;
    std::vector<HeavyFrame> heavyFrames;
    // Stalls over the goal, and those during which the host took no processor time.
    constexpr double stallLimit = 8;
    int stallsOverLimit = 0;
    int unstolenStallsOverLimit = 0;
    double longestUnstolenStallWork = 0;
    double lastBeatWork = 0;
    ThreadUsage lastBeatUsage;
    struct Moment {
        double at = 0;
        double systemMilliseconds = 0;
        long minorFaults = 0;
        double stealMilliseconds = 0;
        // Of the main thread, waiting for a processor while ready to run.
        double runQueueWaitMilliseconds = 0;
    };
    double lastBeatSteal = 0;
    double lastBeatRunQueueWait = 0;
    // The longest gap by the wall clock during which the host took no processor time: what is
    // left of it is the main thread's work, its wait for a processor (other threads and
    // processes on it) and its sleep.
    double longestUnstolenWallStall = 0;
    double longestUnstolenWallStallWork = 0;
    Moment longestUnstolenWallStallAt;
    // Frames that touched memory new to the process, and the most pages one of them touched.
    int faultingFrames = 0;
    long mostFrameFaults = 0;
    // The longest frame during which the host took no processor time.
    double longestUnstolenFrameWork = 0;
    Moment longestStallAt;
    Moment longestFrameAt;
    // The longest gap by the wall clock, which the goal judges, and how much of it was work.
    Moment longestWallStallAt;
    double longestWallStallWork = 0;
    int wallStallsOverLimit = 0;
    int unstolenWallStallsOverLimit = 0;
    // The longest stretch of the main thread's own work begun in each half-second (each move).
    std::vector<double> worstWorkByMove;

    QTimer painter;
    painter.setObjectName(QStringLiteral("frame painting"));
    painter.setTimerType(Qt::PreciseTimer);
    painter.setInterval(16);
    QObject::connect(&painter, &QTimer::timeout, [&] {
        const double startSteal = stealMilliseconds();
        const double start = double(clock.nsecsElapsed()) / 1e6;
        const double startWork = threadCpuMilliseconds();
        const ThreadUsage startUsage = threadUsage();
        const PaintedWork paintedBefore = PaintedWork::sinceStart();
        {
            QPainter p(&frame);
            LayerPainter::paint(p, *root, QSizeF(screen));
        }
        const PaintedWork painted = PaintedWork::sinceStart() - paintedBefore;
        paintedByFrame.push_back(painted);
        longestFrame = std::max(longestFrame, double(clock.nsecsElapsed()) / 1e6 - start);
        const double frameWork = threadCpuMilliseconds() - startWork;
        frameWorks.push_back(frameWork);
        if (stealMilliseconds() == startSteal)
            longestUnstolenFrameWork = std::max(longestUnstolenFrameWork, frameWork);
        const long faults = threadUsage().minorFaults - startUsage.minorFaults;
        if (frameWork > heavyFrameWork)
            heavyFrames.push_back({start, frameWork, faults, stealMilliseconds() - startSteal, painted});
        if (faults > 0) {
            ++faultingFrames;
            mostFrameFaults = std::max(mostFrameFaults, faults);
        }
        if (frameWork > longestFrameWork) {
            longestFrameWork = threadCpuMilliseconds() - startWork;
            const ThreadUsage usage = threadUsage();
            longestFrameAt = {start, usage.systemMilliseconds - startUsage.systemMilliseconds,
                              usage.minorFaults - startUsage.minorFaults, stealMilliseconds() - startSteal};
        }
    });
    // A heartbeat every millisecond: a gap without a frame in it is main-thread work that kept
    // the event loop from turning.
    QTimer heartbeat;
    heartbeat.setObjectName(QStringLiteral("heartbeat"));
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        const double work = threadCpuMilliseconds();
        // A frame painted in the gap counts too: the event loop does not turn while it paints.
        if (lastBeat > 0) {
            const ThreadUsage usage = threadUsage();
            const Moment gap{now, usage.systemMilliseconds - lastBeatUsage.systemMilliseconds,
                             usage.minorFaults - lastBeatUsage.minorFaults,
                             stealMilliseconds() - lastBeatSteal,
                             runQueueWaitMilliseconds() - lastBeatRunQueueWait};
            if (now - lastBeat > stallLimit) {
                ++wallStallsOverLimit;
                if (gap.stealMilliseconds == 0)
                    ++unstolenWallStallsOverLimit;
            }
            if (now - lastBeat > longestStall) {
                longestStall = now - lastBeat;
                longestWallStallWork = work - lastBeatWork;
                longestWallStallAt = gap;
            }
            if (gap.stealMilliseconds == 0 && now - lastBeat > longestUnstolenWallStall) {
                longestUnstolenWallStall = now - lastBeat;
                longestUnstolenWallStallWork = work - lastBeatWork;
                longestUnstolenWallStallAt = gap;
            }
            if (work - lastBeatWork > stallLimit) {
                ++stallsOverLimit;
                if (stealMilliseconds() == lastBeatSteal) {
                    ++unstolenStallsOverLimit;
                    longestUnstolenStallWork = std::max(longestUnstolenStallWork, work - lastBeatWork);
                }
            }
            const auto window = std::size_t(std::max(0.0, lastBeat) / moveMilliseconds);
            if (worstWorkByMove.size() <= window)
                worstWorkByMove.resize(window + 1, 0.0);
            worstWorkByMove[window] = std::max(worstWorkByMove[window], work - lastBeatWork);
            if (work - lastBeatWork > longestStallWork) {
                longestStallWork = work - lastBeatWork;
                longestStallWall = now - lastBeat;
                longestStallAt = gap;
            }
        }
        lastBeat = now;
        lastBeatWork = work;
        lastBeatUsage = threadUsage();
        lastBeatSteal = stealMilliseconds();
        lastBeatRunQueueWait = runQueueWaitMilliseconds();
    });

    // Where the memory was at the highest resident size seen (sampled every 10 ms; the peak
    // itself, between samples, is the kernel's figure printed with it).
    struct MemoryAt {
        double at = 0;
        double residentMegabytes = 0;
        struct mallinfo2 allocator {};
    };
    MemoryAt highestMemory;
    QTimer memoryWatch;
    memoryWatch.setObjectName(QStringLiteral("memory watch"));
    memoryWatch.setInterval(10);
    QObject::connect(&memoryWatch, &QTimer::timeout, [&] {
        const double resident = residentMegabytes();
        if (resident > highestMemory.residentMegabytes)
            highestMemory = {double(clock.nsecsElapsed()) / 1e6, resident, mallinfo2()};
    });

    struct Move {
        std::size_t index;
        double start;
        double sharpAfter = -1;
    };
    std::vector<Move> done;
    int sharpAtEnd = 0;
    int counted = 0;
    QTimer mover;
    mover.setObjectName(QStringLiteral("move"));
    mover.setTimerType(Qt::PreciseTimer);
    mover.setInterval(moveMilliseconds);
    QObject::connect(&mover, &QTimer::timeout, [&] {
        if (int(done.size()) >= moves) {
            // After the last move has ended and been counted.
            mover.stop();
            QTimer::singleShot(animationMilliseconds * 2, Qt::PreciseTimer, [] { QCoreApplication::quit(); });
            return;
        }
        const std::size_t next = display.position() + 1;
        display.setPosition(next);
        done.push_back({next, double(clock.nsecsElapsed()) / 1e6});
        QTimer::singleShot(animationMilliseconds, Qt::PreciseTimer, [&, next] {
            const auto found = display.itemLayers().find(next);
            ++counted;
            if (found != display.itemLayers().end() && isSharp(*found->second))
                ++sharpAtEnd;
        });
    });
    // Watches for each moved-to photo becoming sharp, at the frame rate.
    QTimer watcher;
    watcher.setObjectName(QStringLiteral("sharpness watch"));
    watcher.setInterval(4);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        for (Move& move : done) {
            if (move.sharpAfter >= 0)
                continue;
            const auto found = display.itemLayers().find(move.index);
            if (found != display.itemLayers().end() && isSharp(*found->second))
                move.sharpAfter = now - move.start;
        }
    });

    // The first photo loads before the run starts, as when the screen appears.
    {
        QPainter first(&frame);
        LayerPainter::paint(first, *root, QSizeF(screen));
    }
    display.workQueue().waitUntilAllOperationsAreFinished();
    QCoreApplication::sendPostedEvents();

    // A shadow image made on the main thread is a full-size image written there, page faults and
    // all: the strip makes them ahead on its loading threads.
    const int shadowsMadeBefore = ShadowImageCache::madeOnMainThreadCountForTesting();
    static_cast<TimedApplication*>(QCoreApplication::instance())->restartClock();
    clock.start();
    // So a trace taken alongside (perf -k CLOCK_MONOTONIC) can be matched with the times printed.
    timespec began{};
    clock_gettime(CLOCK_MONOTONIC, &began);
    const double runSteal = stealMilliseconds();
    const double runWait = runQueueWaitMilliseconds();
    painter.start();
    heartbeat.start();
    watcher.start();
    memoryWatch.start();
    mover.start();
    QCoreApplication::exec();

    double worst = 0;
    int neverSharp = 0;
    for (const Move& move : done) {
        if (move.sharpAfter < 0)
            ++neverSharp;
        worst = std::max(worst, move.sharpAfter);
    }
    const double peakMegabytes = double(peakResidentKilobytes()) / 1024.0;
    std::printf("album of %d photos, %zu moves: %d of %d sharp when their move ended (goal: all); worst "
                "move to sharp %.0f ms%s; peak resident memory %.1f MB (goal under 300)\n",
                albumSize, done.size(), sharpAtEnd, counted, worst,
                neverSharp ? (" (" + std::to_string(neverSharp) + " never sharp)").c_str() : "",
                peakMegabytes);
    // The three ways of judging a stall (a gap between two turns of the main thread's event loop,
    // a painted frame included), each with what else went on in it, so the reader can judge.
    std::printf("times below are from %.6f s on the monotonic clock\n",
                double(began.tv_sec) + double(began.tv_nsec) / 1e9);
    std::printf("main-thread stalls (goal: none over %.0f ms):\n", stallLimit);
    std::printf(
        "  longest by the wall clock: %.1f ms, ending at %.0f ms: %.1f ms the main thread's work (%.1f ms "
        "of it in the kernel, %ld page faults), %.1f ms waiting for a processor, %.0f ms taken by the "
        "host meanwhile (all processors); stalls over %.0f ms by the wall clock: %d, %d of them while "
        "the host took no processor time\n",
        longestStall, longestWallStallAt.at, longestWallStallWork, longestWallStallAt.systemMilliseconds,
        longestWallStallAt.minorFaults, longestWallStallAt.runQueueWaitMilliseconds,
        longestWallStallAt.stealMilliseconds, stallLimit, wallStallsOverLimit, unstolenWallStallsOverLimit);
    std::printf(
        "  longest of the main thread's own work: %.1f ms, ending at %.0f ms: %.1f ms by the wall clock, "
        "%.1f ms of the work in the kernel, %ld page faults, %.1f ms waiting for a processor, %.0f ms "
        "taken by the host meanwhile; stalls over %.0f ms of work: %d, %d of them while the host took "
        "no processor time (the longest of those %.1f ms)\n",
        longestStallWork, longestStallAt.at, longestStallWall, longestStallAt.systemMilliseconds,
        longestStallAt.minorFaults, longestStallAt.runQueueWaitMilliseconds, longestStallAt.stealMilliseconds,
        stallLimit, stallsOverLimit, unstolenStallsOverLimit, longestUnstolenStallWork);
    std::printf(
        "  longest by the wall clock while the host took no processor time: %.1f ms, ending at %.0f ms: "
        "%.1f ms the main thread's work, %.1f ms waiting for a processor, the rest asleep\n",
        longestUnstolenWallStall, longestUnstolenWallStallAt.at, longestUnstolenWallStallWork,
        longestUnstolenWallStallAt.runQueueWaitMilliseconds);
    std::printf("longest frame %.1f ms of work, %.1f ms by the wall clock\n", longestFrameWork, longestFrame);
    const double steal = stealMilliseconds() - runSteal;
    std::printf("the main thread's wait for a processor during the run: %.1f ms in all\n",
                runQueueWaitMilliseconds() - runWait);
    constexpr double megabyte = 1024.0 * 1024.0;
    std::printf(
        "memory: peak %.1f MB (the kernel's); the highest sampled, %.1f MB at %.0f ms, had %.1f MB in "
        "the allocator's heaps (%.1f MB of it free) and %.1f MB of blocks on their own mappings "
        "(allocator thresholds %s)\n",
        peakMegabytes, highestMemory.residentMegabytes, highestMemory.at,
        double(highestMemory.allocator.arena) / megabyte, double(highestMemory.allocator.fordblks) / megabyte,
        double(highestMemory.allocator.hblkhd) / megabyte,
        fixedAllocatorThresholds ? "fixed" : "the C library's own");
    std::printf(
        "the longest frame began at %.0f ms; %.1f ms of its work in the kernel, %ld page faults, %.0f ms "
        "taken by the host meanwhile\n",
        longestFrameAt.at, longestFrameAt.systemMilliseconds, longestFrameAt.minorFaults,
        longestFrameAt.stealMilliseconds);
    std::sort(frameWorks.begin(), frameWorks.end());
    const auto frameAt = [&](double share) {
        return frameWorks.empty() ? 0.0 : frameWorks[std::size_t(share * double(frameWorks.size() - 1))];
    };
    std::printf("frames: %zu, work median %.1f ms, 99th percentile %.1f ms\n", frameWorks.size(),
                frameAt(0.5), frameAt(0.99));
    std::printf("longest frame the host left alone: %.1f ms of work\n", longestUnstolenFrameWork);
    std::sort(paintedByFrame.begin(), paintedByFrame.end(),
              [](const PaintedWork& a, const PaintedWork& b) { return a.pixels() < b.pixels(); });
    const PaintedWork typical =
        paintedByFrame.empty() ? PaintedWork{} : paintedByFrame[paintedByFrame.size() / 2];
    std::printf("a median frame painted %s\n", typical.describe().c_str());
    std::printf(
        "frames of more than %.0f ms of work (beginning at, work, page faults, taken by the host, what "
        "it painted):",
        heavyFrameWork);
    for (const HeavyFrame& heavy : heavyFrames)
        std::printf(" %.0f ms %.1f ms %ld %.0f ms %s;", heavy.at, heavy.work, heavy.faults, heavy.steal,
                    heavy.painted.describe().c_str());
    std::printf("%s\n", heavyFrames.empty() ? " none" : "");
    std::printf("frames with page faults: %d (the most in one: %ld); shadow images made on the main thread "
                "during the run: %d\n",
                faultingFrames, mostFrameFaults,
                ShadowImageCache::madeOnMainThreadCountForTesting() - shadowsMadeBefore);
    std::printf("stalls over %.0f ms of work: %d, of which %d while the host took no processor time (the "
                "longest of those %.1f ms)\n",
                stallLimit, stallsOverLimit, unstolenStallsOverLimit, longestUnstolenStallWork);
    std::printf("processor time taken by the host during the run: %.0f ms of %.0f ms (all processors)\n",
                steal, double(clock.elapsed()) * double(sysconf(_SC_NPROCESSORS_ONLN)));
    std::printf("%s", worstWorkLinePrefix);
    for (const double work : worstWorkByMove)
        std::printf(" %.2f", work);
    std::printf("\n");
    std::printf("longest main-thread work by event (processor time):\n");
    for (const auto& handled : static_cast<TimedApplication*>(QCoreApplication::instance())->longest())
        std::printf("  %6.1f ms  %s\n", handled.milliseconds, handled.what.c_str());
    root->setTreeHost(nullptr);
    return 0;
}

// Runs the same scripted run `runs` times, each in a fresh process, and judges the main thread's
// own work move by move: its longest stretch in each half-second, the smallest of it across the
// runs. Work the program does at some point of the run comes back in every run; a stretch the
// machine alone lengthened may not. Lenient by design (a real stall whose moment varies between
// runs is excused), so each run's own lines are printed with it.
int repeat(int runs, const QStringList& runArguments)
{
    std::vector<std::vector<double>> byRun;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), QStringList{"run"} + runArguments);
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed\n", i + 1);
            return 1;
        }
        const QByteArray output = child.readAllStandardOutput();
        std::fwrite(output.constData(), 1, std::size_t(output.size()), stdout);
        std::vector<double> works;
        for (const QByteArray& line : output.split('\n')) {
            if (!line.startsWith(worstWorkLinePrefix))
                continue;
            for (const QByteArray& field : line.mid(qsizetype(std::strlen(worstWorkLinePrefix))).split(' '))
                if (!field.isEmpty())
                    works.push_back(field.toDouble());
        }
        byRun.push_back(std::move(works));
    }
    std::size_t windows = byRun.front().size();
    for (const auto& works : byRun)
        windows = std::min(windows, works.size());
    double longest = 0;
    std::size_t longestAt = 0;
    int over = 0;
    for (std::size_t w = 0; w < windows; ++w) {
        double least = byRun.front()[w];
        for (const auto& works : byRun)
            least = std::min(least, works[w]);
        if (least > 8)
            ++over;
        if (least > longest) {
            longest = least;
            longestAt = w;
        }
    }
    std::printf("over %d runs: the longest stretch of the main thread's own work that came back in every "
                "run at the same half-second: %.1f ms, at %zu ms to %zu ms (goal: none over 8 ms); "
                "half-seconds over 8 ms in every run: %d of %zu\n",
                runs, longest, longestAt * moveMilliseconds, (longestAt + 1) * moveMilliseconds, over,
                windows);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // As the program does, before any thread starts; ZUZIRE_STRIP_BENCH_ALLOCATOR=default leaves the
    // C library's own moving thresholds, to compare.
    if (qgetenv("ZUZIRE_STRIP_BENCH_ALLOCATOR") != "default")
        fixedAllocatorThresholds = MemoryAllocator::useFixedThresholds();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication application(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "make") == 0)
        return make(QString::fromLocal8Bit(argv[2]));
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0) {
        const int albumSize = argc > 3 ? std::max(2, std::atoi(argv[3])) : photoFiles;
        const int moves = argc > 4 ? std::max(1, std::atoi(argv[4])) : std::min(albumSize, photoFiles) - 1;
        return run(QString::fromLocal8Bit(argv[2]), albumSize, moves);
    }
    if (argc >= 4 && std::strcmp(argv[1], "repeat") == 0) {
        QStringList runArguments;
        for (int i = 3; i < argc; ++i)
            runArguments << QString::fromLocal8Bit(argv[i]);
        return repeat(std::max(2, std::atoi(argv[2])), runArguments);
    }
    std::fprintf(stderr,
                 "usage: %s make FOLDER | run FOLDER [ALBUM] [MOVES] | repeat RUNS FOLDER [ALBUM] [MOVES]\n",
                 argv[0]);
    return 2;
}
