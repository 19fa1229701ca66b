#include "library/ScaledJpegDecoder.h"

#include <QBuffer>
#include <QImageWriter>
#include <gtest/gtest.h>

// Decoding turned as the rows come must give the very pixels of decoding and turning afterwards.
namespace {
// Every pixel different from its neighbours, so any pixel put in the wrong place shows.
QImage pattern(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb((x * 37 + y * 11) % 256, (x * 5 + y * 53) % 256, (x * y * 7 + x) % 256));
    }
    return image.convertToFormat(format);
}

QByteArray jpeg(const QImage& image, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}
} // namespace

TEST(ScaledJpegDecoderTest, turnedWhileDecodingGivesThePixelsOfTurningAfterwards)
{
    struct Case {
        const char* what;
        QByteArray data;
        unsigned maxPixelSize;
    };
    const QByteArray colour = jpeg(pattern(45, 37, QImage::Format_RGB32));
    const QByteArray wide = jpeg(pattern(300, 200, QImage::Format_RGB32));
    const Case cases[] = {
        {"odd size, partial blocks, at full size", colour, 0},
        {"progressive", jpeg(pattern(45, 37, QImage::Format_RGB32), true), 0},
        {"grey", jpeg(pattern(45, 37, QImage::Format_Grayscale8)), 0},
        {"an exact DCT scale, no resize after it", wide, 150},
        {"a DCT scale and a resize after it", wide, 250},
        // More rows than a band holds: whole bands and a partial last one.
        {"several bands, the last one partial", jpeg(pattern(90, 300, QImage::Format_RGB32)), 0},
    };
    for (const Case& test : cases) {
        for (int orientation = 0; orientation <= 9; ++orientation) {
            const QImage expected = ScaledJpegDecoder::turned(
                ScaledJpegDecoder::decode(test.data, test.maxPixelSize), orientation);
            const QImage turned = ScaledJpegDecoder::decodeTurned(test.data, test.maxPixelSize, orientation);
            ASSERT_FALSE(expected.isNull()) << test.what;
            EXPECT_EQ(turned.format(), QImage::Format_RGB32) << test.what << ", orientation " << orientation;
            EXPECT_TRUE(turned == expected) << test.what << ", orientation " << orientation;
        }
    }
}

TEST(ScaledJpegDecoderTest, damagedDataTurnedGivesWhatTheStoredDecodeRecoversOrNothing)
{
    const QByteArray whole = jpeg(pattern(64, 48, QImage::Format_RGB32));
    const QByteArray cut = whole.left(whole.size() * 2 / 3);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QImage expected = ScaledJpegDecoder::turned(ScaledJpegDecoder::decode(cut, 0), orientation);
        ASSERT_FALSE(expected.isNull());
        EXPECT_TRUE(ScaledJpegDecoder::decodeTurned(cut, 0, orientation) == expected) << orientation;
        EXPECT_TRUE(ScaledJpegDecoder::decodeTurned(whole.left(300), 0, orientation).isNull()) << orientation;
        EXPECT_TRUE(ScaledJpegDecoder::decodeTurned(QByteArray("\xFF\xD8 no JPEG"), 0, orientation).isNull());
    }
}
