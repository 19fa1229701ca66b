#include "tools/library/LibraryImporter.h"

#include "platform/foundation/PropertyListSerialization.h"
#include "support/RawLikePhotos.h"

#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Camera RAW files in the folders imported.
namespace {
using Format = RawLikeFile::Format;

// Whether the centre of each quarter of `image` has the colour quarters() gives it.
bool isUprightQuarters(const QImage& image)
{
    const QRgb expected[] = {qRgb(220, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 220), qRgb(255, 255, 255)};
    for (int quarter = 0; quarter < 4; ++quarter) {
        const QRgb found = image.pixel(image.width() * (1 + 2 * (quarter % 2)) / 4,
                                       image.height() * (1 + 2 * (quarter / 2)) / 4);
        if (std::abs(qRed(found) - qRed(expected[quarter])) > 40 ||
            std::abs(qGreen(found) - qGreen(expected[quarter])) > 40 ||
            std::abs(qBlue(found) - qBlue(expected[quarter])) > 40)
            return false;
    }
    return true;
}
} // namespace

class LibraryImporterTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString path(const QString& relative) const { return m_folder.filePath(relative); }

    bool import(const QString& folder)
    {
        LibraryImporter importer(path(QStringLiteral("Library")));
        importer.setWarningHandler([this](const QString& message) { m_warnings << message; });
        Error error;
        const bool done = importer.import({path(folder)}, &error);
        EXPECT_TRUE(done) << error.description();
        m_summary = importer.summary();
        return done;
    }

    // Photo entries by file name.
    std::map<QString, PlistPtr> entries() const
    {
        std::map<QString, PlistPtr> found;
        const PlistPtr tree =
            PropertyListSerialization::readFile(path(QStringLiteral("Library/AlbumData.xml")));
        if (!tree)
            return found;
        for (const auto& [key, value] : *tree->objectForKey("Master Image List")->asDictionary())
            found.emplace(
                QFileInfo(QString::fromStdString(*value->objectForKey("ImagePath")->asString())).fileName(),
                value);
        return found;
    }

    QTemporaryDir m_folder;
    QStringList m_warnings;
    LibraryImporter::Summary m_summary;
};

TEST_F(LibraryImporterTest, everyRawFormatIsAPhotoWithItsPreviewAsThumbnail)
{
    // Suffixes in the cases cameras and people write them; every other photo taken turned.
    const QImage upright = RawLikePhotos::quarters(720, 480);
    QStringList names;
    int turn = 0;
    for (const Format format : RawLikeFile::formats) {
        QString suffix = RawLikeFile::suffix(format);
        if (turn == 1)
            suffix = suffix.toLower();
        else if (turn == 2)
            suffix = suffix.left(1) + suffix.mid(1).toLower();
        names << QStringLiteral("IMG_%1.%2").arg(names.size()).arg(suffix);
        ASSERT_TRUE(
            RawLikePhotos::write(path("Photos/" + names.back()), format, upright, names.size() % 2 ? 1 : 6));
        turn = (turn + 1) % 3;
    }
    ASSERT_TRUE(import(QStringLiteral("Photos")));
    EXPECT_TRUE(m_warnings.isEmpty()) << m_warnings.join('\n').toStdString();
    EXPECT_EQ(m_summary.added, 8);
    EXPECT_EQ(m_summary.skipped, 0);

    const auto found = entries();
    ASSERT_EQ(found.size(), 8u);
    for (const QString& name : names) {
        const auto entry = found.find(name);
        ASSERT_NE(entry, found.end()) << name.toStdString();
        const PlistPtr photo = entry->second;
        // The RAW file itself is the photo, so its rating goes where other programs look for it.
        EXPECT_EQ(*photo->objectForKey("ImagePath")->asString(),
                  QFileInfo(path("Photos/" + name)).canonicalFilePath().toStdString());
        EXPECT_EQ(*photo->objectForKey("MediaType")->asString(), "Image");
        EXPECT_DOUBLE_EQ(*photo->objectForKey("Aspect Ratio")->asReal(), 1.5) << name.toStdString();
        QImageReader thumbnail(QString::fromStdString(*photo->objectForKey("ThumbPath")->asString()));
        const QImage image = thumbnail.read();
        EXPECT_EQ(image.size(), QSize(360, 240)) << name.toStdString();
        EXPECT_TRUE(isUprightQuarters(image)) << name.toStdString();
    }
}

TEST_F(LibraryImporterTest, aRawFileWithoutAUsablePreviewIsSkippedByName)
{
    const QImage upright = RawLikePhotos::quarters(200, 100);
    ASSERT_TRUE(RawLikePhotos::write(path("Photos/kept.ORF"), Format::Orf, upright));
    for (const char* name : {"Photos/none.NEF", "Photos/none.cr3"}) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(RawLikeFile::make(QString::fromLatin1(name).endsWith("NEF") ? Format::Nef : Format::Cr3,
                                     {}, {}, 1));
    }
    // A JPEG under a RAW name is no RAW file.
    QFile renamed(path("Photos/renamed.CR2"));
    ASSERT_TRUE(renamed.open(QIODevice::WriteOnly));
    renamed.write(RawLikePhotos::jpeg(upright));
    renamed.close();

    ASSERT_TRUE(import(QStringLiteral("Photos")));
    EXPECT_EQ(m_summary.added, 1);
    EXPECT_EQ(m_summary.skipped, 3);
    const QString folder = QFileInfo(path("Photos")).canonicalFilePath();
    EXPECT_TRUE(m_warnings.contains("skipped " + folder +
                                    "/none.NEF: no usable embedded preview (no embedded preview image)"))
        << m_warnings.join('\n').toStdString();
    EXPECT_TRUE(m_warnings.contains("skipped " + folder +
                                    "/none.cr3: no usable embedded preview (no embedded preview image)"))
        << m_warnings.join('\n').toStdString();
    EXPECT_TRUE(m_warnings.contains("skipped " + folder +
                                    "/renamed.CR2: no usable embedded preview (not a CR2 file)"))
        << m_warnings.join('\n').toStdString();
    const auto found = entries();
    EXPECT_EQ(found.size(), 1u);
    EXPECT_TRUE(found.contains(QStringLiteral("kept.ORF")));
}
