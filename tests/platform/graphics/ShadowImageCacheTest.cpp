#include "platform/graphics/ShadowImageCache.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(ShadowImageCacheTest, AShadowMadeOnAnotherThreadIsTheOneTheMainThreadFinds)
{
    ShadowImageCache::clearForTesting();
    const QImage direct = ShadowImageCache::blurredRect(QSize(300, 200), 6.0, Qt::black);
    ShadowImageCache::clearForTesting();
    std::thread([] { ShadowImageCache::prepare(QSizeF(300.2, 199.7), 6.0, Qt::black); }).join();
    const int made = ShadowImageCache::madeOnMainThreadCountForTesting();
    const QImage found = ShadowImageCache::blurredRect(QSize(300, 200), 6.0, Qt::black);
    EXPECT_EQ(ShadowImageCache::madeOnMainThreadCountForTesting(), made);
    EXPECT_EQ(found, direct) << "the same pixels wherever it was made";
    EXPECT_FALSE(ShadowImageCache::contains(QSize(300, 200), 6.0, Qt::red)) << "a colour is its own";
    EXPECT_FALSE(ShadowImageCache::contains(QSize(300, 200), 3.0, Qt::black)) << "and so is a radius";
}

TEST(ShadowImageCacheTest, APreparedSizeOnAHalfPixelIsMadeForBothRoundings)
{
    ShadowImageCache::clearForTesting();
    // The painter reaches 120.5 by mapping a rectangle: it may come out a hair either side.
    ShadowImageCache::blurredRect(QSize(121, 80), 3.0, Qt::black);
    EXPECT_FALSE(ShadowImageCache::isPrepared(QSizeF(120.5, 80.25), 3.0, Qt::black)) << "one of two";
    ShadowImageCache::prepare(QSizeF(120.5, 80.25), 3.0, Qt::black);
    EXPECT_TRUE(ShadowImageCache::contains(QSize(120, 80), 3.0, Qt::black));
    EXPECT_TRUE(ShadowImageCache::contains(QSize(121, 80), 3.0, Qt::black));
    EXPECT_FALSE(ShadowImageCache::contains(QSize(121, 81), 3.0, Qt::black));
    EXPECT_TRUE(ShadowImageCache::isPrepared(QSizeF(120.5, 80.25), 3.0, Qt::black));
    EXPECT_EQ(ShadowImageCache::pixelSizeOf(QSizeF(120.49, 0.2)), QSize(120, 1)) << "never empty";
}

} // namespace
