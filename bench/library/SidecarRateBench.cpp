#include "RoundStatistics.h"
#include "platform/foundation/AtomicFile.h"
#include "tools/library/PhotoRating.h"
#include "tools/library/RatingElsewhere.h"
#include "tools/library/XmpRating.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

// A rating of a photo whose sidecar is large: a long edit history (thousands of rdf:li
// structures) and a rating, as a photo edited for years leaves it. For each size, rounds in
// which the sides take turns:
//   rate      what `zuzire-library rate` does: the sidecar prepared before the library's lock,
//             then the library rated under the lock, the sidecar written there (PhotoRating::apply)
//   locked    the part of `rate` under the library's lock
//   unprepared  the locked part where the sidecar is parsed under the lock too (the older way)
//   floor     writing the new sidecar's bytes atomically, which any rating under the lock must do
// Goals: `rate` takes time in proportion to the sidecar's size (its time per megabyte at the
// largest size over that at 4 MB, at most 1.5), a 16 MB sidecar's under 1 s, and the lock is held
// for little more than the floor (at most 1.5 times it from 16 MB on).
//
// Usage: SidecarRateBench [ROUNDS [MEGABYTES...]]   (default 5 rounds of 1 4 16 60 MB)
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

QByteArray libraryOf(const QString& photo)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>Master Image List</key>\n\t<dict>\n\t\t<key>1</key>\n\t\t<dict>\n"
           "\t\t\t<key>MediaType</key>\n\t\t\t<string>Image</string>\n"
           "\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n"
           "\t\t\t<key>RatingElsewhere</key>\n\t\t\t<integer>0</integer>\n"
           "\t\t\t<key>ImagePath</key>\n\t\t\t<string>" +
           photo.toUtf8() + "</string>\n\t\t</dict>\n\t</dict>\n</dict>\n</plist>\n";
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
    std::vector<double> rate, locked, unprepared, floor;
};

// One size's rounds; false when a rating fails.
bool measure(qsizetype megabytes, int rounds, Sides& sides)
{
    QTemporaryDir folder;
    const QString photo = folder.filePath(QStringLiteral("IMG_0001.JPG"));
    const QString sidecar = photo + QStringLiteral(".xmp");
    const QString library = folder.filePath(QStringLiteral("AlbumData.xml"));
    if (!save(photo, "photo") || !save(sidecar, sidecarOf(megabytes)) || !save(library, libraryOf(photo)))
        return false;
    const RatingElsewhere::Settings settings;
    bool ok = true;
    // The rating changes every time, so every turn writes.
    int stars = 1;
    const auto rate = [&](bool ahead) {
        stars = stars % 5 + 1;
        const auto prepared = ahead ? RatingElsewhere::prepare(library, "1", stars, settings) : std::nullopt;
        return millisecondsOf([&] {
            Error error;
            ok = PhotoRating::apply(library, "1", stars, &error,
                                    [&](const QString& path) {
                                        return RatingElsewhere::write(path, stars, settings, &error, nullptr,
                                                                      prepared);
                                    }) &&
                 ok;
        });
    };
    for (int round = 0; round <= rounds; ++round) {
        double locked = 0;
        const double whole = millisecondsOf([&] { locked = rate(true); });
        const double unprepared = rate(false);
        QFile written(sidecar);
        const QByteArray bytes = written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
        const double floor = millisecondsOf([&] { ok = AtomicFile::write(sidecar, bytes) && ok; });
        if (round == 0)
            continue; // a warm-up
        sides.rate.push_back(whole);
        sides.locked.push_back(locked);
        sides.unprepared.push_back(unprepared);
        sides.floor.push_back(floor);
    }
    return ok;
}

void print(const char* name, qsizetype megabytes, const Spread& spread, const char* goal)
{
    std::printf("RESULT %s %lldMB ratio=%.3f low=%.3f high=%.3f goal=%s\n", name, static_cast<long long>(megabytes),
                spread.median, spread.low, spread.high, goal);
}
} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<qsizetype> sizes;
    for (int index = 2; index < argc; ++index)
        sizes.push_back(std::max(1, std::atoi(argv[index])));
    if (sizes.empty())
        sizes = {1, 4, 16, 60};
    std::vector<Sides> measured(sizes.size());
    for (size_t index = 0; index < sizes.size(); ++index) {
        if (!measure(sizes[index], rounds, measured[index])) {
            std::fprintf(stderr, "a rating with a %lld MB sidecar failed\n", static_cast<long long>(sizes[index]));
            return 1;
        }
        const Sides& sides = measured[index];
        std::printf("%lld MB sidecar, %d rounds (median, lowest-highest ms): rate %.1f (%.1f-%.1f), locked %.1f, "
                    "unprepared %.1f, floor %.1f\n",
                    static_cast<long long>(sizes[index]), rounds, spreadOf(sides.rate).median,
                    spreadOf(sides.rate).low, spreadOf(sides.rate).high, spreadOf(sides.locked).median,
                    spreadOf(sides.unprepared).median, spreadOf(sides.floor).median);
    }
    const auto reference = std::find(sizes.begin(), sizes.end(), qsizetype(4));
    for (size_t index = 0; index < sizes.size(); ++index) {
        const Sides& sides = measured[index];
        print("sidecar-rate-ms", sizes[index], spreadOf(sides.rate), sizes[index] == 16 ? "1000" : "-");
        std::vector<double> lockRatios;
        for (size_t round = 0; round < sides.rate.size(); ++round)
            lockRatios.push_back(sides.locked[round] / sides.floor[round]);
        print("sidecar-lock/floor", sizes[index], spreadOf(lockRatios), sizes[index] >= 16 ? "1.5" : "-");
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
