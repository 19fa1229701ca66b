#include "library/PhotoDecoder.h"

#include "library/AlbumInfo.h"
#include "library/RawPreview.h"
#include "platform/foundation/RegularFile.h"
#include "support/BlockedGlobalPool.h"
#include "support/RawLikePhotos.h"
#include "support/TimeLimit.h"
#include "tools/library/ExifOrientation.h"

#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// Camera RAW files, shown through their largest embedded preview.
namespace {
using Format = RawLikeFile::Format;

// The mean absolute difference per channel, 0-255; -1 when the sizes differ.
double meanDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb l = a.pixel(x, y), r = b.pixel(x, y);
            total +=
                std::abs(qRed(l) - qRed(r)) + std::abs(qGreen(l) - qGreen(r)) + std::abs(qBlue(l) - qBlue(r));
        }
    }
    return total / (3.0 * a.width() * a.height());
}

// Whether the pixel at the centre of each quarter has that quarter's colour (see quarters()).
::testing::AssertionResult isUprightQuarters(const QImage& image)
{
    const struct {
        double x, y;
        QRgb colour;
    } probes[] = {{0.25, 0.25, qRgb(220, 0, 0)},
                  {0.75, 0.25, qRgb(0, 200, 0)},
                  {0.25, 0.75, qRgb(0, 0, 220)},
                  {0.75, 0.75, qRgb(255, 255, 255)}};
    for (const auto& probe : probes) {
        const QRgb found = image.pixel(int(probe.x * image.width()), int(probe.y * image.height()));
        if (std::abs(qRed(found) - qRed(probe.colour)) > 40 ||
            std::abs(qGreen(found) - qGreen(probe.colour)) > 40 ||
            std::abs(qBlue(found) - qBlue(probe.colour)) > 40)
            return ::testing::AssertionFailure() << "at (" << probe.x << ", " << probe.y << ") found "
                                                 << std::hex << found << " instead of " << probe.colour;
    }
    return ::testing::AssertionSuccess();
}
} // namespace

class PhotoDecoderTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString path(const QString& name) const { return m_folder.filePath(name); }

    // `file`, holding a 3:2 photo of quarters stored with EXIF `orientation`, decoded at 300 pixels:
    // upright, and the same pixels as the image reader's, give or take the rounding of the two.
    static void expectShownAsTheReaderShowsIt(const QString& file, int orientation)
    {
        const QImage shown = PhotoDecoder::decode(file, 300);
        EXPECT_EQ(shown.size(), QSize(300, 200)) << orientation;
        EXPECT_TRUE(isUprightQuarters(shown)) << orientation;
        QImageReader reader(file);
        reader.setAutoTransform(true);
        reader.setScaledSize(orientation >= 5 ? QSize(200, 300) : QSize(300, 200));
        const double difference = meanDifference(shown, reader.read());
        EXPECT_TRUE(difference >= 0 && difference < 1.0) << orientation << ": " << difference;
    }

    QTemporaryDir m_folder;
};

TEST_F(PhotoDecoderTest, aRawFileIsDecodedThroughItsPreviewAsTheSameJpegWouldBe)
{
    const QImage upright = RawLikePhotos::quarters(900, 600);
    for (const Format format : RawLikeFile::formats) {
        for (const int orientation : {1, 6}) {
            const QString suffix = RawLikeFile::suffix(format);
            const QString raw = path(QStringLiteral("photo%1.%2").arg(orientation).arg(suffix));
            ASSERT_TRUE(RawLikePhotos::write(raw, format, upright, orientation));
            // The same preview as a JPEG file of its own, marked with the same orientation.
            const QString jpeg = path(QStringLiteral("preview-%1-%2.jpg").arg(suffix).arg(orientation));
            QFile file(jpeg);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(ExifOrientation::withOrientation(
                RawLikePhotos::jpeg(RawLikePhotos::stored(upright, orientation)), orientation));
            file.close();

            EXPECT_EQ(PhotoDecoder::displayedSize(raw), QSize(900, 600)) << suffix.toStdString();
            // The preview is handed to the scaled JPEG decode as a JPEG, also where the file wraps it
            // in a TIFF image of its own (DNG).
            const auto preview = RawPreview::read(raw);
            ASSERT_TRUE(preview) << suffix.toStdString();
            EXPECT_TRUE(preview->data().startsWith("\xFF\xD8")) << suffix.toStdString();
            // At the size asked for, as the program asks for it (above the thumbnails' size).
            AlbumInfo albumInfo;
            const QImage shown = albumInfo.imageForItem(
                PlistValue::dictionary({{"ImagePath", PlistValue::string(raw.toStdString())}}), 600);
            EXPECT_EQ(shown.size(), QSize(600, 400)) << suffix.toStdString() << " " << orientation;
            EXPECT_TRUE(isUprightQuarters(shown)) << suffix.toStdString() << " " << orientation;
            const double difference = meanDifference(shown, PhotoDecoder::decode(jpeg, 600));
            EXPECT_TRUE(difference >= 0 && difference < 0.5)
                << suffix.toStdString() << " " << orientation << ": " << difference;
            // Never enlarged; 0 is the preview's full size.
            EXPECT_EQ(PhotoDecoder::decode(raw, 5000).size(), QSize(900, 600)) << suffix.toStdString();
            EXPECT_EQ(PhotoDecoder::decode(raw, 0).size(), QSize(900, 600)) << suffix.toStdString();
        }
    }
}

TEST_F(PhotoDecoderTest, everyOrientationTurnsThePreviewUprightOnce)
{
    // DNG keeps the orientation in the RAW's own metadata only; RAF and RW2 also in the preview's
    // EXIF, which must not turn it a second time.
    const QImage upright = RawLikePhotos::quarters(300, 200);
    for (const Format format : {Format::Dng, Format::Raf, Format::Rw2, Format::Cr3}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QString raw = path(
                QStringLiteral("turned%1.%2").arg(orientation).arg(RawLikeFile::suffix(format).toLower()));
            ASSERT_TRUE(RawLikePhotos::write(raw, format, upright, orientation));
            const QImage image = PhotoDecoder::decode(raw, 150);
            EXPECT_EQ(image.size(), QSize(150, 100)) << raw.toStdString();
            EXPECT_TRUE(isUprightQuarters(image)) << raw.toStdString();
            EXPECT_EQ(PhotoDecoder::displayedSize(raw), QSize(300, 200)) << raw.toStdString();
        }
    }
}

TEST_F(PhotoDecoderTest, aRawFileWithNothingToShowGivesNoImageAndSaysWhy)
{
    for (const Format format : RawLikeFile::formats) {
        const QString suffix = RawLikeFile::suffix(format);
        const QString raw = path(QStringLiteral("empty.%1").arg(suffix));
        QFile file(raw);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(RawLikeFile::make(format, {}, {}, 1));
        file.close();
        Error error;
        EXPECT_TRUE(PhotoDecoder::decode(raw, 300, &error).isNull()) << suffix.toStdString();
        EXPECT_NE(error.localizedDescription().find("empty." + suffix.toStdString()), std::string::npos)
            << error.description();
        EXPECT_FALSE(PhotoDecoder::displayedSize(raw).isValid()) << suffix.toStdString();
        EXPECT_FALSE(RawPreview::read(raw)) << suffix.toStdString();
    }

    // A JPEG under a RAW name is refused, not shown through its EXIF thumbnail.
    const QString renamed = path(QStringLiteral("renamed.nef"));
    QFile file(renamed);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(RawLikePhotos::jpeg(RawLikePhotos::quarters(60, 40)));
    file.close();
    Error error;
    EXPECT_TRUE(PhotoDecoder::decode(renamed, 30, &error).isNull());
    EXPECT_EQ(error.failureReason(), "not a NEF file") << error.description();
    // A CR2 is no DNG, though both are TIFF files at heart.
    const QString cr2AsDng = path(QStringLiteral("cr2.dng"));
    ASSERT_TRUE(RawLikePhotos::write(cr2AsDng, Format::Cr2, RawLikePhotos::quarters(60, 40)));
    EXPECT_TRUE(PhotoDecoder::decode(cr2AsDng, 30, &error).isNull());
    EXPECT_EQ(error.failureReason(), "not a DNG file") << error.description();
}

TEST_F(PhotoDecoderTest, damagedRawFilesGiveNoImageNeverACrash)
{
    const QImage upright = RawLikePhotos::quarters(200, 100);
    for (const Format format : RawLikeFile::formats) {
        const QString suffix = RawLikeFile::suffix(format);
        const QString whole = path(QStringLiteral("whole.%1").arg(suffix));
        ASSERT_TRUE(RawLikePhotos::write(whole, format, upright));
        QFile source(whole);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QByteArray bytes = source.readAll();
        // Cut short at several places, and with the bytes after the header scrambled.
        for (const qsizetype length : {qsizetype(0), qsizetype(12), bytes.size() / 3, bytes.size() - 10}) {
            const QString cut = path(QStringLiteral("cut%1.%2").arg(length).arg(suffix));
            QFile file(cut);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes.left(length));
            file.close();
            const QImage image = PhotoDecoder::decode(cut, 100);
            // A file cut inside its preview may still show what was decoded of it, at its size.
            if (!image.isNull()) {
                EXPECT_EQ(image.size(), QSize(100, 50)) << suffix.toStdString() << " " << length;
            }
        }
        QByteArray scrambled = bytes;
        for (qsizetype i = 16; i < scrambled.size(); i += 7)
            scrambled[i] = char(scrambled[i] ^ 0x5A);
        const QString damaged = path(QStringLiteral("scrambled.%1").arg(suffix));
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(scrambled);
        file.close();
        PhotoDecoder::decode(damaged, 100);
        PhotoDecoder::displayedSize(damaged);
    }
}

TEST_F(PhotoDecoderTest, onlyRegularRawFilesWithinTheSizeLimitAreOpened)
{
    const QString fifo = path(QStringLiteral("pipe.dng"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = path(QStringLiteral("folder.cr2"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString device = path(QStringLiteral("device.nef"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), device));
    // Sparse: larger than the limit without taking the disk.
    const QString huge = path(QStringLiteral("huge.arw"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(RawLikeFile::make(Format::Arw, RawLikePhotos::jpeg(RawLikePhotos::quarters(60, 40)),
                                     {60, 40}, 1));
        ASSERT_TRUE(file.resize(RegularFile::maximumSize + 1));
    }
    const struct {
        QString path;
        const char* expected;
    } odd[] = {{fifo, "named pipe"}, {folder, "folder"}, {device, "device"}, {huge, "larger than 2 GB"}};
    // A reader that opened the FIFO would wait for a writer for ever.
    const TimeLimit limit;
    for (const auto& file : odd) {
        Error error;
        EXPECT_TRUE(PhotoDecoder::decode(file.path, 100, &error).isNull()) << file.expected;
        EXPECT_NE(error.localizedDescription().find(file.expected), std::string::npos) << error.description();
        EXPECT_FALSE(PhotoDecoder::displayedSize(file.path).isValid()) << file.expected;
    }
}

TEST_F(PhotoDecoderTest, aPreviewClaimingHugeDimensionsIsRefusedBeforeItsPixelsAreMade)
{
    // A small JPEG whose frame header claims 65000 × 65000 pixels: even at the decoder's smallest
    // scale its pixels would pass Qt's allocation limit.
    QByteArray jpeg = RawLikePhotos::jpeg(RawLikePhotos::quarters(60, 40));
    const qsizetype frame = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    for (const qsizetype at : {frame + 5, frame + 7}) {
        jpeg[at] = char(0xFD);
        jpeg[at + 1] = char(0xE8);
    }
    const QString raw = path(QStringLiteral("huge.NEF"));
    QFile file(raw);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(RawLikeFile::make(Format::Nef, jpeg, {65000, 65000}, 1));
    file.close();
    EXPECT_EQ(PhotoDecoder::displayedSize(raw), QSize(65000, 65000));
    for (const unsigned size : {1920u, 0u})
        EXPECT_TRUE(PhotoDecoder::decode(raw, size).isNull()) << size;
}

TEST_F(PhotoDecoderTest, anOrfShowsTheLargePreviewItsMakerNoteHolds)
{
    // The preview lies in the camera maker's note, found through its camera settings, beside a
    // thumbnail of its own in the note.
    const QImage upright = RawLikePhotos::quarters(900, 600);
    const QByteArray preview = RawLikePhotos::jpeg(upright);
    const QString raw = path(QStringLiteral("P1010001.ORF"));
    QFile file(raw);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(RawLikeFile::make(Format::Orf, preview, upright.size(), 1));
    file.close();
    const auto found = RawPreview::read(raw);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->data(), preview);
    const QImage shown = PhotoDecoder::decode(raw, 450);
    EXPECT_EQ(shown.size(), QSize(450, 300));
    EXPECT_TRUE(isUprightQuarters(shown));

    // An independent reader finds the same structure: the note's preview, and its thumbnail.
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        GTEST_SKIP() << "exiftool is missing: install libimage-exiftool-perl (scripts/setup.sh)";
    const auto extract = [&](const char* tag) {
        QProcess process;
        process.start(exiftool, {"-b", QStringLiteral("-%1").arg(QLatin1String(tag)), raw});
        EXPECT_TRUE(process.waitForFinished(60000));
        return process.readAllStandardOutput();
    };
    EXPECT_EQ(extract("Olympus:PreviewImage"), preview);
    EXPECT_EQ(QImage::fromData(extract("Olympus:ThumbnailImage")).size(), QSize(160, 120));
}

TEST_F(PhotoDecoderTest, aCamerasLosslessSensorDataIsNotTakenForItsPreview)
{
    // A DNG keeps its sensor data as a lossless JPEG strip in a sub-image, larger than the preview
    // (see RawLikeFile): no decoder here takes it, so it must not be chosen as the largest preview.
    const QString raw = path(QStringLiteral("IMG_0001.DNG"));
    ASSERT_TRUE(RawLikePhotos::write(raw, Format::Dng, RawLikePhotos::quarters(900, 600)));
    EXPECT_EQ(PhotoDecoder::displayedSize(raw), QSize(900, 600));
    EXPECT_EQ(PhotoDecoder::decode(raw, 450).size(), QSize(450, 300));
}

TEST_F(PhotoDecoderTest, aJpegFileIsShownAsTheImageReaderWouldShowIt)
{
    const QImage upright = RawLikePhotos::quarters(600, 400);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString jpeg = path(QStringLiteral("turned%1.jpg").arg(orientation));
        QFile file(jpeg);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ExifOrientation::withOrientation(
            RawLikePhotos::jpeg(RawLikePhotos::stored(upright, orientation)), orientation));
        file.close();
        expectShownAsTheReaderShowsIt(jpeg, orientation);
    }

    // A colour profile is kept for the conversion to the screen's colours.
    QImage wide = upright;
    wide.setColorSpace(QColorSpace::AdobeRgb);
    const QString profiled = path(QStringLiteral("wide.jpg"));
    ASSERT_TRUE(wide.save(profiled, "JPG", 90));
    EXPECT_EQ(PhotoDecoder::decode(profiled, 300).colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    EXPECT_FALSE(PhotoDecoder::decode(path(QStringLiteral("turned1.jpg")), 300).colorSpace().isValid());

    // Cut short: what was decoded, at its size, or nothing, never a crash; other formats as before.
    QFile whole(path(QStringLiteral("turned1.jpg")));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    for (const qsizetype length : {qsizetype(3), qsizetype(40), bytes.size() / 2}) {
        QFile cut(path(QStringLiteral("cut%1.jpg").arg(length)));
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
        cut.write(bytes.left(length));
        cut.close();
        const QImage image = PhotoDecoder::decode(cut.fileName(), 300);
        if (!image.isNull()) {
            EXPECT_EQ(image.size(), QSize(300, 200)) << length;
        }
    }
    ASSERT_TRUE(upright.save(path(QStringLiteral("plain.png"))));
    EXPECT_EQ(PhotoDecoder::decode(path(QStringLiteral("plain.png")), 300).size(), QSize(300, 200));
}

// Formats whose reader cannot scale while it reads are read whole and resized by the decoder, then
// turned as the reader would turn them.
TEST_F(PhotoDecoderTest, aFileTheReaderCannotScaleIsResizedAndTurnedAsTheReaderWould)
{
    const QImage upright = RawLikePhotos::quarters(600, 400);
    // What each EXIF orientation is called in the writer's terms.
    const QImageIOHandler::Transformations transformations[] = {
        QImageIOHandler::TransformationNone,
        QImageIOHandler::TransformationMirror,
        QImageIOHandler::TransformationRotate180,
        QImageIOHandler::TransformationFlip,
        QImageIOHandler::TransformationFlipAndRotate90,
        QImageIOHandler::TransformationRotate90,
        QImageIOHandler::TransformationMirrorAndRotate90,
        QImageIOHandler::TransformationRotate270};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString tiff = path(QStringLiteral("turned%1.tif").arg(orientation));
        QImageWriter writer(tiff, "tiff");
        writer.setTransformation(transformations[orientation - 1]);
        ASSERT_TRUE(writer.write(RawLikePhotos::stored(upright, orientation)))
            << writer.errorString().toStdString();
        expectShownAsTheReaderShowsIt(tiff, orientation);
    }
    // At its own size or asked for larger: as it is stored, turned.
    EXPECT_EQ(PhotoDecoder::decode(path(QStringLiteral("turned6.tif")), 0).size(), QSize(600, 400));
    EXPECT_EQ(PhotoDecoder::decode(path(QStringLiteral("turned6.tif")), 900).size(), QSize(600, 400));

    // A file the reader gives up on gives nothing, as before.
    QFile whole(path(QStringLiteral("turned1.tif")));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    QFile cut(path(QStringLiteral("cut.tif")));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(whole.read(200));
    cut.close();
    EXPECT_TRUE(PhotoDecoder::decode(cut.fileName(), 300).isNull());
}

// Qt's smooth scale, and so the image reader's resize, hands large images to the shared thread
// pool, whose threads run at normal priority: a photo loader at idle priority must not use it.
TEST_F(PhotoDecoderTest, photosAreDecodedWithoutQtsSharedThreadPool)
{
    const QImage upright = RawLikePhotos::quarters(2400, 1600);
    // TIFF's reader cannot scale while it reads (PNG's can, on its own thread).
    const QString tiff = path(QStringLiteral("large.tif"));
    const QString jpeg = path(QStringLiteral("large.jpg"));
    ASSERT_TRUE(upright.save(tiff));
    ASSERT_TRUE(upright.save(jpeg, "JPG", 90));
    BlockedGlobalPool blocked;
    ASSERT_TRUE(blocked.isBlocked());
    // Sizes that need a resize after the JPEG's DCT scaling, large enough for Qt to split it.
    auto decoded = std::async(std::launch::async, [&] {
        return std::pair(PhotoDecoder::decode(tiff, 1000), PhotoDecoder::decode(jpeg, 1000));
    });
    const bool returned = isReadyWithin(decoded);
    blocked.release();
    EXPECT_TRUE(returned);
    const auto [fromTiff, fromJpeg] = decoded.get();
    EXPECT_EQ(fromTiff.size(), QSize(1000, 667));
    EXPECT_EQ(fromJpeg.size(), QSize(1000, 667));
}

// A file is taken as RAW by the suffix of its own name, in any case: a dot in a folder's name or a
// longer suffix is none.
TEST(RawPreviewSuffixTest, onlyTheFileNamesOwnSuffixCounts)
{
    for (const char* name : {"/photos/IMG_0001.ARW", "/photos/img_0001.arw", "DSC.Nef", "/a.b/c.cr3", ".dng"})
        EXPECT_TRUE(RawPreview::hasRawSuffix(QString::fromUtf8(name))) << name;
    for (const char* name : {"/photos/IMG_0001.JPG", "/photos.arw/IMG_0001", "/photos/IMG.arw.jpg",
                             "/photos/IMG.arwx", "/photos/IMG.ar", "/photos/IMG.", "/photos/arw", ""})
        EXPECT_FALSE(RawPreview::hasRawSuffix(QString::fromUtf8(name))) << name;
}
