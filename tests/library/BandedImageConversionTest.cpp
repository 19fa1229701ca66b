#include "library/BandedImageConversion.h"

#include "support/BlockedGlobalPool.h"

#include <QRandomGenerator>
#include <future>
#include <gtest/gtest.h>

namespace {
QImage noise(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random.generate();
    }
    return image;
}
} // namespace

// Several bands, the last one partial (a 300-pixel row makes bands of 218 rows).
TEST(BandedImageConversionTest, givesThePixelsOfQtsWholeImageConversion)
{
    const QImage source = noise(300, 500, 1);
    for (const auto from : {QImage::Format_ARGB32, QImage::Format_Grayscale8, QImage::Format_Indexed8,
                            QImage::Format_RGB888, QImage::Format_RGBA64, QImage::Format_RGB32}) {
        for (const auto to : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
            QImage image = source.convertToFormat(from);
            image.setColorSpace(QColorSpace::DisplayP3);
            image.setText(QStringLiteral("Title"), QStringLiteral("Dunes"));
            const QImage expected = image.convertToFormat(to);
            BandedImageConversion::convertTo(image, to);
            EXPECT_EQ(image.format(), to) << from;
            EXPECT_TRUE(image == expected) << from << " to " << to;
            EXPECT_EQ(image.colorSpace(), QColorSpace(QColorSpace::DisplayP3)) << from;
            EXPECT_EQ(image.text(QStringLiteral("Title")), QStringLiteral("Dunes")) << from;
        }
    }
    QImage null;
    BandedImageConversion::convertTo(null, QImage::Format_RGB32);
    EXPECT_TRUE(null.isNull());
}

TEST(BandedImageConversionTest, colourSpacesAreConvertedInPlaceAsQtConvertsThem)
{
    for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        QImage image = noise(300, 500, 2).convertToFormat(format);
        image.setColorSpace(QColorSpace::AdobeRgb);
        QImage expected = image;
        expected.convertToColorSpace(QColorSpace::SRgb);
        const QImage before = image;
        BandedImageConversion::convertToColorSpace(image, QColorSpace::SRgb);
        EXPECT_TRUE(image == expected) << format;
        EXPECT_EQ(image.colorSpace(), QColorSpace(QColorSpace::SRgb));
        EXPECT_EQ(before.colorSpace(), QColorSpace(QColorSpace::AdobeRgb))
            << "a copy that shared the pixels kept them";
        EXPECT_FALSE(before == image);
    }
    // Nothing to convert from, or to the colour space it has: left as it is.
    QImage untagged = noise(20, 10, 3).convertToFormat(QImage::Format_RGB32);
    const QImage copy = untagged;
    BandedImageConversion::convertToColorSpace(untagged, QColorSpace::SRgb);
    EXPECT_EQ(untagged.constBits(), copy.constBits());
    EXPECT_FALSE(untagged.colorSpace().isValid());
}

TEST(BandedImageConversionTest, neverWaitsForQtsSharedThreadPool)
{
    // A strip photo's size: Qt would split its conversions over the pool.
    QImage photo = noise(1060, 707, 4);
    photo.setColorSpace(QColorSpace::AdobeRgb);
    BlockedGlobalPool blocked;
    ASSERT_TRUE(blocked.isBlocked());
    auto converted = std::async(std::launch::async, [&] {
        QImage image = photo;
        BandedImageConversion::convertTo(image, QImage::Format_ARGB32_Premultiplied);
        BandedImageConversion::convertToColorSpace(image, QColorSpace::SRgb);
        return image;
    });
    const bool returned = isReadyWithin(converted);
    blocked.release();
    EXPECT_TRUE(returned);
    EXPECT_EQ(converted.get().colorSpace(), QColorSpace(QColorSpace::SRgb));
}
