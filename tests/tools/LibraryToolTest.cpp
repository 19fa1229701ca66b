#include "tools/library/LibraryTool.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/ExifOrientation.h"
#include "tools/library/LibraryImporter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace {
QByteArray jpeg(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return bytes;
}

// What a run printed, and its status.
struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string contents(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += char(c);
    std::fclose(file);
    return text;
}
} // namespace

class LibraryToolTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        write("Photos/Beach/b.jpg", jpeg(300, 200));
        write("Photos/Beach/a.jpg", jpeg(200, 300));
        // Stored 400 x 200, shown turned: 200 x 400.
        write("Photos/Beach/c.jpg", ExifOrientation::withOrientation(jpeg(400, 200), 6));
        write("Photos/Beach/clip.mov", "not decoded");
        write("Photos/Beach/notes.txt", "ignored");
        write("Photos/Town/x.jpg", jpeg(100, 100));
    }
    void TearDown() override
    {
        Preferences::setValue("iPhotoRecentDatabases", nullptr, Preferences::libraryDomain);
    }

    QString path(const QString& relative) const { return m_folder.filePath(relative); }

    void write(const QString& relative, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static ToolRun run(const QStringList& arguments)
    {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = LibraryTool::run(arguments, out, err);
        return {status, contents(out), contents(err)};
    }

    ToolRun import(const QStringList& folders) const
    {
        QStringList arguments{"import", "--library", path("Library")};
        for (const QString& folder : folders)
            arguments << path(folder);
        return run(arguments);
    }

    PlistPtr albumData() const { return PropertyListSerialization::readFile(path("Library/AlbumData.xml")); }

    // Photo entry by file name.
    PlistPtr entry(const QString& fileName) const
    {
        const PlistPtr tree = albumData();
        for (const auto& [key, value] : *tree->objectForKey("Master Image List")->asDictionary())
            if (value->objectForKey("ImagePath")->asString()->ends_with("/" + fileName.toStdString()))
                return value;
        return nullptr;
    }

    std::string keyOf(const QString& fileName) const
    {
        const PlistPtr tree = albumData();
        for (const auto& [key, value] : *tree->objectForKey("Master Image List")->asDictionary())
            if (value->objectForKey("ImagePath")->asString()->ends_with("/" + fileName.toStdString()))
                return key;
        return {};
    }

    QTemporaryDir m_folder;
};

TEST_F(LibraryToolTest, ImportMakesOneAlbumPerFolderWithEntriesTheProgramReads)
{
    const ToolRun result = import({"Photos/Beach", "Photos/Town"});
    ASSERT_EQ(result.status, 0) << result.err;

    const PlistPtr albums = albumData()->objectForKey("List of Albums");
    ASSERT_EQ(albums->asArray()->size(), 2u);
    const PlistPtr beach = albums->asArray()->at(0);
    EXPECT_EQ(*beach->objectForKey("AlbumName")->asString(), "Beach");
    EXPECT_EQ(beach->objectForKey("KeyList")->asArray()->size(), 4u); // a, b, c, clip

    EXPECT_EQ(*entry("a.jpg")->objectForKey("MediaType")->asString(), "Image");
    EXPECT_EQ(*entry("clip.mov")->objectForKey("MediaType")->asString(), "Movie");
    EXPECT_NEAR(*entry("b.jpg")->objectForKey("Aspect Ratio")->asReal(), 1.5, 1e-9);
    EXPECT_NEAR(*entry("c.jpg")->objectForKey("Aspect Ratio")->asReal(), 0.5, 1e-9);
    EXPECT_EQ(entry("b.jpg")->objectForKey("Rating")->asInteger(), 0);
    EXPECT_EQ(keyOf("a.jpg"), "1");

    // The thumbnail is upright and at most 360 pixels, without any orientation left to apply.
    QImageReader thumbnail(QString::fromStdString(*entry("c.jpg")->objectForKey("ThumbPath")->asString()));
    thumbnail.setAutoTransform(false);
    EXPECT_EQ(thumbnail.read().size(), QSize(180, 360));

    // The program finds it: registered first, every image unrated.
    const auto url = AlbumInfo::defaultAlbumInfoURL();
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path(), path("Library/AlbumData.xml"));
    const auto unrated = AlbumInfo().reload(nullptr);
    ASSERT_TRUE(unrated);
    ASSERT_EQ(unrated->size(), 2u);
    EXPECT_EQ(unrated->front()->objectForKey("items")->asArray()->size(), 3u);
}

TEST_F(LibraryToolTest, ReimportKeepsIdentifiersGuidsAndRatings)
{
    ASSERT_EQ(import({"Photos/Beach", "Photos/Town"}).status, 0);
    const PlistPtr first = albumData();
    const std::string key = keyOf("b.jpg");
    const ToolRun rated = run({"rate", QString::fromStdString(key), "4"});
    ASSERT_EQ(rated.status, 0) << rated.err;

    write("Photos/Beach/d.jpg", jpeg(50, 50));
    QFile::remove(path("Photos/Beach/a.jpg"));
    ASSERT_EQ(import({"Photos/Town", "Photos/Beach"}).status, 0);
    const PlistPtr second = albumData();

    EXPECT_EQ(keyOf("b.jpg"), key);
    EXPECT_EQ(entry("b.jpg")->objectForKey("Rating")->asInteger(), 4);
    for (const char* name : {"b.jpg", "c.jpg", "x.jpg"}) {
        const std::string k =
            first->objectForKey("Master Image List")->asDictionary()->size() ? keyOf(name) : "";
        EXPECT_TRUE(
            PlistValue::equal(first->objectForKey("Master Image List")->objectForKey(k)->objectForKey("GUID"),
                              entry(name)->objectForKey("GUID")))
            << name;
    }
    // The new photo gets a fresh identifier; the removed one leaves; albums keep their place.
    EXPECT_EQ(keyOf("d.jpg"), "6");
    EXPECT_FALSE(entry("a.jpg"));
    const PlistArray& albums = *second->objectForKey("List of Albums")->asArray();
    ASSERT_EQ(albums.size(), 2u);
    EXPECT_EQ(*albums[0]->objectForKey("AlbumName")->asString(), "Beach");
    EXPECT_TRUE(
        PlistValue::equal(albums[0]->objectForKey("GUID"),
                          first->objectForKey("List of Albums")->asArray()->at(0)->objectForKey("GUID")));
}

TEST_F(LibraryToolTest, ListCountsUnratedPhotosOfEveryAlbum)
{
    ASSERT_EQ(import({"Photos/Beach", "Photos/Town"}).status, 0);
    ASSERT_EQ(run({"rate", QString::fromStdString(keyOf("x.jpg")), "2"}).status, 0);
    const ToolRun listed = run({"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "     3  Beach\n     0  Town\n");
}

TEST_F(LibraryToolTest, TheNewLibraryIsRegisteredBeforeOthers)
{
    ASSERT_TRUE(Preferences::setValue(
        "iPhotoRecentDatabases", PlistValue::array({PlistValue::string("file:///elsewhere/AlbumData.xml")}),
        Preferences::libraryDomain));
    ASSERT_EQ(import({"Photos/Town"}).status, 0);
    ASSERT_EQ(import({"Photos/Town"}).status, 0);
    const PlistPtr databases = Preferences::copyValue("iPhotoRecentDatabases", Preferences::libraryDomain);
    ASSERT_EQ(databases->asArray()->size(), 2u);
    EXPECT_EQ(*databases->asArray()->at(1)->asString(), "file:///elsewhere/AlbumData.xml");
}

TEST_F(LibraryToolTest, FailuresAreOneLineAndLeaveTheLibraryAsItWas)
{
    const ToolRun missing = import({"Photos/Nowhere"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "zuzire-library: no such folder: " + path("Photos/Nowhere").toStdString() + "\n");
    EXPECT_FALSE(QFile::exists(path("Library/AlbumData.xml")));

    write("Library/AlbumData.xml", "<plist><dict><key>broken");
    const ToolRun broken = import({"Photos/Town"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(broken.err.starts_with("zuzire-library: the existing album data file"));
    QFile file(path("Library/AlbumData.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "<plist><dict><key>broken");

    EXPECT_EQ(run({"rate", "1", "3"}).status, 1); // no library registered
    EXPECT_EQ(run({"rate", "1", "9"}).status, 2);
    EXPECT_EQ(run({"frobnicate"}).status, 2);
    EXPECT_EQ(run({}).status, 2);
}

TEST_F(LibraryToolTest, RatingAPhotoThatIsNotThereFails)
{
    ASSERT_EQ(import({"Photos/Town"}).status, 0);
    const ToolRun result = run({"rate", "77", "3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("no photo 77"), std::string::npos);
}
