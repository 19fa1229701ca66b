#include "RoundStatistics.h"
#include "bench/ThreadClock.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/XmlPlistBuilder.h"
#include "tools/library/AlbumDataPhotoSearch.h"
#include "tools/library/ContentDigest.h"
#include "tools/library/PhotoRating.h"
#include "tools/library/RegularFileReader.h"
#include "tools/library/ValidationStamp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// In one process (Google Benchmark, the default): `zuzire-library rate`'s library write of 10,000 and 100,000
// photos, against the floor of any rating write that keeps the file whole: read the file, find the photo's
// entry, write the whole file back atomically. BM_Rate is a rating after another (the usual case: a pass
// confirms several photos one after the other); BM_RateFirst is a rating of a file no rating has checked yet,
// which checks all of it as the program's reader would. The three take turns (see BM_RateRounds).
namespace {
constexpr int albumCount = 200;

const QByteArray defaultLibrary = "/home/ana/Pictures/Photo Library";

// An entry as a photo library writes it, some with keys its importer adds and some without; its
// files are in the library folder `photoLibrary`.
void appendEntry(QByteArray& xml, int id, const QByteArray& photoLibrary)
{
    const QByteArray n = QByteArray::number(id);
    const QByteArray roll = QByteArray::number(id / 40);
    xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n";
    xml += "\t\t\t<key>MediaType</key>\n\t\t\t<string>" + QByteArray(id % 25 == 0 ? "Movie" : "Image") +
           "</string>\n";
    xml += "\t\t\t<key>Caption</key>\n\t\t\t<string>DSC_" + n.rightJustified(5, '0') + "</string>\n";
    xml += "\t\t\t<key>Comment</key>\n\t\t\t<string>" + QByteArray(id % 7 ? "" : "Sunset &amp; sea") +
           "</string>\n";
    xml += "\t\t\t<key>GUID</key>\n\t\t\t<string>" +
           QByteArray::number(0x5A17C0DEull * uint(id), 16).toUpper() + "-4F1D-9C1B-" +
           n.rightJustified(12, '0') + "</string>\n";
    if (id % 3 != 0)
        xml += "\t\t\t<key>Rating</key>\n\t\t\t<integer>" + QByteArray::number(id % 6) + "</integer>\n";
    xml += "\t\t\t<key>ImagePath</key>\n\t\t\t<string>" + photoLibrary + "/Masters/2012/Roll " + roll +
           "/DSC_" + n + ".JPG</string>\n";
    xml += "\t\t\t<key>ThumbPath</key>\n\t\t\t<string>" + photoLibrary + "/Thumbnails/2012/Roll " + roll +
           "/DSC_" + n + ".jpg</string>\n";
    xml +=
        "\t\t\t<key>Aspect Ratio</key>\n\t\t\t<real>" + QByteArray(id % 4 ? "1.5" : "0.666667") + "</real>\n";
    xml += "\t\t\t<key>DateAsTimerInterval</key>\n\t\t\t<real>" +
           QByteArray::number(340000000.0 + id * 37.5, 'f', 1) + "</real>\n";
    xml += "\t\t\t<key>ModDateAsTimerInterval</key>\n\t\t\t<real>" + QByteArray::number(350000000 + id) +
           "</real>\n";
    xml += "\t\t\t<key>Roll</key>\n\t\t\t<integer>" + roll + "</integer>\n";
    xml += "\t\t\t<key>Keywords</key>\n\t\t\t<array>\n\t\t\t\t<string>" + QByteArray::number(id % 9) +
           "</string>\n\t\t\t</array>\n";
    xml += "\t\t</dict>\n";
}

QByteArray generate(int photos, const QByteArray& photoLibrary = defaultLibrary)
{
    QByteArray xml;
    xml.reserve(qsizetype(photos) * 1100);
    xml +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n";
    xml += "\t<key>Application Version</key>\n\t<string>rate benchmark</string>\n";
    xml += "\t<key>Master Image List</key>\n\t<dict>\n";
    for (int id = 1; id <= photos; ++id)
        appendEntry(xml, id, photoLibrary);
    xml += "\t</dict>\n\t<key>List of Albums</key>\n\t<array>\n";
    for (int album = 0; album < albumCount; ++album) {
        xml += "\t\t<dict>\n\t\t\t<key>AlbumId</key>\n\t\t\t<integer>" + QByteArray::number(album + 1) +
               "</integer>\n\t\t\t<key>AlbumName</key>\n\t\t\t<string>Roll " + QByteArray::number(album) +
               "</string>\n\t\t\t<key>KeyList</key>\n\t\t\t<array>\n";
        for (int id = 1 + album; id <= photos; id += albumCount)
            xml += "\t\t\t\t<string>" + QByteArray::number(id) + "</string>\n";
        xml += "\t\t\t</array>\n\t\t</dict>\n";
    }
    xml += "\t</array>\n</dict>\n</plist>\n";
    return xml;
}

// One library per size, made once.
QString library(int photos)
{
    static std::map<int, std::unique_ptr<QTemporaryDir>> folders;
    auto& folder = folders[photos];
    if (!folder) {
        folder = std::make_unique<QTemporaryDir>();
        QFile file(folder->filePath("AlbumData.xml"));
        if (!file.open(QIODevice::WriteOnly) || file.write(generate(photos)) < 0)
            std::abort();
    }
    return folder->filePath("AlbumData.xml");
}

// A photo in the middle of the list: the floor finds it after half the file, the rating walks all of it.
std::string photo(int photos)
{
    return std::to_string(photos / 2 + 1);
}

// One run of each side, in milliseconds of the wall clock (the first rating's check runs on a
// thread of its own, which a processor-time clock would leave out); negative on a failure.
using Run = std::function<double()>;

double timed(const std::function<bool()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    if (!work())
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The floor: read the file, find the photo's entry, write the whole file back atomically.
Run floorRun(const QString& path, const std::string& key)
{
    return [path, needle = "<key>" + QByteArray::fromStdString(key) + "</key>"] {
        return timed([&] {
            const auto bytes = RegularFileReader::read(path);
            return bytes && bytes->indexOf(needle) >= 0 && AtomicFile::write(path, *bytes);
        });
    };
}

// A rating; a first one has the stamp of the earlier rating removed before it, untimed.
Run ratingRun(const QString& path, const std::string& key, bool first)
{
    return [path, key, first, stars = 1]() mutable {
        if (first)
            ValidationStamp::forget(path);
        stars = stars % 5 + 1;
        Error error;
        const double ms = timed([&] { return PhotoRating::apply(path, key, stars, &error); });
        if (ms < 0)
            std::fprintf(stderr, "%s\n", error.localizedDescription().c_str());
        return ms;
    };
}

// The ratings and their floor on one library, the sides taking turns so that a storm of the
// disk's flushes meets them alike: each round is `turns` turns, every turn runs each side once
// (the order rotated from turn to turn), each side's round is the median of its turns, and each
// round gives the ratio of a rating to the floor. One turn first warms up and is discarded.
struct Rounds {
    struct Side {
        const char* name;
        const char* what;
        Run run;
        std::vector<double> ms; // per round
    };
    std::vector<Side> sides; // the floor first
    int photos = 0;
    double megabytes = 0;
};
std::map<int, Rounds> measured;

void BM_RateRounds(benchmark::State& state)
{
    const int photos = int(state.range(0));
    const int rounds = int(state.range(1));
    const int turns = int(state.range(2));
    const QString path = library(photos);
    const std::string key = photo(photos);
    Rounds result;
    result.photos = photos;
    result.megabytes = double(QFileInfo(path).size()) / 1e6;
    result.sides = {
        {"BM_Reference_ReadFindWrite", "read, find, write back atomically", floorRun(path, key), {}},
        {"BM_Rate", "a rating after a rating", ratingRun(path, key, false), {}},
        {"BM_RateFirst", "a rating of a file no rating has checked", ratingRun(path, key, true), {}},
    };
    std::vector<Rounds::Side>& sides = result.sides;
    for (auto _ : state) {
        for (Rounds::Side& side : sides) { // the warm-up
            if (side.run() < 0) {
                state.SkipWithError("a run failed");
                return;
            }
        }
        for (int round = 0; round < rounds; ++round) {
            std::vector<std::vector<double>> times(sides.size());
            for (int turn = 0; turn < turns; ++turn) {
                for (size_t index = 0; index < sides.size(); ++index) {
                    const size_t which = (index + size_t(round * turns + turn)) % sides.size();
                    const double ms = sides[which].run();
                    if (ms < 0) {
                        state.SkipWithError("a run failed");
                        return;
                    }
                    times[which].push_back(ms);
                }
            }
            for (size_t index = 0; index < sides.size(); ++index)
                sides[index].ms.push_back(RoundStatistics::median(times[index]));
        }
    }
    for (size_t index = 1; index < sides.size(); ++index) {
        std::vector<double> ratios;
        for (size_t round = 0; round < sides[index].ms.size(); ++round)
            ratios.push_back(sides[index].ms[round] / sides.front().ms[round]);
        state.counters[std::string(sides[index].name) + "_ratio"] = RoundStatistics::median(ratios);
    }
    // Repetitions add their rounds.
    auto [kept, added] = measured.try_emplace(photos, std::move(result));
    if (!added) {
        for (size_t index = 0; index < sides.size(); ++index)
            kept->second.sides[index].ms.insert(kept->second.sides[index].ms.end(), sides[index].ms.begin(),
                                                sides[index].ms.end());
    }
}

// Each size's sides in rounds of their own: at 100,000 photos one turn is a few hundred milliseconds.
BENCHMARK(BM_RateRounds)->Args({10000, 15, 5})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RateRounds)->Args({100000, 7, 3})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Each side's median and spread over the rounds, and each rating's ratio to the floor: a line
// "ratio NAME / FLOOR = MEDIAN" per ratio, and a RESULT line for the suite's table.
void report(std::FILE* out)
{
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray average = load.open(QIODevice::ReadOnly) ? load.readLine().trimmed() : QByteArray("?");
    for (const auto& [photos, rounds] : measured) {
        const auto& sides = rounds.sides;
        if (sides.front().ms.empty())
            continue;
        std::fprintf(out, "%d photos (%.1f MB), %zu rounds, sides in turn; load average %s\n", photos,
                     rounds.megabytes, sides.front().ms.size(), average.constData());
        for (const auto& side : sides) {
            const auto [low, high] = std::minmax_element(side.ms.begin(), side.ms.end());
            std::fprintf(out, "  %-27s %8.1f ms (%.1f-%.1f)  %s\n", side.name,
                         RoundStatistics::median(side.ms), *low, *high, side.what);
        }
        for (size_t index = 1; index < sides.size(); ++index) {
            std::vector<double> ratios;
            for (size_t round = 0; round < sides[index].ms.size(); ++round)
                ratios.push_back(sides[index].ms[round] / sides.front().ms[round]);
            const double middle = RoundStatistics::median(ratios);
            const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
            std::fprintf(
                out, "ratio %s/%d / %s/%d = %.2f (spread %.2f-%.2f over %zu rounds; goal at most 1.5: %s)\n",
                sides[index].name, photos, sides.front().name, photos, middle, *low, *high, ratios.size(),
                *high <= 1.5    ? "met"
                : middle <= 1.5 ? "median met, spread crosses"
                                : "MISSED");
            std::fprintf(out, "RESULT rate-inprocess %s/%d ratio=%.3f low=%.3f high=%.3f goal=1.5\n",
                         sides[index].name, photos, middle, *low, *high);
        }
    }
}
} // namespace

// Whole processes, as the program's rating script starts them: the real `zuzire-library rate`
// (the photo's XMP sidecar written first, then the library) against RateFloor, a plain program
// doing the floor's work in a fresh process. Sides in turn, the order rotated every round.
//
// Usage: RateBench make FOLDER PHOTOS
//        RateBench process ZUZIRE_LIBRARY RATE_FLOOR FOLDER PHOTOS ROUNDS
//        RateBench phases ALBUM_DATA_FILE KEY ROUNDS
namespace {
QString albumDataIn(const QString& folder)
{
    return QDir(folder).filePath("AlbumData.xml");
}

// The photo rated with its sidecar: its file exists (a few bytes; the sidecar writer never opens it).
QString photoFile(const QString& folder, int id)
{
    return QDir(folder).filePath(QStringLiteral("Masters/2012/Roll %1/DSC_%2.JPG").arg(id / 40).arg(id));
}

int make(const QString& folder, int photos)
{
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    const int rated = photos / 2 + 1;
    if (!QDir().mkpath(QFileInfo(photoFile(absolute, rated)).absolutePath()) ||
        !AtomicFile::write(photoFile(absolute, rated), "not decoded") ||
        !AtomicFile::write(albumDataIn(absolute), generate(photos, QFile::encodeName(absolute)))) {
        std::fprintf(stderr, "cannot make the library in %s\n", qPrintable(absolute));
        return 1;
    }
    std::printf("%s\n", qPrintable(albumDataIn(absolute)));
    return 0;
}

// Milliseconds from starting `arguments` to its exit, its output discarded; negative on a failure.
double timedRun(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s ... failed (status %d)\n", arguments.front().c_str(), status);
        return -1;
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Milliseconds of processor time all the process's threads have used so far.
double processCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Where a first rating's time goes, on one thread's clock (so other processes' load counts less):
// the read, the one streaming pass that checks and finds, the one reader's parse and its check
// that the pass replaces, the digest for the stamp.
int phases(const QString& path, const std::string& key, int rounds)
{
    std::map<std::string, std::vector<double>> times;
    for (int round = 0; round < rounds; ++round) {
        double start = threadCpuMilliseconds();
        const auto bytes = RegularFileReader::read(path);
        times["read"].push_back(threadCpuMilliseconds() - start);
        if (!bytes)
            return 1;
        // Where the photo's key stands written the usual way: the rating's guess, and the floor's find.
        const std::string plain = "<key>" + key + "</key>";
        start = threadCpuMilliseconds();
        if (!memmem(bytes->constData(), size_t(bytes->size()), plain.data(), plain.size()))
            return 1;
        times["guess (the key's text)"].push_back(threadCpuMilliseconds() - start);
        start = threadCpuMilliseconds();
        const double allThreads = processCpuMilliseconds();
        const auto wall = std::chrono::steady_clock::now();
        const auto found = AlbumDataPhotoSearch::search(*bytes, key);
        times["search (check, find, layout)"].push_back(threadCpuMilliseconds() - start);
        // Large contents are walked in two halves at once: the second half's thread counts here.
        times["search, all its threads"].push_back(processCpuMilliseconds() - allThreads);
        times["search, wall clock"].push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count());
        if (!found || found->entries.size() != 1)
            return 1;
        std::string copy(bytes->constData(), size_t(bytes->size()));
        start = threadCpuMilliseconds();
        pugi::xml_document document;
        const pugi::xml_node root =
            XmlPlistBuilder::parseInPlace(document, copy.data(), copy.size(), nullptr);
        times["one reader: parse"].push_back(threadCpuMilliseconds() - start);
        start = threadCpuMilliseconds();
        if (!root || !XmlPlistBuilder::check(root).empty())
            return 1;
        times["one reader: check"].push_back(threadCpuMilliseconds() - start);
        start = threadCpuMilliseconds();
        const ContentDigest digest(*bytes);
        times["digest"].push_back(threadCpuMilliseconds() - start);
    }
    std::printf("%s: %.1f MB, thread CPU time, median of %d (lowest-highest)\n", qPrintable(path),
                double(QFileInfo(path).size()) / 1e6, rounds);
    for (auto& [name, values] : times) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        std::printf("  %-30s %7.1f ms (%.1f-%.1f)\n", name.c_str(), RoundStatistics::median(values), *low,
                    *high);
    }
    return 0;
}

int process(const std::string& tool, const std::string& floor, const QString& folder, int photos, int rounds)
{
    const QString path = albumDataIn(QFileInfo(folder).absoluteFilePath());
    if (!QFileInfo::exists(path) && make(folder, photos) != 0)
        return 1;
    // A configuration folder of its own, so the user's settings play no part.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(QDir(folder).filePath("config")));
    const std::string library = folder.toStdString();
    const std::string withPhoto = std::to_string(photos / 2 + 1);
    const std::string withoutPhoto = std::to_string(photos / 2 + 2);
    struct Side {
        const char* name;
        const char* what;
        bool forgetStamp;
        std::vector<std::string> arguments; // the stars last, changed every run
        std::vector<double> ms;
    };
    std::vector<Side> sides = {
        {"floor",
         "RateFloor: read, find, write back atomically",
         false,
         {floor, path.toStdString(), withPhoto},
         {}},
        {"first",
         "rate, the first rating of the file (sidecar, then a full check)",
         true,
         {tool, "rate", withPhoto, "1", "--library", library},
         {}},
        {"again",
         "rate after a rating (sidecar, then the library)",
         false,
         {tool, "rate", withPhoto, "1", "--library", library},
         {}},
        {"again-no-sidecar",
         "rate after a rating, the photo's file missing (no sidecar)",
         false,
         {tool, "rate", withoutPhoto, "1", "--library", library},
         {}},
        {"start", "zuzire-library --version: the tool's start and exit", false, {tool, "--version"}, {}},
    };
    int stars = 0;
    for (int round = -1; round < rounds; ++round) { // round -1 warms up and is discarded
        for (size_t index = 0; index < sides.size(); ++index) {
            Side& side = sides[(index + size_t(std::max(round, 0))) % sides.size()];
            if (side.arguments.size() > 3)
                side.arguments[3] = std::to_string(stars++ % 5 + 1);
            if (side.forgetStamp)
                ValidationStamp::forget(path);
            const double ms = timedRun(side.arguments);
            if (ms < 0)
                return 1;
            if (round >= 0)
                side.ms.push_back(ms);
        }
    }
    const double megabytes = double(QFileInfo(path).size()) / 1e6;
    std::printf("%s: %.1f MB, %d rounds of whole processes, sides in turn\n", qPrintable(path), megabytes,
                rounds);
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("  load average: %s", load.readLine().constData());
    for (const Side& side : sides) {
        const auto [low, high] = std::minmax_element(side.ms.begin(), side.ms.end());
        std::printf("  %-17s %8.1f ms (%.1f-%.1f)  %s\n", side.name, RoundStatistics::median(side.ms), *low,
                    *high, side.what);
    }
    const std::vector<double>& reference = sides.front().ms;
    for (size_t index = 1; index < sides.size(); ++index) {
        const Side& side = sides[index];
        std::vector<double> ratios;
        for (size_t round = 0; round < side.ms.size(); ++round)
            ratios.push_back(side.ms[round] / reference[round]);
        const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
        const bool goal = side.forgetStamp || std::string(side.name) == "again";
        std::printf("  ratio %s/floor: median %.2f, spread %.2f-%.2f%s\n", side.name,
                    RoundStatistics::median(ratios), *low, *high,
                    !goal          ? " (no goal: shows a cost)"
                    : *high <= 1.5 ? " (goal at most 1.5: met)"
                    : RoundStatistics::median(ratios) <= 1.5
                        ? " (goal at most 1.5: median met, spread crosses)"
                        : " (goal at most 1.5: MISSED)");
        if (goal)
            std::printf("RESULT rate-process %s/%d ratio=%.3f low=%.3f high=%.3f goal=1.5\n", side.name,
                        photos, RoundStatistics::median(ratios), *low, *high);
    }
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() == 4 && arguments.at(1) == "make")
        return make(arguments.at(2), arguments.at(3).toInt());
    if (arguments.size() == 5 && arguments.at(1) == "phases")
        return phases(arguments.at(2), arguments.at(3).toStdString(), arguments.at(4).toInt());
    if (arguments.size() == 7 && arguments.at(1) == "process")
        return process(arguments.at(2).toStdString(), arguments.at(3).toStdString(), arguments.at(4),
                       arguments.at(5).toInt(), arguments.at(6).toInt());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    report(stdout);
    return 0;
}
