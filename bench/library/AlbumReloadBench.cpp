#include "RatioReporter.h"
#include "library/AlbumInfo.h"
#include "platform/foundation/Preferences.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <cstring>
#include <pugixml.hpp>
#include <set>
#include <unordered_map>

// Reloading a generated library of 10,000 and 100,000 photos in 200 albums, against pugixml's
// own parse of the same file with the same filtering written directly on its tree.
namespace {
constexpr int albumCount = 200;

void appendEntry(QByteArray& xml, int id)
{
    const QByteArray n = QByteArray::number(id);
    const bool movie = id % 20 == 0;
    const int rating = id % 5 < 2 ? 1 + id % 5 * 2 : 0;
    xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n";
    xml += "\t\t\t<key>Caption</key>\n\t\t\t<string>IMG_" + n + "</string>\n";
    xml += "\t\t\t<key>Comment</key>\n\t\t\t<string>Comment on photo " + n + " &amp; friends</string>\n";
    xml += "\t\t\t<key>GUID</key>\n\t\t\t<string>6F9619FF-8B86-D011-B42D-" + n.rightJustified(12, '0') +
           "</string>\n";
    xml += "\t\t\t<key>Roll</key>\n\t\t\t<integer>" + QByteArray::number(id / 50) + "</integer>\n";
    xml += "\t\t\t<key>Rating</key>\n\t\t\t<integer>" + QByteArray::number(rating) + "</integer>\n";
    xml += "\t\t\t<key>ImagePath</key>\n\t\t\t<string>/home/someone/Pictures/Library/Originals/2009/Roll " +
           QByteArray::number(id / 50) + "/IMG_" + n + ".JPG</string>\n";
    xml +=
        "\t\t\t<key>OriginalPath</key>\n\t\t\t<string>/home/someone/Pictures/Library/Originals/2009/Roll " +
        QByteArray::number(id / 50) + "/IMG_" + n + ".JPG</string>\n";
    xml += "\t\t\t<key>ThumbPath</key>\n\t\t\t<string>/home/someone/Pictures/Library/Data/2009/Roll " +
           QByteArray::number(id / 50) + "/IMG_" + n + ".jpg</string>\n";
    xml += QByteArray("\t\t\t<key>MediaType</key>\n\t\t\t<string>") + (movie ? "Movie" : "Image") +
           "</string>\n";
    xml += "\t\t\t<key>ImageType</key>\n\t\t\t<string>JPEG</string>\n";
    xml += "\t\t\t<key>Aspect Ratio</key>\n\t\t\t<real>1.5</real>\n";
    xml += "\t\t\t<key>DateAsTimerInterval</key>\n\t\t\t<real>" + QByteArray::number(250000000.0 + id * 61) +
           "</real>\n";
    xml += "\t\t\t<key>DateAsTimerIntervalGMT</key>\n\t\t\t<real>" +
           QByteArray::number(250003600.0 + id * 61) + "</real>\n";
    xml += "\t\t\t<key>ModDateAsTimerInterval</key>\n\t\t\t<real>" + QByteArray::number(260000000.0 + id) +
           "</real>\n";
    xml += "\t\t\t<key>MetaModDateAsTimerInterval</key>\n\t\t\t<real>" +
           QByteArray::number(260000500.0 + id) + "</real>\n";
    xml += "\t\t\t<key>Latitude</key>\n\t\t\t<real>47.3769</real>\n\t\t\t<key>Longitude</"
           "key>\n\t\t\t<real>8.5417</real>\n";
    xml += "\t\t\t<key>Keywords</key>\n\t\t\t<array>\n\t\t\t\t<string>1</string>\n\t\t\t\t<string>7</"
           "string>\n\t\t\t</array>\n";
    xml += "\t\t</dict>\n";
}

QByteArray generate(int photos)
{
    QByteArray xml;
    xml.reserve(qsizetype(photos) * 1400);
    xml +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n";
    xml += "\t<key>Application Version</key>\n\t<string>benchmark</string>\n";
    xml += "\t<key>List of Albums</key>\n\t<array>\n";
    for (int album = 0; album < albumCount; ++album) {
        xml += "\t\t<dict>\n\t\t\t<key>AlbumId</key>\n\t\t\t<integer>" + QByteArray::number(album) +
               "</integer>\n";
        xml += "\t\t\t<key>AlbumName</key>\n\t\t\t<string>Album " + QByteArray::number(album) + "</string>\n";
        xml += "\t\t\t<key>KeyList</key>\n\t\t\t<array>\n";
        for (int id = 1 + album; id <= photos; id += albumCount)
            xml += "\t\t\t\t<string>" + QByteArray::number(id) + "</string>\n";
        xml += "\t\t\t</array>\n\t\t</dict>\n";
    }
    xml += "\t</array>\n\t<key>Master Image List</key>\n\t<dict>\n";
    for (int id = 1; id <= photos; ++id)
        appendEntry(xml, id);
    xml += "\t</dict>\n</dict>\n</plist>\n";
    return xml;
}

struct Library {
    QTemporaryDir folder;
    QString path;
};

Library& library(int photos)
{
    static std::map<int, std::unique_ptr<Library>> libraries;
    auto& slot = libraries[photos];
    if (!slot) {
        slot = std::make_unique<Library>();
        slot->path = slot->folder.filePath("AlbumData.xml");
        QFile file(slot->path);
        file.open(QIODevice::WriteOnly);
        file.write(generate(photos));
    }
    Preferences::setValue(
        "iPhotoRecentDatabases",
        PlistValue::array({PlistValue::string(QUrl::fromLocalFile(slot->path).toString().toStdString())}),
        Preferences::libraryDomain);
    return *slot;
}

// The value after `key` in a <dict>.
pugi::xml_node valueFor(const pugi::xml_node& dict, const char* key)
{
    for (pugi::xml_node child = dict.first_child(); child; child = child.next_sibling().next_sibling())
        if (std::strcmp(child.child_value(), key) == 0)
            return child.next_sibling();
    return {};
}

void BM_Reference_PugixmlParseAndFilter(benchmark::State& state)
{
    const Library& lib = library(int(state.range(0)));
    const QByteArray path = QFile::encodeName(lib.path);
    const std::set<std::string, std::less<>> rated;
    size_t kept = 0;
    for (auto _ : state) {
        pugi::xml_document document;
        document.load_file(path.constData(), pugi::parse_default | pugi::parse_ws_pcdata_single);
        const pugi::xml_node root = document.document_element().first_child();
        std::unordered_map<std::string_view, pugi::xml_node> entries;
        const pugi::xml_node master = valueFor(root, "Master Image List");
        for (pugi::xml_node key = master.first_child(); key; key = key.next_sibling().next_sibling())
            entries.emplace(key.child_value(), key.next_sibling());
        std::vector<std::vector<pugi::xml_node>> albums;
        const pugi::xml_node list = valueFor(root, "List of Albums");
        for (pugi::xml_node album = list.first_child(); album; album = album.next_sibling()) {
            std::vector<pugi::xml_node> items;
            for (pugi::xml_node key : valueFor(album, "KeyList").children()) {
                const auto found = entries.find(key.child_value());
                if (found == entries.end())
                    continue;
                const pugi::xml_node entry = found->second;
                if (std::strcmp(valueFor(entry, "MediaType").child_value(), "Image") != 0 ||
                    std::atoi(valueFor(entry, "Rating").child_value()) != 0 ||
                    rated.contains(valueFor(entry, "GUID").child_value()))
                    continue;
                items.push_back(entry);
            }
            if (!items.empty())
                albums.push_back(std::move(items));
        }
        kept = albums.size();
        benchmark::DoNotOptimize(albums);
    }
    state.counters["albums"] = double(kept);
}

void BM_AlbumInfoReload(benchmark::State& state)
{
    library(int(state.range(0)));
    AlbumInfo albumInfo;
    size_t kept = 0;
    for (auto _ : state) {
        Error error;
        auto albums = albumInfo.reload(&error);
        if (!albums) {
            state.SkipWithError(error.description().c_str());
            return;
        }
        kept = albums->size();
        // The records outlive the reload in the program (the controllers hold them), so their
        // release is not part of it.
        state.PauseTiming();
        albums.reset();
        state.ResumeTiming();
    }
    state.counters["albums"] = double(kept);
}

BENCHMARK(BM_Reference_PugixmlParseAndFilter)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlbumInfoReload)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_AlbumInfoReload/10000", "BM_Reference_PugixmlParseAndFilter/10000", 1.5},
                            {"BM_AlbumInfoReload/100000", "BM_Reference_PugixmlParseAndFilter/100000", 1.5}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
