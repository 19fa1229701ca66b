#include "tools/library/LibraryTool.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/TemporaryConfigHome.h"
#include "support/ToolRun.h"
#include "tools/library/ExifOrientation.h"
#include "tools/library/LibraryImporter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

    QString path(const QString& relative) const { return m_folder.filePath(relative); }

    void write(const QString& relative, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static ToolRun run(const QStringList& arguments) { return ToolRun::of(arguments); }

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

    QByteArray bytesOf(const QString& relative) const
    {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }

    TemporaryConfigHome m_config;
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

// A library written as a binary list is rated and imported again as one.
TEST_F(LibraryToolTest, ABinaryLibraryIsRatedAndReimportedAndStaysBinary)
{
    ASSERT_EQ(import({"Photos/Beach", "Photos/Town"}).status, 0);
    ASSERT_TRUE(PropertyListSerialization::writeFile(path("Library/AlbumData.xml"), albumData(),
                                                     PropertyListSerialization::Format::Binary));
    const std::string key = keyOf("b.jpg");
    const ToolRun rated = run({"rate", QString::fromStdString(key), "4"});
    ASSERT_EQ(rated.status, 0) << rated.err;
    EXPECT_EQ(entry("b.jpg")->objectForKey("Rating")->asInteger(), 4);
    EXPECT_TRUE(PlistValue::equal(entry("b.jpg")->objectForKey("RatingElsewhere"), PlistValue::integer(4)));

    write("Photos/Beach/d.jpg", jpeg(50, 50));
    ASSERT_EQ(import({"Photos/Beach"}).status, 0);
    EXPECT_TRUE(bytesOf("Library/AlbumData.xml").startsWith("bplist00"));
    EXPECT_EQ(keyOf("b.jpg"), key);
    EXPECT_EQ(entry("b.jpg")->objectForKey("Rating")->asInteger(), 4);
    EXPECT_TRUE(entry("d.jpg"));
}

TEST_F(LibraryToolTest, ListCountsUnratedPhotosOfEveryAlbum)
{
    ASSERT_EQ(import({"Photos/Beach", "Photos/Town"}).status, 0);
    ASSERT_EQ(run({"rate", QString::fromStdString(keyOf("x.jpg")), "2"}).status, 0);
    const ToolRun listed = run({"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "Unrated  Photos  Album\n      3       4  Beach\n      0       1  Town\n");
    // For scripts: no header, no padding.
    EXPECT_EQ(run({"list", "--tsv"}).out, "3\t4\tBeach\n0\t1\tTown\n");
    const ToolRun photos = run({"--tsv", "list", "--photos"});
    EXPECT_EQ(photos.status, 0);
    EXPECT_NE(photos.out.find("Town\t" + keyOf("x.jpg") + "\t2\tImage\t" +
                              path("Photos/Town/x.jpg").toStdString() + "\n"),
              std::string::npos)
        << photos.out;
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
    const ToolRun notAFolder = import({"Photos/Town/x.jpg"});
    EXPECT_EQ(notAFolder.status, 1);
    EXPECT_EQ(notAFolder.err, "zuzire-library: " + path("Photos/Town/x.jpg").toStdString() +
                                  " is a file, not a folder of photos\n");

    write("Library/AlbumData.xml", "<plist><dict><key>broken");
    const ToolRun broken = import({"Photos/Town"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(broken.err.starts_with("zuzire-library: the existing album data file"));
    QFile file(path("Library/AlbumData.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "<plist><dict><key>broken");

    const ToolRun unregistered = run({"rate", "1", "3"});
    EXPECT_EQ(unregistered.status, 1);
    EXPECT_EQ(unregistered.err, "zuzire-library: no library is registered in " +
                                    Preferences::domainFilePath(Preferences::libraryDomain).toStdString() +
                                    "; build one with: zuzire-library import PHOTO-FOLDER\n");
    for (const char* stars : {"0", "6", "-1", "three"}) {
        const ToolRun refused = run({"rate", "1", stars});
        EXPECT_EQ(refused.status, 2) << stars;
        EXPECT_TRUE(refused.err.starts_with("zuzire-library: " + std::string(stars) +
                                            " stars: a rating is 1 to 5 stars\n"))
            << refused.err;
    }
    EXPECT_EQ(run({"rate", "1x", "3"}).status, 2);
    EXPECT_EQ(run({"rate", "1"}).status, 2);
    EXPECT_EQ(run({"frobnicate"}).status, 2);
    EXPECT_EQ(run({}).status, 2);
}

TEST_F(LibraryToolTest, RatingAPhotoThatIsNotThereFails)
{
    ASSERT_EQ(import({"Photos/Town"}).status, 0);
    const QByteArray before = bytesOf("Library/AlbumData.xml");
    const ToolRun result = run({"rate", "77", "3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "zuzire-library: no photo 77 in " + path("Library/AlbumData.xml").toStdString() + "\n");
    EXPECT_EQ(bytesOf("Library/AlbumData.xml"), before);

    const ToolRun rated = run({"rate", "01", "1"});
    EXPECT_EQ(rated.status, 0) << rated.err;
    EXPECT_EQ(rated.out, "Photo 1 now has 1 star.\n");
}

TEST_F(LibraryToolTest, OptionsStandAnywhereAndTheToolExplainsItself)
{
    const ToolRun imported = run({"import", path("Photos/Town"), "--library", path("Library")});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, "Imported 1 album into " + path("Library/AlbumData.xml").toStdString() +
                                ": 1 photo added, 0 kept, 0 skipped.\n");
    const ToolRun again =
        run({"--library=" + path("Library"), "import", path("Photos/Beach"), path("Photos/Town")});
    EXPECT_EQ(again.out, "Imported 2 albums into " + path("Library/AlbumData.xml").toStdString() +
                             ": 4 photos added, 1 kept, 0 skipped.\n");

    const ToolRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command :
         {"import", "list", "ID STARS", "activate", "--recursive", "--tsv", "--version"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    const ToolRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("zuzire-library ")) << version.out;

    const ToolRun unknown = run({"list", "--colour"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.starts_with("zuzire-library: unknown option: --colour\nusage:")) << unknown.err;
}

TEST_F(LibraryToolTest, EachCommandsHelpDescribesThatCommandAndItsOptions)
{
    const struct {
        const char* command;
        const char* option;
        const char* otherCommandsOption;
    } cases[] = {{"import", "--recursive", "--tsv"},
                 {"list", "--tsv", "--recursive"},
                 {"rate", "--rating-in-photo", "--tsv"},
                 {"activate", "--library", "--sidecar-naming"}};
    for (const auto& c : cases) {
        const ToolRun help = run({c.command, "--help"});
        EXPECT_EQ(help.status, 0) << c.command;
        EXPECT_TRUE(help.out.starts_with(std::string("usage: zuzire-library ") + c.command + ' '))
            << help.out;
        EXPECT_NE(help.out.find(c.option), std::string::npos) << c.command;
        EXPECT_EQ(help.out.find(c.otherCommandsOption), std::string::npos) << c.command;
    }
}

TEST_F(LibraryToolTest, AFolderWithNoPhotosMakesNoAlbumAndAloneImportsNothing)
{
    write("Photos/Empty/readme.txt", "no photos here");
    const std::string empty = QFileInfo(path("Photos/Empty")).canonicalFilePath().toStdString();
    const ToolRun mixed = import({"Photos/Empty", "Photos/Town"});
    EXPECT_EQ(mixed.status, 0) << mixed.err;
    EXPECT_NE(mixed.err.find(empty + " holds no photos; no album made\n"), std::string::npos) << mixed.err;
    EXPECT_EQ(albumData()->objectForKey("List of Albums")->asArray()->size(), 1u);

    const QByteArray before = bytesOf("Library/AlbumData.xml");
    for (const QStringList& arguments : {QStringList{"import", path("Photos/Empty")},
                                         QStringList{"import", "--recursive", path("Photos/Empty")}}) {
        const ToolRun alone = run(arguments + QStringList{"--library", path("Library")});
        EXPECT_EQ(alone.status, 1);
        EXPECT_TRUE(alone.err.ends_with("nothing imported; the library is left as it was\n")) << alone.err;
    }
    EXPECT_EQ(bytesOf("Library/AlbumData.xml"), before);
}

TEST_F(LibraryToolTest, RecursiveImportMakesAnAlbumOfEveryFolderWithPhotos)
{
    write("Photos/Trips/Alps/2019/p.jpg", jpeg(40, 30));
    write("Photos/Trips/Coast/q.png", jpeg(40, 30));
    write("Photos/Trips/Empty/readme.txt", "no photos here");
    const ToolRun result = run({"import", "--recursive", path("Photos/Trips"), "--library", path("Library")});
    ASSERT_EQ(result.status, 0) << result.err;
    QStringList names;
    const PlistPtr tree = albumData();
    for (const PlistPtr& album : *tree->objectForKey("List of Albums")->asArray())
        names << QString::fromStdString(*album->objectForKey("AlbumName")->asString());
    EXPECT_EQ(names, QStringList({"2019", "Coast"}));
}

TEST_F(LibraryToolTest, PhotosThatCannotBeImportedAreReportedNotHiddenOrBlank)
{
    // A PNG whose header reads but whose pixels are damaged.
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const qsizetype pixels = png.indexOf("IDAT") + 8;
    for (qsizetype i = pixels; i < png.size() - 16; ++i)
        png[i] = char(0x5A);
    write("Photos/Town/damaged.png", png);
    // A name that is no UTF-8 cannot be recorded in the album data file.
    const QByteArray oddName = QFile::encodeName(path("Photos/Town")) + "/caf\xe9.jpg";
    {
        ASSERT_TRUE(QFile(path("Photos/Town/x.jpg")).copy(path("Photos/Town/tmp.jpg")));
        ASSERT_EQ(::rename(QFile::encodeName(path("Photos/Town/tmp.jpg")).constData(), oddName.constData()),
                  0);
    }

    const ToolRun result = import({"Photos/Town"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("zuzire-library: warning: skipped " +
                              path("Photos/Town/damaged.png").toStdString() +
                              ": its pixels cannot be decoded\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("zuzire-library: warning: skipped " + path("Photos/Town").toStdString() +
                              "/caf\\xe9.jpg: its name is not UTF-8"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.out.find("1 photo added, 0 kept, 2 skipped."), std::string::npos) << result.out;
    EXPECT_EQ(albumData()->objectForKey("Master Image List")->asDictionary()->size(), 1u);
}

TEST_F(LibraryToolTest, IdentifiersAtTheEndOfTheRangeAreAnErrorNotAnOverflow)
{
    const QString max = QString::number(std::numeric_limits<int64_t>::max());
    write("Library/AlbumData.xml",
          ("<plist version=\"1.0\"><dict><key>Master Image List</key><dict><key>" + max +
           "</key><dict><key>ImagePath</key><string>/gone.jpg</string></dict></dict>"
           "<key>List of Albums</key><array/></dict></plist>")
              .toUtf8());
    const QByteArray before = bytesOf("Library/AlbumData.xml");
    const ToolRun photo = import({"Photos/Town"});
    EXPECT_EQ(photo.status, 1);
    EXPECT_EQ(photo.err, "zuzire-library: no photo identifier is left in " +
                             path("Library/AlbumData.xml").toStdString() + " for " +
                             path("Photos/Town/x.jpg").toStdString() + ": the highest in use is " +
                             max.toStdString() + "\n");
    EXPECT_EQ(bytesOf("Library/AlbumData.xml"), before);

    write("Library/AlbumData.xml", ("<plist version=\"1.0\"><dict><key>Master Image List</key><dict/>"
                                    "<key>List of Albums</key><array><dict><key>AlbumId</key><integer>" +
                                    max + "</integer></dict></array></dict></plist>")
                                       .toUtf8());
    const ToolRun album = import({"Photos/Town"});
    EXPECT_EQ(album.status, 1);
    EXPECT_TRUE(album.err.starts_with("zuzire-library: no album identifier is left in " +
                                      path("Library/AlbumData.xml").toStdString()))
        << album.err;
}

TEST_F(LibraryToolTest, OddFilesAsAlbumDataAreRefusedAtOnceByName)
{
    ASSERT_EQ(import({"Photos/Town"}).status, 0);
    const QString albumData = path("Library/AlbumData.xml");
    const std::string name = albumData.toStdString();
    QFile::remove(albumData);

    // A named pipe without a writer would block a plain open for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(albumData).constData(), 0600), 0);
    for (const char* command : {"list", "rate"}) {
        const ToolRun result =
            run(command == std::string("list") ? QStringList{"list"} : QStringList{"rate", "1", "2"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "zuzire-library: " + name + " is a named pipe, not a regular file\n");
    }
    QFile::remove(albumData);

    ASSERT_TRUE(QDir().mkdir(albumData));
    EXPECT_EQ(run({"rate", "1", "2"}).err, "zuzire-library: " + name + " is a folder, not a file\n");
    QDir().rmdir(albumData);

    ASSERT_TRUE(QFile::link("/dev/zero", albumData));
    EXPECT_EQ(run({"list"}).err, "zuzire-library: " + name + " is a device, not a regular file\n");
    QFile::remove(albumData);

    write("Library/AlbumData.xml", "<plist><array/></plist>");
    EXPECT_EQ(run({"rate", "1", "2"}).err,
              "zuzire-library: " + name + " is no album data file: its root is no dictionary\n");
}

TEST_F(LibraryToolTest, ABrokenPreferenceFileIsNamedWithWhatIsWrong)
{
    const QString preference = Preferences::domainFilePath(Preferences::libraryDomain);
    QDir().mkpath(QFileInfo(preference).absolutePath());
    const std::string name = preference.toStdString();

    QFile(preference).open(QIODevice::WriteOnly);
    EXPECT_EQ(run({"list"}).err,
              "zuzire-library: the library preference file " + name +
                  " is empty; register a library with: zuzire-library import PHOTO-FOLDER\n");
    QFile::remove(preference);

    ASSERT_TRUE(QFile::link(preference, preference));
    EXPECT_EQ(run({"rate", "1", "2"}).err, "zuzire-library: cannot read the library preference: " + name +
                                               " is a loop of symbolic links\n");
    QFile::remove(preference);
}

TEST_F(LibraryToolTest, AnImportThatCannotWriteLeavesEveryOldFile)
{
    ASSERT_EQ(import({"Photos/Beach"}).status, 0);
    const QByteArray albumDataBefore = bytesOf("Library/AlbumData.xml");
    const QString thumbnail = QString::fromStdString(*entry("a.jpg")->objectForKey("ThumbPath")->asString());
    const QByteArray thumbnailBefore = bytesOf(QDir(m_folder.path()).relativeFilePath(thumbnail));
    // Newer photos, so their thumbnails are written again.
    write("Photos/Beach/a.jpg", jpeg(210, 300));
    QFile(path("Photos/Beach/a.jpg"))
        .setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    for (const AtomicFile::Step step : {AtomicFile::Step::Write, AtomicFile::Step::Sync,
                                        AtomicFile::Step::Close, AtomicFile::Step::Rename}) {
        AtomicFile::setFaultForTesting(AtomicFile::Fault{step, ENOSPC});
        const ToolRun failed = import({"Photos/Beach"});
        AtomicFile::setFaultForTesting(std::nullopt);
        EXPECT_EQ(failed.status, 1);
        EXPECT_NE(failed.err.find(thumbnail.toStdString() + ": No space left on device"), std::string::npos)
            << failed.err;
        EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
        EXPECT_EQ(bytesOf("Library/AlbumData.xml"), albumDataBefore);
        EXPECT_EQ(bytesOf(QDir(m_folder.path()).relativeFilePath(thumbnail)), thumbnailBefore);
    }
}

// A real file system that fills up: a small tmpfs, where the machine lets the test mount one.
TEST_F(LibraryToolTest, AFullDiskLeavesEveryOldFileAndSaysWhichFile)
{
    const QString disk = path("disk");
    QDir().mkpath(disk);
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "); the fault-injection tests cover the same paths";
    struct Unmount {
        QByteArray where;
        ~Unmount() { ::umount2(where.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(disk)};

    qputenv("XDG_CONFIG_HOME", (disk + "/config").toUtf8());
    const ToolRun built = run({"import", path("Photos/Beach"), "--library", disk + "/Library"});
    ASSERT_EQ(built.status, 0) << built.err;
    const QString albumData = disk + "/Library/AlbumData.xml";
    const QString preference = Preferences::domainFilePath(Preferences::libraryDomain);
    auto bytes = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    };
    const QByteArray albumDataBefore = bytes(albumData);
    const QByteArray preferenceBefore = bytes(preference);
    ASSERT_FALSE(preferenceBefore.isEmpty());

    // Fill the disk to the last block.
    {
        QFile filler(disk + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }

    const ToolRun rated = run({"rate", "1", "5"});
    EXPECT_EQ(rated.status, 1);
    EXPECT_NE(rated.err.find(albumData.toStdString() + ": No space left on device"), std::string::npos)
        << rated.err;
    EXPECT_EQ(std::count(rated.err.begin(), rated.err.end(), '\n'), 1) << rated.err;
    EXPECT_EQ(bytes(albumData), albumDataBefore);

    const ToolRun imported = run({"import", path("Photos/Town"), "--library", disk + "/Library"});
    EXPECT_EQ(imported.status, 1);
    EXPECT_NE(imported.err.find("No space left on device"), std::string::npos) << imported.err;
    EXPECT_EQ(bytes(albumData), albumDataBefore);

    // Registering another library needs the preference file rewritten.
    const ToolRun registered = run({"import", path("Photos/Town"), "--library", path("Elsewhere")});
    EXPECT_EQ(registered.status, 1);
    EXPECT_NE(registered.err.find(preference.toStdString()), std::string::npos) << registered.err;
    EXPECT_EQ(std::count(registered.err.begin(), registered.err.end(), '\n'), 1) << registered.err;
    EXPECT_EQ(bytes(preference), preferenceBefore);
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

TEST_F(LibraryToolTest, TheProgramsCommandLinesWorkAsTheRealTool)
{
    ASSERT_EQ(import({"Photos/Town"}).status, 0);
    // The rating script's own command line, and a library folder whose name is no UTF-8: the raw
    // bytes reach the tool, which refuses rather than writing to a differently named folder.
    const QByteArray tool =
        QFile::encodeName(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire-library");
    const QByteArray odd = QFile::encodeName(path("lib")) + "\xff"
                                                            "X";
    auto runRaw = [&](std::vector<const char*> arguments) {
        arguments.insert(arguments.begin(), tool.constData());
        arguments.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(tool.constData(), const_cast<char* const*>(arguments.data()));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(runRaw({"rate", keyOf("x.jpg").c_str(), "4"}), 0);
    EXPECT_EQ(entry("x.jpg")->objectForKey("Rating")->asInteger(), 4);
    EXPECT_EQ(
        runRaw({"import", QFile::encodeName(path("Photos/Town")).constData(), "--library", odd.constData()}),
        1);
    struct stat status {};
    EXPECT_NE(::stat(odd.constData(), &status), 0);
    EXPECT_FALSE(QDir(m_folder.path()).entryList().join(' ').contains("lib"));
}

TEST_F(LibraryToolTest, TheRealToolRatesWithoutTheImageLibrariesAndHandsImportAndListOn)
{
    const QString tool = qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire-library";
    const auto runTool = [](const QString& program, const QStringList& arguments,
                            const QProcessEnvironment& environment =
                                QProcessEnvironment::systemEnvironment()) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        const bool done = process.waitForFinished(60000);
        return ToolRun{done && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                       process.readAllStandardOutput().toStdString(),
                       process.readAllStandardError().toStdString()};
    };
    // The loader lists what a start loads, without running the tool.
    QProcessEnvironment trace = QProcessEnvironment::systemEnvironment();
    trace.insert("LD_TRACE_LOADED_OBJECTS", "1");
    const ToolRun loaded = runTool(tool, {}, trace);
    EXPECT_NE(loaded.out.find("libQt6Core"), std::string::npos) << loaded.out;
    for (const char* library : {"libQt6Gui", "libturbojpeg", "libpng", "libfontconfig"})
        EXPECT_EQ(loaded.out.find(library), std::string::npos) << library << " in\n" << loaded.out;

    // Import and list are the whole tool's, with the same output and status as in this process.
    const ToolRun imported = runTool(tool, {"import", "--library", path("Library"), path("Photos/Town")});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_TRUE(imported.out.starts_with("Imported 1 album into ")) << imported.out;
    ASSERT_EQ(runTool(tool, {"rate", QString::fromStdString(keyOf("x.jpg")), "5"}).status, 0);
    const ToolRun listed = runTool(tool, {"list", "--photos", "--tsv"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, run({"list", "--photos", "--tsv"}).out);
    EXPECT_NE(listed.out.find("Town\t" + keyOf("x.jpg") + "\t5\t"), std::string::npos) << listed.out;
    EXPECT_EQ(runTool(tool, {"import", "--library", path("Library"), path("Photos/Nowhere")}).status, 1);

    // A tool without the whole one beside it rates, and says it cannot import rather than
    // pretending it did.
    const QString alone = path("alone/bin/zuzire-library");
    ASSERT_TRUE(QDir().mkpath(path("alone/bin")));
    ASSERT_TRUE(QFile::copy(tool, alone));
    ASSERT_EQ(runTool(alone, {"rate", QString::fromStdString(keyOf("x.jpg")), "2"}).status, 0);
    EXPECT_EQ(entry("x.jpg")->objectForKey("Rating")->asInteger(), 2);
    const ToolRun notImported = runTool(alone, {"import", "--library", path("Other"), path("Photos/Town")});
    EXPECT_EQ(notImported.status, 1);
    EXPECT_TRUE(notImported.err.starts_with("zuzire-library: cannot start ")) << notImported.err;
    EXPECT_FALSE(QFileInfo::exists(path("Other/AlbumData.xml")));
}
