#include "RoundStatistics.h"
#include "platform/foundation/AtomicFile.h"
#include "tools/library/PhotoRating.h"
#include "tools/library/RatingElsewhere.h"
#include "tools/library/XmpRating.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// A rating of a photo whose sidecar is large: a long edit history (thousands of rdf:li
// structures) and a rating, as a photo edited for years leaves it. For each size, rounds in
// which the sides take turns, each round on a photo of its own:
//   settled   the part of `rate` under the library's lock where the sidecar was last changed
//             seconds before, as usual: its file, size and times tell it is unchanged
//   rate      what `zuzire-library rate` does: the sidecar prepared before the library's lock,
//             then the library rated under the lock, the sidecar written there (PhotoRating::apply);
//             here the sidecar was written just before, so under the lock its bytes are compared
//   locked    the part of `rate` under the library's lock
//   unprepared  the locked part where the sidecar is parsed under the lock too (the older way)
//   floor     writing the new sidecar's bytes atomically, which any rating under the lock must do
//   library   writing the library's bytes atomically, which it must do too (shown, not judged)
// Goals: `rate` takes time in proportion to the sidecar's size (its time per megabyte at the
// largest size over that at 4 MB, at most 1.5), a 16 MB sidecar's under 1 s, and the lock is held
// for little more than the floor (at most 1.5 times it from 16 MB on).
//
// Usage: SidecarRateBench [ROUNDS [MEGABYTES...]]   (default 5 rounds of 1 4 16 60 MB)
//        SidecarRateBench make FOLDER MEGABYTES      a library of one photo (key 1) with such a
//                                                    sidecar, to time `zuzire-library rate
//                                                    --library FOLDER 1 STARS` in fresh processes
namespace {
double millisecondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

QByteArray sidecarOf(qsizetype megabytes)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 4.4.0-Exiv2\">\n"
                     " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                     "  <rdf:Description rdf:about=\"\"\n"
                     "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
                     "    xmlns:darktable=\"http://darktable.sf.net/\"\n"
                     "   xmp:Rating=\"1\"\n"
                     "   darktable:history_end=\"0\">\n"
                     "   <darktable:history>\n"
                     "    <rdf:Seq>\n";
    const qsizetype target = megabytes << 20;
    xml.reserve(target + 4096);
    for (int step = 0; xml.size() < target - 200; ++step) {
        xml += "     <rdf:li darktable:num=\"" + QByteArray::number(step) +
               "\" darktable:operation=\"exposure\" darktable:enabled=\"1\" darktable:modversion=\"6\"\n"
               "      darktable:params=\"" +
               QByteArray::number(0x9E3779B97F4A7C15ull * uint64_t(step + 1), 16).repeated(4) +
               "\" darktable:multi_name=\"\" darktable:multi_priority=\"0\"/>\n";
    }
    return xml + "    </rdf:Seq>\n   </darktable:history>\n  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n";
}

bool save(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Photo i's key is i + 1.
QByteArray libraryOf(const QStringList& photos)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                     "\t<key>Master Image List</key>\n\t<dict>\n";
    for (qsizetype index = 0; index < photos.size(); ++index)
        xml += "\t\t<key>" + QByteArray::number(index + 1) +
               "</key>\n\t\t<dict>\n"
               "\t\t\t<key>MediaType</key>\n\t\t\t<string>Image</string>\n"
               "\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n"
               "\t\t\t<key>RatingElsewhere</key>\n\t\t\t<integer>0</integer>\n"
               "\t\t\t<key>ImagePath</key>\n\t\t\t<string>" +
               photos.at(index).toUtf8() + "</string>\n\t\t</dict>\n";
    return xml + "\t</dict>\n</dict>\n</plist>\n";
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Spread {
    double median, low, high;
};

Spread spreadOf(const std::vector<double>& values)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return {RoundStatistics::median(values), *low, *high};
}

struct Sides {
    std::vector<double> settled, rate, locked, unprepared, floor, library;
};

// One size's rounds; false when a rating fails.
bool measure(qsizetype megabytes, int rounds, Sides& sides)
{
    QTemporaryDir folder;
    QStringList photos;
    const QByteArray sidecarBytes = sidecarOf(megabytes);
    for (int round = 0; round <= rounds; ++round) {
        photos.append(folder.filePath(QStringLiteral("IMG_%1.JPG").arg(round)));
        if (!save(photos.back(), "photo") || !save(photos.back() + QStringLiteral(".xmp"), sidecarBytes))
            return false;
    }
    const QString library = folder.filePath(QStringLiteral("AlbumData.xml"));
    if (!save(library, libraryOf(photos)))
        return false;
    // Past the time within which a change could keep a sidecar's times.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const RatingElsewhere::Settings settings;
    bool ok = true;
    // The rating changes every time, so every turn writes.
    int stars = 1;
    std::string key;
    const auto rate = [&](bool ahead) {
        stars = stars % 5 + 1;
        const auto prepared = ahead ? RatingElsewhere::prepare(library, key, stars, settings) : std::nullopt;
        return millisecondsOf([&] {
            Error error;
            ok = PhotoRating::apply(library, key, stars, &error,
                                    [&](const QString& path) {
                                        return RatingElsewhere::write(path, stars, settings, &error, nullptr,
                                                                      prepared);
                                    }) &&
                 ok;
        });
    };
    for (int round = 0; round <= rounds; ++round) {
        key = std::to_string(round + 1);
        const QString sidecar = photos.at(round) + QStringLiteral(".xmp");
        const double settled = rate(true);
        double locked = 0;
        const double whole = millisecondsOf([&] { locked = rate(true); });
        const double unprepared = rate(false);
        const QByteArray bytes = contentsOf(sidecar);
        const double floor = millisecondsOf([&] { ok = AtomicFile::write(sidecar, bytes) && ok; });
        const QByteArray libraryBytes = contentsOf(library);
        const double libraryFloor =
            millisecondsOf([&] { ok = AtomicFile::write(library, libraryBytes) && ok; });
        if (round == 0)
            continue; // a warm-up
        sides.settled.push_back(settled);
        sides.library.push_back(libraryFloor);
        sides.rate.push_back(whole);
        sides.locked.push_back(locked);
        sides.unprepared.push_back(unprepared);
        sides.floor.push_back(floor);
    }
    return ok;
}

void print(const char* name, qsizetype megabytes, const Spread& spread, const char* goal)
{
    std::printf("RESULT %s %lldMB ratio=%.3f low=%.3f high=%.3f goal=%s\n", name,
                static_cast<long long>(megabytes), spread.median, spread.low, spread.high, goal);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "make") {
        const QString folder = QString::fromLocal8Bit(argv[2]);
        const QString photo = QDir(folder).absoluteFilePath(QStringLiteral("IMG_0001.JPG"));
        const bool made = QDir().mkpath(folder) && save(photo, "photo") &&
                          save(photo + QStringLiteral(".xmp"), sidecarOf(std::max(1, std::atoi(argv[3])))) &&
                          save(QDir(folder).filePath(QStringLiteral("AlbumData.xml")), libraryOf({photo}));
        return made ? 0 : 1;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<qsizetype> sizes;
    for (int index = 2; index < argc; ++index)
        sizes.push_back(std::max(1, std::atoi(argv[index])));
    if (sizes.empty())
        sizes = {1, 4, 16, 60};
    std::vector<Sides> measured(sizes.size());
    for (size_t index = 0; index < sizes.size(); ++index) {
        if (!measure(sizes[index], rounds, measured[index])) {
            std::fprintf(stderr, "a rating with a %lld MB sidecar failed\n",
                         static_cast<long long>(sizes[index]));
            return 1;
        }
        const Sides& sides = measured[index];
        std::printf(
            "%lld MB sidecar, %d rounds (median, lowest-highest ms): rate %.1f (%.1f-%.1f), locked %.1f "
            "(%.1f-%.1f), settled %.1f, unprepared %.1f, floor %.1f (%.1f-%.1f), library %.1f\n",
            static_cast<long long>(sizes[index]), rounds, spreadOf(sides.rate).median,
            spreadOf(sides.rate).low, spreadOf(sides.rate).high, spreadOf(sides.locked).median,
            spreadOf(sides.locked).low, spreadOf(sides.locked).high, spreadOf(sides.settled).median,
            spreadOf(sides.unprepared).median, spreadOf(sides.floor).median, spreadOf(sides.floor).low,
            spreadOf(sides.floor).high, spreadOf(sides.library).median);
    }
    const auto reference = std::find(sizes.begin(), sizes.end(), qsizetype(4));
    for (size_t index = 0; index < sizes.size(); ++index) {
        const Sides& sides = measured[index];
        print("sidecar-rate-ms", sizes[index], spreadOf(sides.rate), sizes[index] == 16 ? "1000" : "-");
        std::vector<double> lockRatios, settledRatios;
        for (size_t round = 0; round < sides.rate.size(); ++round) {
            lockRatios.push_back(sides.locked[round] / sides.floor[round]);
            settledRatios.push_back(sides.settled[round] / sides.floor[round]);
        }
        print("sidecar-lock/floor", sizes[index], spreadOf(lockRatios), sizes[index] >= 16 ? "1.5" : "-");
        print("sidecar-settled-lock/floor", sizes[index], spreadOf(settledRatios),
              sizes[index] >= 16 ? "1.5" : "-");
        if (reference == sizes.end() || sizes[index] <= 4)
            continue;
        // Per megabyte against 4 MB, round by round.
        const Sides& base = measured[size_t(reference - sizes.begin())];
        std::vector<double> perMegabyte;
        for (size_t round = 0; round < sides.rate.size(); ++round)
            perMegabyte.push_back((sides.rate[round] / double(sizes[index])) / (base.rate[round] / 4.0));
        print("sidecar-linearity-vs-4MB", sizes[index], spreadOf(perMegabyte), "1.5");
    }
    return 0;
}
