#include "tools/library/RatingElsewhere.h"

#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/TemporaryConfigHome.h"
#include "support/ToolRun.h"
#include "support/XmpTestFiles.h"
#include "tools/library/LibraryTool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace {
// Ratings through the library tool's commands, as the program and a person run them, on a folder
// of photos: a.jpg, b.jpg and c.jpg, plain.
class RatingElsewhereTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        QDir().mkpath(path("Photos"));
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            write(QStringLiteral("Photos/") + name, XmpTestFiles::jpeg());
    }

    QString path(const QString& relative) const { return m_folder.filePath(relative); }

    void write(const QString& relative, const QByteArray& bytes) const
    {
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray bytesOf(const QString& relative) const
    {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }

    static ToolRun run(const QStringList& arguments) { return ToolRun::of(arguments); }

    ToolRun import() const { return run({"import", "--library", path("Library"), path("Photos")}); }

    // Identifier of the photo by file name.
    QString keyOf(const QString& name) const
    {
        const PlistPtr tree = PropertyListSerialization::readFile(path("Library/AlbumData.xml"));
        for (const auto& [key, entry] : *tree->objectForKey("Master Image List")->asDictionary())
            if (entry->objectForKey("ImagePath")->asString()->ends_with("/" + name.toStdString()))
                return QString::fromStdString(key);
        return {};
    }

    std::optional<int64_t> ratingOf(const QString& name) const
    {
        const PlistPtr tree = PropertyListSerialization::readFile(path("Library/AlbumData.xml"));
        return tree->objectForKey("Master Image List")
            ->objectForKey(keyOf(name).toStdString())
            ->objectForKey("Rating")
            ->asInteger();
    }

    ToolRun rate(const QString& name, int stars, const QStringList& options = {}) const
    {
        return run(QStringList{"rate", keyOf(name), QString::number(stars)} + options);
    }

    std::optional<int64_t> seenElsewhereOf(const QString& name) const
    {
        const PlistPtr tree = PropertyListSerialization::readFile(path("Library/AlbumData.xml"));
        const PlistPtr seen = tree->objectForKey("Master Image List")
                                  ->objectForKey(keyOf(name).toStdString())
                                  ->objectForKey("RatingElsewhere");
        return seen ? seen->asInteger() : std::nullopt;
    }

    // ExifTool, an independent writer, sets the rating in the sidecar at `relative`; its rating
    // as ExifTool reads it back.
    QString exiftool(const QStringList& arguments) const
    {
        QProcess process;
        process.start(QStandardPaths::findExecutable(QStringLiteral("exiftool")), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    TemporaryConfigHome m_config;
    QTemporaryDir m_folder;
};
} // namespace

TEST_F(RatingElsewhereTest, RateWritesTheSidecarInTheNamingAskedFor)
{
    ASSERT_EQ(import().status, 0);
    const ToolRun rated = rate("a.jpg", 4);
    ASSERT_EQ(rated.status, 0) << rated.err;
    EXPECT_EQ(rated.err, "");
    EXPECT_TRUE(bytesOf("Photos/a.jpg.xmp").contains("xmp:Rating=\"4\""));
    EXPECT_EQ(ratingOf("a.jpg"), 4);

    ASSERT_EQ(rate("b.jpg", 2, {"--sidecar-naming", "base"}).status, 0);
    EXPECT_TRUE(bytesOf("Photos/b.xmp").contains("xmp:Rating=\"2\""));
    EXPECT_FALSE(QFile::exists(path("Photos/b.jpg.xmp")));

    // The setting in the program's settings file, and the option over it.
    ASSERT_TRUE(
        Preferences::setValue("SidecarNaming", PlistValue::string("base"), Preferences::applicationDomain));
    ASSERT_EQ(rate("c.jpg", 5).status, 0);
    EXPECT_TRUE(bytesOf("Photos/c.xmp").contains("xmp:Rating=\"5\""));
    ASSERT_EQ(rate("c.jpg", 3, {"--sidecar-naming=whole"}).status, 0);
    EXPECT_TRUE(bytesOf("Photos/c.jpg.xmp").contains("xmp:Rating=\"3\""));

    // The photo file itself only when asked.
    const QByteArray photo = bytesOf("Photos/a.jpg");
    ASSERT_EQ(rate("a.jpg", 1, {"--rating-in-photo"}).status, 0);
    EXPECT_NE(bytesOf("Photos/a.jpg"), photo);
    EXPECT_TRUE(bytesOf("Photos/a.jpg").contains("xmp:Rating=\"1\""));

    ASSERT_TRUE(
        Preferences::setValue("SidecarNaming", PlistValue::string("beside"), Preferences::applicationDomain));
    const ToolRun refused = rate("a.jpg", 2);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.starts_with("zuzire-library: the setting SidecarNaming in ")) << refused.err;
    EXPECT_EQ(run({"rate", "1", "2", "--sidecar-naming", "sideways"}).status, 2);
}

TEST_F(RatingElsewhereTest, ASidecarThatCannotBeWrittenStillRatesTheLibraryAndFails)
{
    ASSERT_EQ(import().status, 0);
    const QByteArray broken = "<x:xmpmeta><rdf:RDF";
    write("Photos/a.jpg.xmp", broken);
    const ToolRun malformed = rate("a.jpg", 4);
    EXPECT_EQ(malformed.status, 1);
    EXPECT_EQ(malformed.err, "zuzire-library: the sidecar " + path("Photos/a.jpg.xmp").toStdString() +
                                 " is no valid XMP; it is left as it is\n");
    EXPECT_EQ(ratingOf("a.jpg"), 4);
    EXPECT_EQ(bytesOf("Photos/a.jpg.xmp"), broken);

    const QByteArray sidecar = XmpTestFiles::darktableSidecar();
    write("Photos/b.jpg.xmp", sidecar);
    ASSERT_TRUE(QFile::setPermissions(path("Photos/b.jpg.xmp"), QFile::ReadOwner));
    const ToolRun readOnly = rate("b.jpg", 5);
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_EQ(readOnly.err, "zuzire-library: the sidecar " + path("Photos/b.jpg.xmp").toStdString() +
                                " is read-only; it is left as it is\n");
    EXPECT_EQ(ratingOf("b.jpg"), 5);
    EXPECT_EQ(bytesOf("Photos/b.jpg.xmp"), sidecar);
}

// The sidecar is made before the library is locked, from a guess of where the photo lies; the
// guess is only taken where the library, read under the lock, agrees.
TEST_F(RatingElsewhereTest, AWrongGuessOfThePhotosFileStillRatesTheRightSidecar)
{
    ASSERT_EQ(import().status, 0);
    QByteArray albumData = bytesOf("Library/AlbumData.xml");
    const QByteArray decoy = "<!-- <key>" + keyOf("a.jpg").toUtf8() +
                             "</key><dict><key>ImagePath</key><string>" + path("Photos/b.jpg").toUtf8() +
                             "</string></dict> -->";
    albumData.replace("<plist version=\"1.0\">", "<plist version=\"1.0\">" + decoy);
    ASSERT_TRUE(albumData.contains(decoy));
    write("Library/AlbumData.xml", albumData);
    const ToolRun rated = rate("a.jpg", 4);
    ASSERT_EQ(rated.status, 0) << rated.err;
    EXPECT_TRUE(bytesOf("Photos/a.jpg.xmp").contains("xmp:Rating=\"4\""));
    EXPECT_FALSE(QFile::exists(path("Photos/b.jpg.xmp")));
}

// The sidecar is written before the album data file: when the album data write fails, the
// rating is already where the next import finds it.
TEST_F(RatingElsewhereTest, TheSidecarIsWrittenBeforeTheLibrary)
{
    ASSERT_EQ(import().status, 0);
    const QString key = keyOf("a.jpg");
    QByteArray albumData = bytesOf("Library/AlbumData.xml");
    // Sound where the photo's path is found, refused by the program's reader further on.
    albumData.replace("</plist>", "<integer>twelve</integer></plist>");
    write("Library/AlbumData.xml", albumData);
    const ToolRun refused = run({"rate", key, "4"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(path("Library/AlbumData.xml").toStdString()), std::string::npos)
        << refused.err;
    EXPECT_EQ(bytesOf("Library/AlbumData.xml"), albumData);
    EXPECT_TRUE(bytesOf("Photos/a.jpg.xmp").contains("xmp:Rating=\"4\""));
}

TEST_F(RatingElsewhereTest, ImportTakesRatingsGivenElsewhereAndDoesNotOfferThemAgain)
{
    write("Photos/a.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"-1\"\n"));
    write("Photos/b.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"3\"\n"));
    write("Photos/d.jpg", XmpTestFiles::jpegWithXmpRating(5));
    write("Photos/e.jpg", XmpTestFiles::jpegWithExifRating(2));
    write("Photos/f.jpg", XmpTestFiles::jpegWithExifRating(1));
    write("Photos/g.jpg", XmpTestFiles::jpeg());
    write("Photos/g.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"4\"\n"));
    write("Photos/h.jpg", XmpTestFiles::jpeg());
    write("Photos/h.jpg.xmp", "broken");
    const ToolRun imported = import();
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("zuzire-library: warning: the sidecar " +
                                path("Photos/h.jpg.xmp").toStdString() +
                                " is no valid XMP; its rating is not read\n"),
              std::string::npos)
        << imported.err;

    const std::map<QString, int64_t> expected{{"a.jpg", -1}, {"b.jpg", 3}, {"c.jpg", 0}, {"d.jpg", 5},
                                              {"e.jpg", 2},  {"f.jpg", 1}, {"g.jpg", 4}, {"h.jpg", 0}};
    for (const auto& [name, rating] : expected)
        EXPECT_EQ(ratingOf(name), rating) << name.toStdString();
    // Only the photos rated nowhere are offered.
    EXPECT_EQ(run({"list", "--tsv"}).out, "2\t8\tPhotos\n");
}

TEST_F(RatingElsewhereTest, ReimportTakesChangesMadeElsewhereAndKeepsOurs)
{
    write("Photos/c.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"2\"\n"));
    ASSERT_EQ(import().status, 0);
    ASSERT_EQ(ratingOf("c.jpg"), 2);

    // a: rated here, then changed elsewhere: the change elsewhere is taken.
    ASSERT_EQ(rate("a.jpg", 4).status, 0);
    write("Photos/a.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"2\"\n"));
    // b: rated here while its sidecar could not be written: ours is kept.
    write("Photos/b.jpg.xmp", XmpTestFiles::darktableSidecar(""));
    ASSERT_TRUE(QFile::setPermissions(path("Photos/b.jpg.xmp"), QFile::ReadOwner));
    ASSERT_EQ(rate("b.jpg", 5).status, 1);
    // c: rated here without its sidecar, and changed elsewhere too: the change elsewhere wins.
    write("Photos/c.jpg.xmp", "broken");
    ASSERT_EQ(rate("c.jpg", 5).status, 1);
    write("Photos/c.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"1\"\n"));

    const ToolRun again = import();
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ratingOf("a.jpg"), 2);
    EXPECT_EQ(ratingOf("b.jpg"), 5);
    EXPECT_EQ(ratingOf("c.jpg"), 1);

    // Unchanged elsewhere since that import: ours stays, also when the sidecar disagrees.
    ASSERT_TRUE(QFile::setPermissions(path("Photos/b.jpg.xmp"), QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_EQ(rate("a.jpg", 3).status, 0);
    QFile::remove(path("Photos/a.jpg.xmp"));
    ASSERT_EQ(import().status, 0);
    EXPECT_EQ(ratingOf("a.jpg"), 3);
    EXPECT_EQ(ratingOf("b.jpg"), 5);
    EXPECT_EQ(ratingOf("c.jpg"), 1);
}

TEST_F(RatingElsewhereTest, ARatingSetBackElsewhereToTheOneSeenBeforeOursIsTaken)
{
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty())
        GTEST_SKIP() << "exiftool is missing: install libimage-exiftool-perl (scripts/setup.sh)";
    write("Photos/a.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"3\"\n"));
    ASSERT_EQ(import().status, 0);
    ASSERT_EQ(ratingOf("a.jpg"), 3);
    ASSERT_EQ(seenElsewhereOf("a.jpg"), 3);

    // Our rating reaches the sidecar, and the library records it as what other programs now see,
    // in place: a photo seen rated nowhere carries a 0 from the import, so the file keeps its size.
    EXPECT_EQ(seenElsewhereOf("b.jpg"), 0);
    const qint64 size = QFileInfo(path("Library/AlbumData.xml")).size();
    ASSERT_EQ(rate("a.jpg", 5).status, 0);
    ASSERT_EQ(rate("b.jpg", 4).status, 0);
    EXPECT_EQ(QFileInfo(path("Library/AlbumData.xml")).size(), size);
    EXPECT_EQ(seenElsewhereOf("a.jpg"), 5);
    EXPECT_EQ(seenElsewhereOf("b.jpg"), 4);
    EXPECT_EQ(exiftool({"-s3", "-XMP-xmp:Rating", path("Photos/a.jpg.xmp")}), "5");

    // Someone sets a back to the rating the last import saw; b is left alone.
    exiftool({"-overwrite_original", "-XMP-xmp:Rating=3", path("Photos/a.jpg.xmp")});
    ASSERT_EQ(exiftool({"-s3", "-XMP-xmp:Rating", path("Photos/a.jpg.xmp")}), "3");
    const ToolRun again = import();
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ratingOf("a.jpg"), 3);
    EXPECT_EQ(seenElsewhereOf("a.jpg"), 3);
    EXPECT_EQ(ratingOf("b.jpg"), 4);
    // The darktable history the sidecar held survives both writers.
    EXPECT_TRUE(bytesOf("Photos/a.jpg.xmp").contains("darktable:history"));

    // A rating whose sidecar could not be written is not recorded as seen elsewhere, so ours stays.
    ASSERT_TRUE(QFile::setPermissions(path("Photos/a.jpg.xmp"), QFile::ReadOwner));
    ASSERT_EQ(rate("a.jpg", 1).status, 1);
    EXPECT_EQ(seenElsewhereOf("a.jpg"), 3);
    ASSERT_EQ(import().status, 0);
    EXPECT_EQ(ratingOf("a.jpg"), 1);

    // The same for the first rating of contents another program left, which writes the rated file
    // before it knows where the photo's sidecar is.
    QFile library(path("Library/AlbumData.xml"));
    ASSERT_TRUE(library.open(QIODevice::Append));
    ASSERT_EQ(library.write("\n"), 1);
    library.close();
    ASSERT_EQ(rate("a.jpg", 2).status, 1);
    EXPECT_EQ(ratingOf("a.jpg"), 2);
    EXPECT_EQ(seenElsewhereOf("a.jpg"), 3);
}
