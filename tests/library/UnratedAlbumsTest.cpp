#include "library/AlbumInfo.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/LibraryFolderTest.h"
#include "support/SampleLibrary.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

// Which photos a reload hands on, through every reader: the tree (what a binary file is read
// into), a binary file and an XML file read by AlbumInfo::reload(). Every expected photo key is
// written out here; nothing expected is computed by the code under test.

namespace {
using Keys = std::vector<std::string>;

using namespace SampleLibrary;

// The record a photo is handed on as, spelled out: its entry plus the key it stands under.
PlistPtr record(const PlistPtr& entry, const std::string& key)
{
    PlistDictionary fields = *entry->asDictionary();
    fields.insert_or_assign("qm_ItemKey", PlistValue::string(key));
    return PlistValue::dictionary(std::move(fields));
}

PlistPtr albumRecord(const std::string& name, PlistArray items)
{
    return PlistValue::dictionary(
        {{"name", PlistValue::string(name)}, {"items", PlistValue::array(std::move(items))}});
}

// "Album: key key; Album: key" — names and item keys of a result, for messages that read well.
std::string summary(const PlistArray& albums)
{
    std::string text;
    for (const PlistPtr& albumRecord : albums) {
        if (!text.empty())
            text += "; ";
        text += *albumRecord->objectForKey("name")->asString() + ":";
        for (const PlistPtr& item : *albumRecord->objectForKey("items")->asArray())
            text += " " + *item->objectForKey("qm_ItemKey")->asString();
    }
    return text;
}

// One odd "Rating" value, as written in an XML file and as it stands in a tree.
struct RatingCase {
    std::string key;
    // The element; empty for a photo without a rating.
    std::string xml;
    PlistPtr tree;
};

std::vector<RatingCase> ratingCases()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    return {
        {"absent", "", nullptr},
        {"zero", "<integer>0</integer>", PlistValue::integer(0)},
        {"minusOne", "<integer>-1</integer>", PlistValue::integer(-1)},
        {"three", "<integer>3</integer>", PlistValue::integer(3)},
        {"lowest", "<integer>-9223372036854775808</integer>",
         PlistValue::integer(std::numeric_limits<int64_t>::min())},
        {"highest", "<integer>9223372036854775807</integer>",
         PlistValue::integer(std::numeric_limits<int64_t>::max())},
        {"realZero", "<real>0.0</real>", PlistValue::real(0.0)},
        {"pointNine", "<real>0.9</real>", PlistValue::real(0.9)},
        {"minusPointNine", "<real>-0.9</real>", PlistValue::real(-0.9)},
        {"realOne", "<real>1.0</real>", PlistValue::real(1.0)},
        {"realMinusOne", "<real>-1.5</real>", PlistValue::real(-1.5)},
        {"nan", "<real>nan</real>", PlistValue::real(nan)},
        {"infinity", "<real>inf</real>", PlistValue::real(infinity)},
        {"hugeReal", "<real>1e300</real>", PlistValue::real(1e300)},
        {"stringZero", "<string>0</string>", PlistValue::string("0")},
        {"stringThreeX", "<string> 3x</string>", PlistValue::string(" 3x")},
        {"stringMinusOne", "<string>-1</string>", PlistValue::string("-1")},
        {"stringEmpty", "<string></string>", PlistValue::string("")},
        {"stringWords", "<string>none</string>", PlistValue::string("none")},
        {"stringHuge", "<string>99999999999999999999</string>", PlistValue::string("99999999999999999999")},
        {"true", "<true/>", PlistValue::boolean(true)},
        {"false", "<false/>", PlistValue::boolean(false)},
        {"date", "<date>2001-01-01T00:00:03Z</date>", PlistValue::date(3.0)},
    };
}

// An album data file written by hand, one album "All" listing every photo of `entries` in
// order; each entry is the inside of a photo's <dict>.
QByteArray xmlLibrary(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                       "<key>Master Image List</key>\n<dict>\n";
    std::string keyList;
    for (const auto& [key, entry] : entries) {
        text += "<key>" + key + "</key><dict>" + entry + "</dict>\n";
        keyList += "<string>" + key + "</string>";
    }
    text += "</dict>\n<key>List of Albums</key>\n<array><dict><key>AlbumName</key><string>All</string>"
            "<key>KeyList</key><array>" +
            keyList + "</array></dict></array>\n</dict>\n</plist>\n";
    return QByteArray::fromStdString(text);
}

std::string imageEntry(const std::string& key, const std::string& ratingElement)
{
    std::string entry =
        "<key>GUID</key><string>G-" + key + "</string><key>MediaType</key><string>Image</string>";
    if (!ratingElement.empty())
        entry += "<key>Rating</key>" + ratingElement;
    return entry;
}
} // namespace

class UnratedAlbumsTest : public LibraryFolderTest {
protected:
    // Makes `file` the current library and reloads it: the XML reader for XML, the tree for
    // binary files.
    std::optional<PlistArray> reload(AlbumInfo& albumInfo, const QString& file)
    {
        const std::string url = QUrl::fromLocalFile(file).toString().toStdString();
        EXPECT_TRUE(Preferences::setValue("iPhotoRecentDatabases",
                                          PlistValue::array({PlistValue::string(url)}),
                                          Preferences::libraryDomain));
        Error error;
        auto albums = albumInfo.reload(&error);
        EXPECT_TRUE(albums) << error.description();
        return albums;
    }

    std::optional<PlistArray> reloadTree(AlbumInfo& albumInfo, const PlistPtr& tree,
                                         PropertyListSerialization::Format format)
    {
        const QString file =
            path(format == PropertyListSerialization::Format::Xml ? "library.xml" : "library.plist");
        EXPECT_TRUE(PropertyListSerialization::writeFile(file, tree, format));
        return reload(albumInfo, file);
    }

    std::optional<PlistArray> reloadXml(AlbumInfo& albumInfo, const QByteArray& bytes)
    {
        QFile file(path("written.xml"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        EXPECT_EQ(file.write(bytes), bytes.size());
        file.close();
        return reload(albumInfo, file.fileName());
    }
};

TEST_F(UnratedAlbumsTest, OnlyUnratedImagesAreListedInAlbumOrder)
{
    AlbumInfo albumInfo;
    const PlistArray albums = albumInfo.findUnratedAlbums(library());
    EXPECT_EQ(summary(albums), "Mixed: 1 4; Second: 4 5");

    // Every key of the entry, plus the key it stands under.
    ASSERT_FALSE(albums.empty());
    const PlistPtr first = albums[0]->objectForKey("items")->asArray()->front();
    EXPECT_TRUE(
        PlistValue::equal(first, PlistValue::dictionary({{"GUID", PlistValue::string("G1")},
                                                         {"MediaType", PlistValue::string("Image")},
                                                         {"Caption", PlistValue::string("caption of G1")},
                                                         {"Aspect Ratio", PlistValue::real(1.5)},
                                                         {"ImagePath", PlistValue::string("/photos/G1.jpg")},
                                                         {"Rating", PlistValue::integer(0)},
                                                         {"qm_ItemKey", PlistValue::string("1")}})))
        << first->description();
    EXPECT_EQ(albumInfo.aspectRatioForItem(first), 1.5);
    EXPECT_EQ(albumInfo.aspectRatioForItem(PlistValue::dictionary({})), 0.0);
}

TEST_F(UnratedAlbumsTest, XmlAndBinaryFilesGiveTheRecordsOfTheirEntries)
{
    AlbumInfo albumInfo;
    albumInfo.noteItemRated(photo("G5", "Image", nullptr));
    const PlistPtr master = library()->objectForKey("Master Image List");
    const PlistPtr expected =
        PlistValue::array({albumRecord("Mixed", {record(master->objectForKey("1"), "1"),
                                                 record(master->objectForKey("4"), "4")}),
                           albumRecord("Second", {record(master->objectForKey("4"), "4")})});
    EXPECT_TRUE(PlistValue::equal(PlistValue::array(albumInfo.findUnratedAlbums(library())), expected));
    for (const auto format :
         {PropertyListSerialization::Format::Xml, PropertyListSerialization::Format::Binary}) {
        const auto albums = reloadTree(albumInfo, library(), format);
        ASSERT_TRUE(albums);
        EXPECT_TRUE(PlistValue::equal(PlistValue::array(*albums), expected))
            << PlistValue::array(*albums)->description();
    }
}

TEST_F(UnratedAlbumsTest, ThePhotosRatedEarlierInTheRunAreLeftOutByEveryReader)
{
    AlbumInfo albumInfo;
    EXPECT_FALSE(albumInfo.didRateItems());
    albumInfo.noteItemRated(photo("G5", "Image", nullptr));
    EXPECT_TRUE(albumInfo.didRateItems());
    albumInfo.noteItemRated(photo("G1", "Image", nullptr));

    EXPECT_EQ(summary(albumInfo.findUnratedAlbums(library())), "Mixed: 4; Second: 4");
    for (const auto format :
         {PropertyListSerialization::Format::Xml, PropertyListSerialization::Format::Binary}) {
        const auto albums = reloadTree(albumInfo, library(), format);
        ASSERT_TRUE(albums);
        EXPECT_EQ(summary(*albums), "Mixed: 4; Second: 4");
    }
}

// Only a rating whose integer value is 0, or none, leaves a photo unrated: reals count by their
// value truncated towards zero, strings by their leading decimal number, booleans as 0 or 1, and
// what is no number at all (NaN, a date, a string without digits) as 0. Every reader agrees.
TEST_F(UnratedAlbumsTest, RatingsOfEveryKindAreReadAlikeByEveryReader)
{
    const Keys unrated = {"absent",         "zero",  "realZero",   "pointNine",
                          "minusPointNine", "nan",   "stringZero", "stringEmpty",
                          "stringWords",    "false", "date"};
    const std::vector<RatingCase> cases = ratingCases();
    PlistDictionary master;
    Keys keys;
    std::vector<std::pair<std::string, std::string>> xmlEntries;
    for (const RatingCase& ratingCase : cases) {
        keys.push_back(ratingCase.key);
        master.emplace(ratingCase.key, photo("G-" + ratingCase.key, "Image", ratingCase.tree));
        xmlEntries.emplace_back(ratingCase.key, imageEntry(ratingCase.key, ratingCase.xml));
    }
    const PlistPtr tree =
        PlistValue::dictionary({{"Master Image List", PlistValue::dictionary(master)},
                                {"List of Albums", PlistValue::array({album("All", keys)})}});
    const auto keysOf = [](const std::optional<PlistArray>& albums) {
        Keys found;
        if (albums && albums->size() == 1) {
            for (const PlistPtr& item : *albums->front()->objectForKey("items")->asArray())
                found.push_back(*item->objectForKey("qm_ItemKey")->asString());
        }
        return found;
    };

    AlbumInfo albumInfo;
    EXPECT_EQ(keysOf(albumInfo.findUnratedAlbums(tree)), unrated) << "the tree";
    EXPECT_EQ(keysOf(reloadTree(albumInfo, tree, PropertyListSerialization::Format::Binary)), unrated)
        << "a binary file";
    EXPECT_EQ(keysOf(reloadXml(albumInfo, xmlLibrary(xmlEntries))), unrated) << "the XML reader";
    EXPECT_EQ(keysOf(albumInfo.findUnratedAlbums(
                  AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("written.xml"))))),
              unrated)
        << "an XML file read whole";
}

// A number too large for 64 bits cannot be stored as the integer it claims to be: every reader
// refuses the file alike, the reload as the whole-file read, rather than one of them guessing.
TEST_F(UnratedAlbumsTest, AnIntegerBeyondSixtyFourBitsIsRefusedByEveryReader)
{
    for (const char* number : {"99999999999999999999", " -99999999999999999999 ", "18446744073709551615"}) {
        const QByteArray bytes = xmlLibrary({
            {"over", imageEntry("over", std::string("<integer>") + number + "</integer>")},
            {"zero", imageEntry("zero", "<integer>0</integer>")},
        });
        QFile file(path("written.xml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.close();
        const std::string url = QUrl::fromLocalFile(file.fileName()).toString().toStdString();
        ASSERT_TRUE(Preferences::setValue("iPhotoRecentDatabases",
                                          PlistValue::array({PlistValue::string(url)}),
                                          Preferences::libraryDomain));
        AlbumInfo albumInfo;
        Error reloadError;
        EXPECT_FALSE(albumInfo.reload(&reloadError)) << number;
        EXPECT_EQ(reloadError.code(), 259) << number;
        EXPECT_NE(reloadError.localizedDescription().find("Malformed integer"), std::string::npos)
            << reloadError.localizedDescription();
        Error readError;
        EXPECT_FALSE(PropertyListSerialization::fromData(bytes, &readError)) << number;
        EXPECT_EQ(readError.code(), 259) << number;
    }
}

TEST_F(UnratedAlbumsTest, AReloadGivesTheRecordsOfTheEntriesWhateverTheyLookLike)
{
    // Entries that share a layout, one in another order, one with a key given twice (the last
    // counts), one with its own "qm_ItemKey", one whose deciding key is split by CDATA, an
    // identifier given twice (its last entry counts), and photos listed twice in one album and
    // again in another.
    const QByteArray entry =
        "<key>MediaType</key><string>Image</string><key>Caption</key><string>c</string>"
        "<key>Rating</key><integer>0</integer><key>Keywords</key><array><string>1</string>"
        "</array>";
    const QByteArray bytes =
        "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n<key>Master Image List</key>\n<dict>\n"
        "<key>1</key><dict>" +
        entry +
        "</dict>\n"
        "<key>2</key><dict>" +
        entry +
        "</dict>\n"
        "<key>3</key><dict><key>Rating</key><integer>0</integer><key>MediaType</key><string>Image</string>"
        "<key>Keywords</key><array/><key>Caption</key><string>other order</string></dict>\n"
        "<key>4</key><dict>" +
        entry +
        "<key>Caption</key><string>second</string></dict>\n"
        "<key>5</key><dict>" +
        entry +
        "<key>qm_ItemKey</key><string>stale</string></dict>\n"
        "<key>6</key><dict><key>Media<![CDATA[Type]]></key><string>Im<![CDATA[age]]></string>"
        "<key>Cap<![CDATA[tion]]>s</key><string>split</string></dict>\n"
        "<key>7</key><dict>" +
        entry +
        "</dict>\n"
        "<key>2</key><dict><key>MediaType</key><string>Image</string><key>Caption</key>"
        "<string>given again</string></dict>\n"
        "</dict>\n<key>List of Albums</key>\n<array>\n"
        "<dict><key>AlbumName</key><string>All</string><key>KeyList</key><array>"
        "<string>1</string><string>2</string><string>3</string><string>4</string><string>5</string>"
        "<string>6</string><string>7</string><string>7</string></array></dict>\n"
        "<dict><key>AlbumName</key><string>Again</string><key>KeyList</key><array>"
        "<string>1</string></array></dict>\n</array>\n</dict>\n</plist>\n";

    const auto item = [](const std::string& key, const std::string& caption, bool keyword) {
        PlistArray keywords;
        if (keyword)
            keywords.push_back(PlistValue::string("1"));
        return PlistValue::dictionary({{"MediaType", PlistValue::string("Image")},
                                       {"Caption", PlistValue::string(caption)},
                                       {"Rating", PlistValue::integer(0)},
                                       {"Keywords", PlistValue::array(std::move(keywords))},
                                       {"qm_ItemKey", PlistValue::string(key)}});
    };
    const PlistPtr given = PlistValue::dictionary({{"MediaType", PlistValue::string("Image")},
                                                   {"Caption", PlistValue::string("given again")},
                                                   {"qm_ItemKey", PlistValue::string("2")}});
    const PlistPtr split = PlistValue::dictionary({{"MediaType", PlistValue::string("Image")},
                                                   {"Captions", PlistValue::string("split")},
                                                   {"qm_ItemKey", PlistValue::string("6")}});
    const PlistPtr expected =
        PlistValue::array({albumRecord("All", {item("1", "c", true), given, item("3", "other order", false),
                                               item("4", "second", true), item("5", "c", true), split,
                                               item("7", "c", true), item("7", "c", true)}),
                           albumRecord("Again", {item("1", "c", true)})});

    AlbumInfo albumInfo;
    const auto albums = reloadXml(albumInfo, bytes);
    ASSERT_TRUE(albums);
    EXPECT_TRUE(PlistValue::equal(PlistValue::array(*albums), expected))
        << PlistValue::array(*albums)->description() << "\n"
        << expected->description();
    EXPECT_TRUE(PlistValue::equal(PlistValue::array(albumInfo.findUnratedAlbums(
                                      AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("written.xml"))))),
                                  expected))
        << "the same file read whole";

    // The places of one album are distinct objects, so a photo listed twice has two places a
    // rating screen can tell apart; albums share one record of a photo.
    ASSERT_EQ(albums->size(), 2u);
    const PlistArray& items = *(*albums)[0]->objectForKey("items")->asArray();
    ASSERT_EQ(items.size(), 8u);
    EXPECT_NE(items[6], items[7]);
    EXPECT_EQ(items[0], (*albums)[1]->objectForKey("items")->asArray()->front());
}

// A file in a spelling the one-pass reader leaves to the whole-file reader (an unknown entity, an
// attribute on a value) still reloads, with the same records as the file read whole.
TEST_F(UnratedAlbumsTest, FilesInEverySpellingReloadAsTheyReadWhole)
{
    const std::string image = "<key>MediaType</key><string>Image</string>";
    for (const std::string& caption :
         {std::string("<string>plain</string>"), std::string("<string>&bogus; &amp; more</string>"),
          std::string("<string xml:space=\"preserve\">attributed</string>")}) {
        const QByteArray bytes = xmlLibrary({{"1", image + "<key>Caption</key>" + caption},
                                             {"2", image + "<key>Rating</key><integer>2</integer>"},
                                             {"3", image}});
        AlbumInfo albumInfo;
        const auto albums = reloadXml(albumInfo, bytes);
        ASSERT_TRUE(albums) << caption;
        const PlistArray whole =
            albumInfo.findUnratedAlbums(AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(path("written.xml"))));
        EXPECT_TRUE(PlistValue::equal(PlistValue::array(*albums), PlistValue::array(whole)))
            << PlistValue::array(*albums)->description() << "\n"
            << PlistValue::array(whole)->description();
        EXPECT_EQ(summary(*albums), "All: 1 3") << caption;
    }
}
