#include "library/AreaAveragingScaler.h"

#include "platform/foundation/OperationQueue.h"
#include "support/BlockedGlobalPool.h"
#include "support/CallOperation.h"

#include <QColorSpace>
#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {
// A grey image of one row or column per value list: levels[y][x].
QImage greys(const std::vector<std::vector<int>>& levels)
{
    QImage image(int(levels.front().size()), int(levels.size()), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(levels[size_t(y)][size_t(x)], levels[size_t(y)][size_t(x)], 0));
    }
    return image;
}

std::vector<std::vector<int>> redLevels(const QImage& image)
{
    std::vector<std::vector<int>> levels(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            levels[size_t(y)].push_back(qRed(image.pixel(x, y)));
    }
    return levels;
}

// How much of source pixel i, along an axis of `source` pixels, the area of target pixel t (of
// `target`) covers, in source pixels.
double coverage(int i, int t, int source, int target)
{
    const double ratio = double(source) / target;
    return std::max(0.0, std::min(i + 1.0, (t + 1) * ratio) - std::max(double(i), t * ratio));
}

// The exact area average of every channel, straight from the definition, in floating point.
std::vector<double> areaAverage(const QImage& image, int x, int y, const QSize& size)
{
    std::vector<double> sums(4, 0.0);
    for (int sy = 0; sy < image.height(); ++sy) {
        const double dy = coverage(sy, y, image.height(), size.height());
        for (int sx = 0; dy > 0 && sx < image.width(); ++sx) {
            const double weight = dy * coverage(sx, x, image.width(), size.width());
            const QRgb pixel = image.pixel(sx, sy);
            sums[0] += weight * qRed(pixel);
            sums[1] += weight * qGreen(pixel);
            sums[2] += weight * qBlue(pixel);
            sums[3] += weight * qAlpha(pixel);
        }
    }
    const double area = double(image.width()) / size.width() * image.height() / size.height();
    for (double& sum : sums)
        sum /= area;
    return sums;
}

QImage noise(int width, int height, QImage::Format format, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | (format == QImage::Format_RGB32 ? 0xff000000u : 0u));
    }
    return image.convertToFormat(format);
}

// A photo's kind of content: smooth gradients, hard edges, fine stripes and a little grain.
QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            int r = int(255 * u), g = int(255 * v), b = int(128 + 100 * std::sin(u * 9 + v * 5));
            if ((x / 37 + y / 53) % 5 == 0)
                r = 255 - r;
            if (x > width * 2 / 3 && (x / 3) % 2 == 0)
                g = 20;
            const int grain = int(random.bounded(9)) - 4;
            row[x] =
                qRgb(std::clamp(r + grain, 0, 255), std::clamp(g + grain, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

// The largest difference of any channel between two images of the same size; mean in `mean`.
int largestDifference(const QImage& a, const QImage& b, double* mean)
{
    int largest = 0;
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb l = a.pixel(x, y), r = b.pixel(x, y);
            for (const int d : {std::abs(qRed(l) - qRed(r)), std::abs(qGreen(l) - qGreen(r)),
                                std::abs(qBlue(l) - qBlue(r)), std::abs(qAlpha(l) - qAlpha(r))}) {
                largest = std::max(largest, d);
                total += d;
            }
        }
    }
    *mean = total / (4.0 * a.width() * a.height());
    return largest;
}
} // namespace

TEST(AreaAveragingScalerTest, eachTargetPixelIsTheCoverageWeightedMeanOfWhatItCovers)
{
    using Levels = std::vector<std::vector<int>>;
    // 3 → 2: thirds; 5 → 3: fifths, the middle pixel taking a whole one and two fifths of others.
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{0, 90, 255}}), QSize(2, 1))),
              (Levels{{30, 200}}));
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{10, 60, 110, 160, 210}}), QSize(3, 1))),
              (Levels{{30, 110, 190}}));
    // One pixel wide, along y; and all of an image into one pixel.
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{0}, {90}, {255}}), QSize(1, 2))),
              (Levels{{30}, {200}}));
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{0, 40}, {80, 120}}), QSize(1, 1))),
              (Levels{{60}}));
    // Both axes at once: 3 × 3 → 2 × 2 weighs the corner 4/9, edges 2/9 and the centre 1/9.
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{90, 0, 0}, {0, 0, 0}, {0, 0, 0}}), QSize(2, 2))),
              (Levels{{40, 0}, {0, 0}}));
    // A half rounds up.
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{0, 1}}), QSize(1, 1))), (Levels{{1}}));

    // Any ratio, on noise, against the definition in floating point: within the last level.
    for (const QSize& from : {QSize(17, 13), QSize(40, 7), QSize(1, 29), QSize(64, 64)}) {
        for (const QSize& to : {QSize(5, 3), QSize(16, 6), QSize(1, 1), QSize(1, 11), QSize(63, 2)}) {
            const QSize target = to.boundedTo(from);
            for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
                const QImage source =
                    noise(from.width(), from.height(), format, quint32(from.width() * 31 + to.width()));
                const QImage result = AreaAveragingScaler::scaled(source, target);
                ASSERT_EQ(result.size(), target);
                ASSERT_EQ(result.format(), format);
                int worst = 0;
                for (int y = 0; y < target.height(); ++y) {
                    for (int x = 0; x < target.width(); ++x) {
                        const std::vector<double> expected = areaAverage(source, x, y, target);
                        const QRgb found = result.pixel(x, y);
                        const int channels[] = {qRed(found), qGreen(found), qBlue(found), qAlpha(found)};
                        for (int c = 0; c < 4; ++c)
                            worst = std::max(
                                worst, int(std::ceil(std::abs(channels[c] - expected[size_t(c)]) - 0.5)));
                    }
                }
                EXPECT_LE(worst, 1) << from.width() << "x" << from.height() << " to " << target.width() << "x"
                                    << target.height() << ", format " << format;
            }
        }
    }
}

TEST(AreaAveragingScalerTest, opaqueStaysOpaqueAndPremultipliedStaysValid)
{
    const QImage opaque = AreaAveragingScaler::scaled(noise(101, 77, QImage::Format_RGB32, 1), QSize(33, 25));
    const QImage premultiplied =
        AreaAveragingScaler::scaled(noise(101, 77, QImage::Format_ARGB32_Premultiplied, 2), QSize(33, 25));
    for (int y = 0; y < 25; ++y) {
        for (int x = 0; x < 33; ++x) {
            ASSERT_EQ(qAlpha(opaque.pixel(x, y)), 255) << x << ", " << y;
            const QRgb p = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y))[x];
            ASSERT_TRUE(qRed(p) <= qAlpha(p) && qGreen(p) <= qAlpha(p) && qBlue(p) <= qAlpha(p))
                << x << ", " << y;
        }
    }
}

TEST(AreaAveragingScalerTest, growingAlongAnAxisInterpolatesBetweenTheNearestPixels)
{
    using Levels = std::vector<std::vector<int>>;
    // Centres at -¼, ¼, ¾ and 1¼ of a source pixel: the edges held, quarters between.
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{0, 200}}), QSize(4, 1))),
              (Levels{{0, 50, 150, 200}}));
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{80}}), QSize(3, 2))),
              (Levels{{80, 80, 80}, {80, 80, 80}}));
    // Shrinking across and growing down in one call.
    EXPECT_EQ(redLevels(AreaAveragingScaler::scaled(greys({{0, 40}, {200, 240}}), QSize(1, 4))),
              (Levels{{20}, {70}, {170}, {220}}));
}

TEST(AreaAveragingScalerTest, theSameSizeEmptyAndOtherFormats)
{
    const QImage source = noise(20, 10, QImage::Format_RGB32, 3);
    const QImage same = AreaAveragingScaler::scaled(source, source.size());
    EXPECT_EQ(same.constBits(), source.constBits());
    EXPECT_TRUE(AreaAveragingScaler::scaled(source, QSize(0, 5)).isNull());
    EXPECT_TRUE(AreaAveragingScaler::scaled(source, QSize(5, -1)).isNull());
    EXPECT_TRUE(AreaAveragingScaler::scaled(QImage(), QSize(5, 5)).isNull());

    // Other formats give what their conversion gives, resized; the colour space and text stay.
    QImage tagged = noise(30, 20, QImage::Format_ARGB32, 4);
    tagged.setColorSpace(QColorSpace::AdobeRgb);
    tagged.setText(QStringLiteral("Title"), QStringLiteral("Dunes"));
    const QImage fromArgb = AreaAveragingScaler::scaled(tagged, QSize(7, 9));
    EXPECT_EQ(fromArgb.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(fromArgb == AreaAveragingScaler::scaled(
                                tagged.convertToFormat(QImage::Format_ARGB32_Premultiplied), QSize(7, 9)));
    EXPECT_EQ(fromArgb.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    EXPECT_EQ(fromArgb.text(QStringLiteral("Title")), QStringLiteral("Dunes"));
    for (const auto format :
         {QImage::Format_Grayscale8, QImage::Format_Indexed8, QImage::Format_RGB888, QImage::Format_RGBX64}) {
        const QImage other = source.convertToFormat(format);
        const QImage resized = AreaAveragingScaler::scaled(other, QSize(6, 4));
        EXPECT_EQ(resized.format(), QImage::Format_RGB32) << format;
        EXPECT_TRUE(resized ==
                    AreaAveragingScaler::scaled(other.convertToFormat(QImage::Format_RGB32), QSize(6, 4)))
            << format;
    }
}

// What the photo loaders used before: the result may differ from Qt's smooth scale by its rounding.
TEST(AreaAveragingScalerTest, isCloseToQtsSmoothScaleOnAPhoto)
{
    const QImage photo = photoLike(1125, 750);
    for (const QSize& size : {QSize(960, 640), QSize(810, 540), QSize(301, 199), QSize(64, 43)}) {
        double mean = 0;
        const int largest =
            largestDifference(AreaAveragingScaler::scaled(photo, size),
                              photo.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), &mean);
        EXPECT_LE(largest, 2) << size.width();
        EXPECT_LT(mean, 0.5) << size.width();
    }
}

TEST(AreaAveragingScalerTest, neverWaitsForQtsSharedThreadPool)
{
    // Large enough that Qt's smooth scale would split it over its pool.
    const QImage photo = photoLike(1500, 1000);
    BlockedGlobalPool blocked;
    ASSERT_TRUE(blocked.isBlocked());
    auto resized =
        std::async(std::launch::async, [&] { return AreaAveragingScaler::scaled(photo, QSize(1200, 800)); });
    const bool returned = isReadyWithin(resized);
    blocked.release();
    EXPECT_TRUE(returned);
    EXPECT_EQ(resized.get().size(), QSize(1200, 800));
}

// A helper thread started for one resize can hold the main thread's processor for a scheduler
// tick, idle policy or not: a photo loader in the background resizes alone, to the same pixels.
TEST(AreaAveragingScalerTest, aBackgroundWorkersResizeStartsNoHelperThread)
{
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one processor: no resize is split";
    const QImage photo = photoLike(1500, 1000);
    const QSize size(1200, 800);
    const int before = AreaAveragingScaler::helperThreadsStartedForTesting();
    const QImage foreground = AreaAveragingScaler::scaled(photo, size);
    EXPECT_EQ(AreaAveragingScaler::helperThreadsStartedForTesting(), before + 1);

    OperationQueue loaders(1);
    loaders.setWorkersRunInBackground(true);
    QImage background;
    loaders.addOperation(
        CallOperation::make([&](CallOperation&) { background = AreaAveragingScaler::scaled(photo, size); }));
    loaders.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(AreaAveragingScaler::helperThreadsStartedForTesting(), before + 1);
    EXPECT_EQ(background, foreground);
}
