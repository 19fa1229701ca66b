#include "RatioReporter.h"
#include "platform/foundation/AtomicFile.h"
#include "tools/library/PhotoRating.h"
#include "tools/library/RegularFileReader.h"
#include "tools/library/ValidationStamp.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

// `zuzire-library rate` on generated libraries of 10,000 and 100,000 photos, against the floor of
// any rating write that keeps the file whole: read the file, find the photo's entry, write the
// whole file back atomically. BM_Rate is a rating after another (the usual case: a pass confirms
// several photos one after the other); BM_RateFirst is a rating of a file no rating has checked
// yet, which parses it in full with the program's reader.
namespace {
constexpr int albumCount = 200;

// An entry as a photo library writes it, some with keys its importer adds and some without.
void appendEntry(QByteArray& xml, int id)
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
    xml += "\t\t\t<key>ImagePath</key>\n\t\t\t<string>/home/ana/Pictures/Photo Library/Masters/2012/Roll " +
           roll + "/DSC_" + n + ".JPG</string>\n";
    xml +=
        "\t\t\t<key>ThumbPath</key>\n\t\t\t<string>/home/ana/Pictures/Photo Library/Thumbnails/2012/Roll " +
        roll + "/DSC_" + n + ".jpg</string>\n";
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

QByteArray generate(int photos)
{
    QByteArray xml;
    xml.reserve(qsizetype(photos) * 1100);
    xml +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n";
    xml += "\t<key>Application Version</key>\n\t<string>rate benchmark</string>\n";
    xml += "\t<key>Master Image List</key>\n\t<dict>\n";
    for (int id = 1; id <= photos; ++id)
        appendEntry(xml, id);
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

void BM_Reference_ReadFindWrite(benchmark::State& state)
{
    const QString path = library(int(state.range(0)));
    const QByteArray needle = "<key>" + QByteArray::fromStdString(photo(int(state.range(0)))) + "</key>";
    for (auto _ : state) {
        const auto bytes = RegularFileReader::read(path);
        if (!bytes || bytes->indexOf(needle) < 0 || !AtomicFile::write(path, *bytes)) {
            state.SkipWithError("the reference write failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * QFile(path).size());
}

void BM_Rate(benchmark::State& state)
{
    const QString path = library(int(state.range(0)));
    const std::string key = photo(int(state.range(0)));
    int stars = 1;
    PhotoRating::apply(path, key, stars);
    for (auto _ : state) {
        stars = stars % 5 + 1;
        Error error;
        if (!PhotoRating::apply(path, key, stars, &error)) {
            state.SkipWithError(error.localizedDescription().c_str());
            return;
        }
    }
}

void BM_RateFirst(benchmark::State& state)
{
    const QString path = library(int(state.range(0)));
    const std::string key = photo(int(state.range(0)));
    int stars = 1;
    for (auto _ : state) {
        state.PauseTiming();
        ValidationStamp::forget(path);
        state.ResumeTiming();
        stars = stars % 5 + 1;
        Error error;
        if (!PhotoRating::apply(path, key, stars, &error)) {
            state.SkipWithError(error.localizedDescription().c_str());
            return;
        }
    }
}

// Each rating right after its floor on the same file, so both meet the disk in the same state
// (the write-back of a 100 MB file still running slows whatever comes next).
BENCHMARK(BM_Reference_ReadFindWrite)->Arg(10000)->MinTime(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rate)->Arg(10000)->MinTime(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_ReadFindWrite)->Arg(100000)->MinTime(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rate)->Arg(100000)->MinTime(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RateFirst)->Arg(10000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RateFirst)->Arg(100000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const auto options = RatioReporter::outputOptions(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(options, {{"BM_Rate/10000/min_time:2.000/real_time",
                                      "BM_Reference_ReadFindWrite/10000/min_time:2.000/real_time", 1.5},
                                     {"BM_Rate/100000/min_time:5.000/real_time",
                                      "BM_Reference_ReadFindWrite/100000/min_time:5.000/real_time", 1.5},
                                     {"BM_RateFirst/10000/iterations:3/real_time",
                                      "BM_Reference_ReadFindWrite/10000/min_time:2.000/real_time", 1.5},
                                     {"BM_RateFirst/100000/iterations:1/real_time",
                                      "BM_Reference_ReadFindWrite/100000/min_time:5.000/real_time", 1.5}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
