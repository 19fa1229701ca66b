#include "platform/graphics/LayerPainter.h"

#include "platform/graphics/DrawingContext.h"
#include "platform/graphics/Layer.h"
#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/ScopedTransaction.h"
#include "platform/graphics/ShadowImageCache.h"
#include "platform/graphics/TextLayer.h"
#include "support/FakeLayerTreeHost.h"

#include <QPainter>
#include <QPainterPath>
#include <QSemaphore>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <utility>

namespace {

// The feathered edge the photo strip draws: opaque, fading to nothing over the last 10 points.
class RightFeather : public LayerDelegate {
public:
    void drawLayer(Layer& layer, DrawingContext& context) override
    {
        ++draws;
        const Rect b = layer.bounds();
        const std::vector<DrawingContext::GradientStop> stops{{0.0, Color::rgb(0, 0, 1, 1.0)},
                                                              {0.5, Color::rgb(0, 0, 1, 0.75)},
                                                              {1.0, Color::rgb(0, 0, 1, 0.0)}};
        context.drawLinearGradient(stops, {b.maxX() - 10, b.midY()}, {b.maxX(), b.midY()});
        context.fillRect(Rect(b.minX(), b.minY(), b.width() - 10, b.height()), Color::rgb(0, 0, 1, 1));
    }
    int draws = 0;
};

::testing::AssertionResult near(QColor actual, QColor expected, int tolerance = 6)
{
    const int worst =
        std::max({std::abs(actual.red() - expected.red()), std::abs(actual.green() - expected.green()),
                  std::abs(actual.blue() - expected.blue()), std::abs(actual.alpha() - expected.alpha())});
    if (worst <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << actual.name(QColor::HexArgb).toStdString()
                                         << ", expected " << expected.name(QColor::HexArgb).toStdString();
}

// Gives `layer` a mask of its size drawn by `drawing`.
LayerPtr setMaskDrawnBy(Layer& layer, LayerDelegate& drawing)
{
    const LayerPtr mask = Layer::create();
    mask->setDelegate(&drawing);
    mask->setFrame(layer.bounds());
    mask->setNeedsDisplay();
    layer.setMask(mask);
    return mask;
}

LayerPtr filledLayer(const Rect& frame, const Color& color)
{
    const LayerPtr layer = Layer::create();
    layer->setFrame(frame);
    layer->setBackgroundColor(color);
    return layer;
}

} // namespace

class LayerPainterTest : public testing::Test {
protected:
    void SetUp() override
    {
        root->setFrame(Rect(0, 0, 100, 100));
        root->setBackgroundColor(Color::white(1, 1));
    }

    QColor pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

    // An opaque red photo of 40 points square at (30, 30), with a shadow.
    LayerPtr addShadowedRedPhoto()
    {
        QImage red(40, 40, QImage::Format_RGB32);
        red.fill(Qt::red);
        const LayerPtr photo = Layer::create();
        photo->setFrame(Rect(30, 30, 40, 40));
        photo->setContents(red);
        photo->setShadowOpacity(1.0);
        root->addSublayer(photo);
        return photo;
    }

    LayerPtr root = Layer::create();
};

TEST_F(LayerPainterTest, YUpPlacesALowLayerAtTheBottomAndHiddenLayersVanish)
{
    root->addSublayer(filledLayer(Rect(0, 0, 100, 20), Color::rgb(1, 0, 0, 1)));
    const LayerPtr hidden = filledLayer(Rect(0, 80, 100, 20), Color::rgb(0, 0, 1, 1));
    hidden->setHidden(true);
    root->addSublayer(hidden);

    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_TRUE(near(pixel(image, 50, 95), Qt::red));
    EXPECT_TRUE(near(pixel(image, 50, 5), Qt::white));
    EXPECT_TRUE(near(pixel(image, 50, 50), Qt::white));
}

TEST_F(LayerPainterTest, OpacityMultipliesDownTheTree)
{
    const LayerPtr parent = filledLayer(Rect(0, 0, 100, 100), Color::clear());
    parent->setOpacity(0.5);
    parent->addSublayer(filledLayer(Rect(0, 0, 50, 100), Color::black()));
    root->addSublayer(parent);
    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_TRUE(near(pixel(image, 25, 50), QColor(128, 128, 128)));
    EXPECT_TRUE(near(pixel(image, 75, 50), Qt::white));
}

TEST_F(LayerPainterTest, MaskDrawnByADelegateFeathersTheEdge)
{
    RightFeather feather;
    const LayerPtr strip = filledLayer(Rect(0, 0, 100, 100), Color::black());
    const LayerPtr mask = Layer::create();
    mask->setDelegate(&feather);
    mask->setNeedsDisplayOnBoundsChange(true);
    mask->setFrame(strip->bounds());
    strip->setMask(mask);
    root->addSublayer(strip);

    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_TRUE(near(pixel(image, 50, 50), Qt::black));
    EXPECT_TRUE(near(pixel(image, 89, 50), Qt::black, 12));
    EXPECT_TRUE(near(pixel(image, 95, 50), QColor(77, 77, 77), 25)) << "three quarters opaque half-way";
    EXPECT_TRUE(near(pixel(image, 99, 50), Qt::white, 30));

    LayerPainter::render(*root, QSize(100, 100));
    EXPECT_EQ(feather.draws, 1) << "the drawing is kept until the bounds change";
    mask->setFrame(Rect(0, 0, 50, 100));
    const QImage narrower = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_EQ(feather.draws, 2);
    EXPECT_TRUE(near(pixel(narrower, 70, 50), Qt::white)) << "outside the mask nothing shows";
}

TEST_F(LayerPainterTest, ContentsKeepTheirAspectWhenAsked)
{
    QImage wide(20, 10, QImage::Format_RGB32);
    wide.fill(Qt::red);
    QImage marked = wide;
    marked.setPixelColor(0, 0, Qt::blue);
    const LayerPtr photo = Layer::create();
    photo->setFrame(Rect(0, 0, 100, 100));
    photo->setContents(marked);
    photo->setContentsGravity(ContentsGravity::ResizeAspect);
    root->addSublayer(photo);

    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_TRUE(near(pixel(image, 50, 50), Qt::red));
    EXPECT_TRUE(near(pixel(image, 50, 10), Qt::white)) << "letterboxed above";
    EXPECT_TRUE(near(pixel(image, 50, 90), Qt::white)) << "and below";
    EXPECT_TRUE(near(pixel(image, 1, 27), Qt::blue)) << "the image's first row is drawn at its top";
}

TEST_F(LayerPainterTest, TextSitsAtTheTopOfItsBounds)
{
    const auto text = TextLayer::create();
    text->setFrame(Rect(0, 0, 100, 100));
    text->setString(QStringLiteral("HHHH"));
    text->setFontSize(20);
    text->setForegroundColor(Color::black());
    root->addSublayer(text);

    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    auto darkRows = [&](int from, int to) {
        int count = 0;
        for (int y = from; y < to; ++y)
            for (int x = 0; x < 100; ++x)
                count += image.pixelColor(x, y).lightness() < 128;
        return count;
    };
    EXPECT_GT(darkRows(0, 30), 20);
    EXPECT_EQ(darkRows(40, 100), 0);
}

TEST_F(LayerPainterTest, ShadowFallsBelowAPhoto)
{
    const LayerPtr photo = filledLayer(Rect(30, 30, 40, 40), Color::black());
    photo->setShadowOpacity(1.0);
    root->addSublayer(photo);
    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    // Three points down (y up) means three pixels further down the image.
    EXPECT_LT(pixel(image, 50, 71).lightness(), 200);
    EXPECT_TRUE(near(pixel(image, 50, 27), Qt::white, 20));
}

namespace {

// A frame painted as a window on a screen with `ratio` device pixels per point paints it.
QImage renderAtRatio(const Layer& root, QSize points, double ratio)
{
    QImage image(int(points.width() * ratio), int(points.height() * ratio),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    LayerPainter::paint(painter, root, QSizeF(points));
    return image;
}

// A hard edge half-way through a point: only a drawing made at the device's density keeps it.
class HalfPointEdge : public LayerDelegate {
public:
    void drawLayer(Layer& layer, DrawingContext& context) override
    {
        const Rect b = layer.bounds();
        context.fillRect(Rect(b.minX(), b.minY(), 10.5, b.height()), Color::rgb(0, 0, 1, 1));
    }
};

} // namespace

TEST_F(LayerPainterTest, DelegateDrawingsAndMasksAreSharpOnDenseScreens)
{
    HalfPointEdge edge;
    const LayerPtr strip = filledLayer(Rect(0, 0, 100, 100), Color::black());
    const LayerPtr mask = setMaskDrawnBy(*strip, edge);
    root->addSublayer(strip);

    const QImage image = renderAtRatio(*root, QSize(100, 100), 2.0);
    EXPECT_EQ(mask->backingImage().size(), QSize(200, 200));
    EXPECT_TRUE(near(pixel(image, 20, 100), Qt::black, 2));
    EXPECT_TRUE(near(pixel(image, 21, 100), Qt::white, 2)) << "no half-covered pixel at the edge";

    renderAtRatio(*root, QSize(100, 100), 1.0);
    EXPECT_EQ(mask->backingImage().size(), QSize(100, 100)) << "drawn again for the coarser screen";
}

TEST_F(LayerPainterTest, ContentsMadeForTheDevicePixelsAreCopiedPixelForPixel)
{
    // A one-pixel checkerboard blurs to grey under any resampling. Decoded for the photo's device
    // pixels, it is a pixel wider than its frame's exact aspect (as rounding makes it).
    QImage checkers(101, 60, QImage::Format_RGB32);
    for (int y = 0; y < checkers.height(); ++y)
        for (int x = 0; x < checkers.width(); ++x)
            checkers.setPixelColor(x, y, (x + y) % 2 ? Qt::black : Qt::white);
    const LayerPtr photo = Layer::create();
    photo->setFrame(Rect(10.25, 20, 50, 30));
    photo->setContents(checkers);
    photo->setContentsGravity(ContentsGravity::ResizeAspect);
    root->addSublayer(photo);

    const QImage image = renderAtRatio(*root, QSize(100, 100), 2.0);
    // Centred on the frame, the photo's top left lands on device pixel (20, 100).
    for (int x = 30; x < 34; ++x)
        EXPECT_TRUE(near(pixel(image, x, 120), (x - 20 + 20) % 2 ? Qt::black : Qt::white, 2)) << x;

    // A photo larger than its frame is scaled once and the copy kept while nothing changes.
    const LayerPtr large = Layer::create();
    large->setFrame(Rect(0, 0, 20, 12));
    QImage big(100, 60, QImage::Format_RGB32);
    big.fill(Qt::red);
    large->setContents(big);
    root->addSublayer(large);
    const QImage first = renderAtRatio(*root, QSize(100, 100), 2.0);
    const qint64 kept = large->scaledContents().scaled(big, QSize(40, 24)).cacheKey();
    renderAtRatio(*root, QSize(100, 100), 2.0);
    EXPECT_EQ(large->scaledContents().scaled(big, QSize(40, 24)).cacheKey(), kept);
    EXPECT_TRUE(near(pixel(first, 20, 190), Qt::red, 2));
}

namespace {

// Opaque but for a band along the top that lets half through.
class HalfTopBand : public LayerDelegate {
public:
    void drawLayer(Layer& layer, DrawingContext& context) override
    {
        const Rect b = layer.bounds();
        context.fillRect(Rect(b.minX(), b.minY(), b.width(), b.height() - 10), Color::rgb(0, 0, 1, 1));
        context.fillRect(Rect(b.minX(), b.maxY() - 10, b.width(), 10), Color::rgb(0, 0, 1, 0.5));
    }
};

} // namespace

TEST_F(LayerPainterTest, AMaskOpaqueInItsMiddleStillMasksItsEdges)
{
    HalfTopBand band;
    const LayerPtr strip = filledLayer(Rect(10, 10, 80, 80), Color::black());
    strip->addSublayer(filledLayer(Rect(0, 0, 40, 80), Color::rgb(1, 0, 0, 1)));
    // Reaching out of the mask on the left: cut off at the mask's edge.
    strip->addSublayer(filledLayer(Rect(-5, 30, 10, 20), Color::rgb(1, 0, 0, 1)));
    const LayerPtr mask = setMaskDrawnBy(*strip, band);
    root->addSublayer(strip);

    const QImage image = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_TRUE(near(pixel(image, 30, 50), Qt::red, 2));
    EXPECT_TRUE(near(pixel(image, 70, 50), Qt::black, 2));
    EXPECT_TRUE(near(pixel(image, 30, 15), QColor(255, 128, 128), 4)) << "half red over white";
    EXPECT_TRUE(near(pixel(image, 70, 15), QColor(128, 128, 128), 4));
    EXPECT_TRUE(near(pixel(image, 30, 5), Qt::white, 2)) << "nothing outside the mask";
    EXPECT_TRUE(near(pixel(image, 95, 50), Qt::white, 2));
    EXPECT_TRUE(near(pixel(image, 9, 50), Qt::white, 2)) << "a sublayer outside the mask";
    EXPECT_TRUE(near(pixel(image, 10, 50), Qt::red, 2));
}

namespace {

// Colours that differ from pixel to pixel, so that a blend's rounding shows.
QImage gradientImage(QSize size, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 23 + y * 7) % 256, (x * 5 + y * 31) % 256, (x * y + 11) % 256));
    }
    return image;
}

} // namespace

// A strip covering its mask with its own opaque background is drawn straight onto the target and
// its feathered band faded there, over what lay below: the pixels must be those of the strip drawn
// apart, multiplied by the mask and blended over what was below, for either target format, below
// a photo or a flat colour not written yet (a full-screen strip over the window's black).
TEST_F(LayerPainterTest, AFeatheredBandFadedInPlaceGivesThePixelsOfTheMaskedStripBlendedOverWhatIsBelow)
{
    for (const auto& [format, flatBelow] :
         {std::pair(QImage::Format_ARGB32_Premultiplied, false), std::pair(QImage::Format_RGB32, false),
          std::pair(QImage::Format_ARGB32_Premultiplied, true), std::pair(QImage::Format_RGB32, true)}) {
        SCOPED_TRACE(flatBelow ? "over a flat colour" : "over a photo");
        const LayerPtr scene = Layer::create();
        scene->setFrame(Rect(0, 0, 100, 100));
        if (flatBelow) {
            scene->setBackgroundColor(Color::rgb(0.2, 0.6, 0.1, 1));
        } else {
            const LayerPtr below = Layer::create();
            below->setFrame(Rect(0, 0, 100, 100));
            below->setContents(gradientImage(QSize(100, 100)));
            scene->addSublayer(below);
        }
        RightFeather feather;
        const LayerPtr strip = filledLayer(Rect(0, 0, 100, 100), Color::rgb(0.3, 0.5, 0.7, 1));
        // A photo with a shadow reaching into the band, and a placeholder half covered by it.
        const LayerPtr photo = Layer::create();
        photo->setFrame(Rect(70, 20, 25, 60));
        photo->setContents(gradientImage(QSize(25, 60)));
        photo->setShadowOpacity(0.75);
        strip->addSublayer(filledLayer(Rect(85, 10, 30, 20), Color::white(1.0, 0.5)));
        strip->addSublayer(photo);
        scene->addSublayer(strip);

        const auto paint = [&](const Layer& tree) {
            QImage image(100, 100, format);
            image.fill(Qt::black);
            QPainter painter(&image);
            LayerPainter::paint(painter, tree, QSizeF(100, 100));
            painter.end();
            return image;
        };
        // What the strip draws by itself, and what lies under it.
        strip->setHidden(true);
        QImage expected = paint(*scene);
        strip->setHidden(false);
        strip->removeFromSuperlayer();
        strip->setPosition(Point(50, 50));
        QImage content(100, 100, QImage::Format_ARGB32_Premultiplied);
        content.fill(Qt::transparent);
        {
            QPainter painter(&content);
            LayerPainter::paint(painter, *strip, QSizeF(100, 100));
        }
        scene->addSublayer(strip);
        const LayerPtr mask = setMaskDrawnBy(*strip, feather);
        const QImage masked = paint(*scene);

        // The mask's drawing is one colour from top to bottom.
        const QImage& drawing = mask->backingImage();
        ASSERT_EQ(drawing.size(), QSize(100, 100));
        for (int y = 0; y < 100; ++y) {
            auto* line = reinterpret_cast<QRgb*>(content.scanLine(y));
            for (int x = 0; x < 100; ++x) {
                const int alpha = qAlpha(drawing.pixel(x, 50));
                auto times = [alpha](int channel) { return (channel * alpha + 127) / 255; };
                line[x] = qRgba(times(qRed(line[x])), times(qGreen(line[x])), times(qBlue(line[x])),
                                times(qAlpha(line[x])));
            }
        }
        {
            QPainter painter(&expected);
            painter.drawImage(0, 0, content);
        }
        int differing = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x)
                differing += masked.pixel(x, y) != expected.pixel(x, y);
        }
        EXPECT_EQ(differing, 0) << "format " << format << ", e.g. at the band's middle got "
                                << QColor::fromRgba(masked.pixel(95, 50)).name().toStdString()
                                << ", expected "
                                << QColor::fromRgba(expected.pixel(95, 50)).name().toStdString();
        EXPECT_NE(masked.pixel(95, 50), masked.pixel(60, 50)) << "the band fades";
    }
}

TEST_F(LayerPainterTest, AnOpaquePhotoCoversItsShadowOnlyWhileItIsOpaque)
{
    const LayerPtr photo = addShadowedRedPhoto();
    const QImage opaque = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_LT(pixel(opaque, 50, 71).lightness(), 200) << "the shadow still shows below";
    EXPECT_TRUE(near(pixel(opaque, 50, 50), Qt::red, 2));

    photo->setOpacity(0.5);
    const QImage translucent = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_TRUE(near(pixel(translucent, 50, 50), QColor(191, 64, 64), 8)) << "half red over its half shadow";
}

TEST_F(LayerPainterTest, AShadowIsBlurredOnceAndKeptWhileItsLayerKeepsItsSize)
{
    const LayerPtr photo = addShadowedRedPhoto();
    ShadowImageCache::clearForTesting();
    const int before = ShadowImageCache::madeCountForTesting();
    const QImage kept = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_EQ(ShadowImageCache::madeCountForTesting(), before + 1);
    LayerPainter::render(*root, QSize(100, 100));
    photo->setFrame(Rect(20, 40, 40, 40));
    LayerPainter::render(*root, QSize(100, 100));
    EXPECT_EQ(ShadowImageCache::madeCountForTesting(), before + 1) << "nothing blurred again for a move";

    // The kept shadow looks as one filled in place does: a transform a hair off upright takes the
    // filling path.
    photo->setFrame(Rect(30, 30, 40, 40));
    photo->setTransform(QTransform::fromScale(1, 1 + 1e-7));
    const QImage filled = LayerPainter::render(*root, QSize(100, 100));
    for (int y = 20; y < 80; ++y) {
        for (int x = 20; x < 80; ++x)
            ASSERT_TRUE(near(pixel(kept, x, y), pixel(filled, x, y), 3)) << x << ", " << y;
    }
    EXPECT_LT(pixel(kept, 50, 71).lightness(), 200) << "the shadow falls below the photo";

    // A denser screen needs its own, blurred over as many device pixels as the radius covers.
    photo->setTransform(QTransform());
    renderAtRatio(*root, QSize(100, 100), 2.0);
    EXPECT_EQ(ShadowImageCache::madeCountForTesting(), before + 2);
}

TEST_F(LayerPainterTest, ACaptionsShadowIsBlurredAgainOnlyWhenSomethingInItChanges)
{
    const LayerPtr overlay = Layer::create();
    overlay->setFrame(Rect(10, 10, 80, 30));
    overlay->setShadowOpacity(1.0);
    overlay->setShadowRadius(4);
    const LayerPtr caption = filledLayer(Rect(10, 10, 40, 10), Color::black());
    overlay->addSublayer(caption);
    root->addSublayer(overlay);

    const int before = LayerPainter::blurredSilhouetteCountForTesting();
    const QImage first = LayerPainter::render(*root, QSize(100, 100));
    LayerPainter::render(*root, QSize(100, 100));
    EXPECT_EQ(LayerPainter::blurredSilhouetteCountForTesting(), before + 1);

    // A change below the shadowed layer is seen: the shadow follows the caption.
    caption->setFrame(Rect(30, 10, 40, 10));
    const QImage moved = LayerPainter::render(*root, QSize(100, 100));
    EXPECT_EQ(LayerPainter::blurredSilhouetteCountForTesting(), before + 2);
    // Below the caption's old left end the shadow is gone (y down: the caption's bottom is row 80).
    EXPECT_LT(pixel(first, 22, 82).lightness(), 245);
    EXPECT_TRUE(near(pixel(moved, 22, 82), Qt::white, 4));
}

TEST_F(LayerPainterTest, AFeatheredEdgeIsDrawnAgainWhenWhatLiesUnderItChangesOrMoves)
{
    ManualAnimationClock clock;
    FakeLayerTreeHost host;
    RightFeather feather;
    const LayerPtr strip = filledLayer(Rect(0, 0, 100, 100), Color::clear());
    const LayerPtr photo = filledLayer(Rect(80, 0, 20, 100), Color::rgb(1, 0, 0, 1));
    strip->addSublayer(photo);
    const LayerPtr mask = setMaskDrawnBy(*strip, feather);
    root->addSublayer(strip);
    root->setTreeHost(&host);
    // In the feathered band (the last ten points) the photo shows at about two thirds there.
    const QColor fadedRed(255, 83, 83);
    const QColor fadedBlue(83, 83, 255);
    EXPECT_TRUE(near(pixel(LayerPainter::render(*root, QSize(100, 100)), 95, 50), fadedRed, 8));
    EXPECT_TRUE(near(pixel(LayerPainter::render(*root, QSize(100, 100)), 95, 50), fadedRed, 8));

    {
        ScopedTransaction transaction;
        transaction.setDisableActions(true);
        photo->setBackgroundColor(Color::rgb(0, 0, 1, 1));
    }
    EXPECT_TRUE(near(pixel(LayerPainter::render(*root, QSize(100, 100)), 95, 50), fadedBlue, 8));

    // While the photo animates back to red, every frame shows where the animation is.
    photo->setBackgroundColor(Color::rgb(1, 0, 0, 1));
    clock.advance(0.05);
    const QColor early = pixel(LayerPainter::render(*root, QSize(100, 100)), 95, 50);
    clock.advance(0.15);
    const QColor late = pixel(LayerPainter::render(*root, QSize(100, 100)), 95, 50);
    EXPECT_GT(late.red(), early.red() + 40);
    clock.advance(1);
    EXPECT_TRUE(near(pixel(LayerPainter::render(*root, QSize(100, 100)), 95, 50), fadedRed, 8));
    root->setTreeHost(nullptr);
}

namespace {

QImage solidImage(QSize size, QColor color, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(color);
    return image;
}

} // namespace

// Backgrounds are filled only where nothing opaque is drawn over them later. Whatever a skipped
// pixel held before the frame (a sentinel colour here) must never show: a frame painted over
// magenta and one painted over cyan come out the same.
class LayerPainterCoverageTest : public testing::Test {
protected:
    void SetUp() override
    {
        root->setFrame(Rect(0, 0, 400, 400));
        root->setBackgroundColor(Color::white(1, 1));
    }

    QImage paintOver(QColor before, std::optional<QColor> clearColor = std::nullopt)
    {
        QImage image(400, 400, QImage::Format_ARGB32_Premultiplied);
        image.fill(before);
        QPainter painter(&image);
        LayerPainter::paint(painter, *root, QSizeF(400, 400), clearColor);
        return image;
    }

    // The background pixels one frame fills, checking that the frame does not depend on what the
    // target held.
    qint64 filledByOneFrame(std::optional<QColor> clearColor = std::nullopt)
    {
        const QImage overCyan = paintOver(Qt::cyan, clearColor);
        const qint64 before = LayerPainter::backgroundPixelCountForTesting();
        const QImage overMagenta = paintOver(Qt::magenta, clearColor);
        const qint64 filled = LayerPainter::backgroundPixelCountForTesting() - before;
        EXPECT_TRUE(overCyan == overMagenta) << "a pixel left unfilled shows through";
        return filled;
    }

    LayerPtr addPhoto(const Rect& frame, const QImage& image)
    {
        const LayerPtr photo = Layer::create();
        photo->setFrame(frame);
        photo->setContents(image);
        root->addSublayer(photo);
        return photo;
    }

    LayerPtr root = Layer::create();
};

TEST_F(LayerPainterCoverageTest, BackgroundUnderAnOpaquePhotoIsLeftOutTwoPixelsIn)
{
    const LayerPtr photo = addPhoto(Rect(100, 100, 200, 200), solidImage(QSize(200, 200), Qt::red));
    photo->setShadowOpacity(0.75);
    EXPECT_EQ(filledByOneFrame(), 400 * 400 - 196 * 196);

    const QImage image = paintOver(Qt::magenta);
    EXPECT_EQ(image.pixelColor(200, 200), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(101, 101), QColor(Qt::red)) << "the photo's edge, over the background";
    EXPECT_EQ(image.pixelColor(50, 50), QColor(Qt::white));
}

TEST_F(LayerPainterCoverageTest, WhatIsNotFullyOpaqueCoversNothing)
{
    const Rect frame(100, 100, 200, 200);
    const LayerPtr translucent = addPhoto(frame, solidImage(QSize(200, 200), Qt::red));
    translucent->setOpacity(0.5);
    EXPECT_EQ(filledByOneFrame(), 400 * 400);
    translucent->removeFromSuperlayer();

    const LayerPtr withAlpha =
        addPhoto(frame, solidImage(QSize(200, 200), QColor(255, 0, 0, 255), QImage::Format_ARGB32));
    EXPECT_EQ(filledByOneFrame(), 400 * 400) << "an image with alpha";
    withAlpha->removeFromSuperlayer();

    ManualAnimationClock clock;
    FakeLayerTreeHost host;
    root->setTreeHost(&host);
    const LayerPtr fading = addPhoto(frame, QImage());
    // Only a layer that has been on screen animates.
    paintOver(Qt::black);
    {
        ScopedTransaction transaction;
        transaction.setAnimationDuration(1.0);
        fading->setContents(solidImage(QSize(200, 200), Qt::red));
    }
    clock.advance(0.5);
    EXPECT_EQ(filledByOneFrame(), 400 * 400) << "a photo fading in over nothing";
    root->setTreeHost(nullptr);

    fading->removeFromSuperlayer();
    const LayerPtr clipping = Layer::create();
    clipping->setFrame(Rect(0, 0, 100, 100));
    clipping->setMasksToBounds(true);
    clipping->addSublayer(filledLayer(Rect(0, 0, 400, 400), Color::rgb(0, 0, 1, 1)));
    root->addSublayer(clipping);
    // The blue layer's own fill counts its whole rectangle; the painter's clip cuts it.
    EXPECT_EQ(filledByOneFrame(), 400 * 400 - 100 * 100 + 400 * 400)
        << "covered only where its clipping parent shows it";
}

TEST_F(LayerPainterCoverageTest, ALaterSiblingCoversAnEarlierOnesBackground)
{
    const LayerPtr under = filledLayer(Rect(0, 0, 400, 300), Color::rgb(0, 1, 0, 1));
    root->addSublayer(under);
    root->addSublayer(filledLayer(Rect(0, 0, 400, 100), Color::rgb(0, 0, 1, 1)));
    // The root's white shows only above the green; the green only above the blue.
    EXPECT_EQ(filledByOneFrame(), 400 * 100 + 400 * 200 + 400 * 100);
    const QImage image = paintOver(Qt::magenta);
    EXPECT_EQ(image.pixelColor(200, 50), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(200, 150), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(200, 350), QColor(Qt::blue));
}

TEST_F(LayerPainterCoverageTest, TheClearColourFillsOnlyWhatNoOpaqueLayerCovers)
{
    root->setBackgroundColor(std::nullopt);
    RightFeather feather;
    const LayerPtr strip = filledLayer(Rect(0, 0, 300, 400), Color::white(0.5, 1));
    setMaskDrawnBy(*strip, feather);
    root->addSublayer(strip);
    // The clear colour right of the strip and under its feathered band, the grey once over the
    // whole strip.
    EXPECT_EQ(filledByOneFrame(QColor(Qt::black)), 400 * 110 + 400 * 300);

    const QImage image = paintOver(Qt::magenta, QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(350, 200), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(150, 200), QColor(128, 128, 128));
    // 4.5 points from the edge the mask lets 0.675 of the grey through.
    EXPECT_TRUE(near(image.pixelColor(295, 200), QColor(86, 86, 86), 3)) << "the band fades to the black";

    // A mask placed off the layer's origin covers where it is, not where the layer starts.
    strip->mask()->setFrame(Rect(50, 0, 250, 400));
    filledByOneFrame(QColor(Qt::black));
    EXPECT_EQ(paintOver(Qt::magenta, QColor(Qt::black)).pixelColor(25, 200), QColor(Qt::black));
}

TEST_F(LayerPainterCoverageTest, AShadowsEvenMiddleIsFilledAsOneColourAndItsEdgesStillFade)
{
    for (const QSize size : {QSize(300, 200), QSize(6, 5)}) {
        const QImage shadow = ShadowImageCache::blurredRect(size, 3.0, Qt::black);
        const QRect middle = ShadowImageCache::uniformMiddle(size, 3.0);
        ASSERT_TRUE(shadow.rect().contains(middle));
        const QRgb even = shadow.pixel(middle.topLeft());
        bool same = true;
        for (int y = middle.top(); y <= middle.bottom(); ++y) {
            for (int x = middle.left(); x <= middle.right(); ++x)
                same = same && shadow.pixel(x, y) == even;
        }
        EXPECT_TRUE(same) << size.width() << "x" << size.height();
        // Every edge of the middle is as far out as the pixels stay the same.
        EXPECT_NE(shadow.pixel(middle.left() - 3, middle.center().y()), even);
    }

    // A translucent photo shows its whole shadow, middle and blurred edges, over the background.
    const LayerPtr photo = addPhoto(Rect(50, 50, 300, 300), solidImage(QSize(300, 300), Qt::red));
    photo->setShadowOpacity(1.0);
    photo->setOpacity(0.5);
    filledByOneFrame();
    const QImage image = paintOver(Qt::magenta);
    EXPECT_TRUE(near(image.pixelColor(200, 200), QColor(191, 64, 64), 2)) << "half red over its half shadow";
    const int below = image.pixelColor(200, 351).lightness();
    EXPECT_LT(below, image.pixelColor(200, 354).lightness()) << "the shadow fades below the photo";
    EXPECT_LT(image.pixelColor(200, 354).lightness(), 255);
}

TEST_F(LayerPainterCoverageTest, AShadowsBandsAreKeptFadedAndGiveThePixelsOfItsImageAtItsOpacity)
{
    root->setBackgroundColor(Color::white(0.5, 1));
    const LayerPtr photo = addPhoto(Rect(100, 100, 200, 150), solidImage(QSize(200, 150), Qt::red));
    photo->setShadowOffset(Size(0, 0));
    photo->setShadowRadius(3);
    for (const double shadowOpacity : {0.75, 0.3, 1.0}) {
        SCOPED_TRACE(shadowOpacity);
        photo->setShadowOpacity(shadowOpacity);
        // As the shadow image drawn whole at the shadow's opacity under the photo.
        QImage expected(400, 400, QImage::Format_ARGB32_Premultiplied);
        {
            QPainter painter(&expected);
            painter.fillRect(expected.rect(), Color::white(0.5, 1).toQColor());
            painter.setOpacity(shadowOpacity);
            const int edge = ShadowImageCache::margin(3);
            painter.drawImage(QPoint(100 - edge, 150 - edge),
                              ShadowImageCache::blurredRect(QSize(200, 150), 3, Qt::black));
            painter.setOpacity(1);
            painter.drawImage(QPoint(100, 150), solidImage(QSize(200, 150), Qt::red));
        }
        const int before = LayerPainter::keptPieceCountForTesting();
        EXPECT_TRUE(paintOver(Qt::magenta) == expected);
        EXPECT_EQ(LayerPainter::keptPieceCountForTesting() - before, 4) << "one piece per band";
        EXPECT_TRUE(paintOver(Qt::cyan) == expected);
        EXPECT_EQ(LayerPainter::keptPieceCountForTesting() - before, 4) << "kept for the next frame";
    }
}

// Flat colours stacked over an opaque one (the strip's grey, a shadow's even middle, a
// placeholder's white fading out under a photo fading in) are written once as the colour they
// make together. A frame painted that way must equal one painted fill by fill: a clip over the
// whole target keeps the painter from holding fills back, and changes no pixel.
class LayerPainterFlatFillTest : public LayerPainterCoverageTest {
protected:
    void SetUp() override
    {
        LayerPainterCoverageTest::SetUp();
        root->setBackgroundColor(Color::white(0.5, 1));
        root->setTreeHost(&host);
    }
    void TearDown() override { root->setTreeHost(nullptr); }

    QImage paintFillByFill(QColor before)
    {
        QImage image(400, 400, QImage::Format_ARGB32_Premultiplied);
        image.fill(before);
        QPainter painter(&image);
        painter.setClipRect(image.rect());
        LayerPainter::paint(painter, *root, QSizeF(400, 400), QColor(Qt::black));
        return image;
    }

    // Pixels stacked in one frame, checking that it equals the frame painted fill by fill.
    qint64 stackedInOneFrame()
    {
        const QImage byFill = paintFillByFill(Qt::cyan);
        const qint64 before = LayerPainter::stackedFillPixelCountForTesting();
        const QImage stacked = paintOver(Qt::magenta, QColor(Qt::black));
        const qint64 count = LayerPainter::stackedFillPixelCountForTesting() - before;
        EXPECT_TRUE(stacked == byFill) << "stacking the fills changed a pixel";
        EXPECT_TRUE(stacked == paintOver(Qt::cyan, QColor(Qt::black)))
            << "a pixel left unfilled shows through";
        return count;
    }

    // A photo layer as the strip shows it while its image fades in over the placeholder: white at
    // half alpha with a faint border, both fading out, and a shadow.
    LayerPtr addFadingPhoto(const Rect& frame, QColor color, const LayerPtr& parent)
    {
        const LayerPtr photo = Layer::create();
        photo->setFrame(frame);
        parent->addSublayer(photo);
        photo->setShadowOpacity(0.75);
        photo->setBorderWidth(1);
        photo->setBorderColor(Color::white(0, 0.25));
        photo->setBackgroundColor(Color::white(1, 0.5));
        paintOver(Qt::black);
        {
            ScopedTransaction transaction;
            transaction.setAnimationDuration(1.0);
            photo->setBorderWidth(0);
            photo->setBackgroundColor(std::nullopt);
            photo->setContents(solidImage(QSize(int(frame.width()), int(frame.height())), color));
        }
        return photo;
    }

    ManualAnimationClock clock;
    FakeLayerTreeHost host;
};

TEST_F(LayerPainterFlatFillTest, AFadingPhotosUnderlayIsWrittenOnceWithTheSamePixels)
{
    addFadingPhoto(Rect(50, 50, 300, 300), Qt::red, root);
    clock.advance(0.5);
    // The grey, the shadow's middle and the white stack under most of the photo.
    EXPECT_GT(stackedInOneFrame(), 2 * 280 * 280);
    const QImage image = paintOver(Qt::magenta, QColor(Qt::black));
    EXPECT_NE(image.pixelColor(200, 200), image.pixelColor(50, 50)) << "the photo shows";

    // Off the pixel grid the photo's white still stacks on the whole pixels inside its edges.
    clock.advance(0.25);
    root->sublayers().front()->setFrame(Rect(50.5, 50.25, 300, 300));
    EXPECT_GT(stackedInOneFrame(), 2 * 280 * 280);
}

TEST_F(LayerPainterFlatFillTest, ABackgroundOffThePixelGridGivesThePixelsOfOneAntialiasedFill)
{
    // Translucent, at quarter and odd offsets, over the grey and over an image that is not flat.
    const LayerPtr layer = filledLayer(Rect(0, 0, 10, 10), Color::rgb(1, 0.5, 0.25, 0.4));
    root->addSublayer(layer);
    const LayerPtr under = Layer::create();
    under->setFrame(Rect(0, 0, 400, 150));
    QImage stripes(400, 150, QImage::Format_RGB32);
    for (int x = 0; x < 400; ++x)
        stripes.setPixelColor(x, 0, QColor::fromHsv(x % 360, 200, 200));
    for (int y = 1; y < 150; ++y)
        std::copy_n(stripes.constScanLine(0), 400 * 4, stripes.scanLine(y));
    under->setContents(stripes);
    root->insertSublayerAt(under, 0);
    // Thin, tall and partly over the image: filled a few rows at a time where it is not stacked.
    const Rect thinFrame(360.5, 20.25, 12.25, 300);
    root->addSublayer(filledLayer(thinFrame, Color::rgb(0, 0, 1, 0.3)));
    const Rect frames[] = {Rect(20.25, 30.5, 300.5, 290.75), Rect(33.3, 10.7, 280.1, 301.9),
                           Rect(50.5, 40, 250, 250.5), Rect(10, 20, 300.25, 300)};
    for (const Rect& frame : frames) {
        for (const double opacity : {1.0, 0.6}) {
            {
                ScopedTransaction now;
                now.setDisableActions(true);
                layer->setFrame(frame);
                layer->setOpacity(opacity);
            }
            QImage expected(400, 400, QImage::Format_ARGB32_Premultiplied);
            expected.fill(Qt::magenta);
            {
                QPainter painter(&expected);
                painter.fillRect(expected.rect(), Color::white(0.5, 1).toQColor());
                painter.drawImage(0, 250, stripes);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setTransform(QTransform(1, 0, 0, -1, 0, 400));
                painter.setOpacity(opacity);
                painter.fillRect(QRectF(frame.minX(), frame.minY(), frame.width(), frame.height()),
                                 Color::rgb(1, 0.5, 0.25, 0.4).toQColor());
                painter.setOpacity(1);
                painter.fillRect(
                    QRectF(thinFrame.minX(), thinFrame.minY(), thinFrame.width(), thinFrame.height()),
                    Color::rgb(0, 0, 1, 0.3).toQColor());
            }
            const qint64 before = LayerPainter::stackedFillPixelCountForTesting();
            const QImage painted = paintOver(Qt::magenta, QColor(Qt::black));
            EXPECT_GT(LayerPainter::stackedFillPixelCountForTesting() - before, 200 * 100)
                << "the whole pixels inside stack on the grey";
            EXPECT_TRUE(painted == expected) << frame.minX() << "," << frame.minY() << " at " << opacity;
            EXPECT_TRUE(paintFillByFill(Qt::cyan) == expected);
        }
    }
}

// The photo loaders keep Qt's shared thread pool busy with work of their own; a frame that handed
// pieces to it would wait behind them. With every pool thread held, a placeholder off the pixel grid
// must still paint at once.
TEST_F(LayerPainterFlatFillTest, ABackgroundOffThePixelGridIsPaintedWithoutQtsSharedThreadPool)
{
    root->addSublayer(filledLayer(Rect(20.25, 30.5, 350.5, 340.75), Color::white(1, 0.5)));
    QThreadPool* pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    QSemaphore holding;
    QSemaphore released;
    std::atomic<int> timedOut = 0;
    for (int i = 0; i < threads; ++i) {
        pool->start([&] {
            holding.release();
            if (!released.tryAcquire(1, 5000))
                ++timedOut;
        });
    }
    holding.acquire(threads);
    const QImage painted = paintOver(Qt::magenta, QColor(Qt::black));
    released.release(threads);
    pool->waitForDone();
    EXPECT_EQ(timedOut, 0) << "the frame waited for the pool";
    EXPECT_TRUE(painted == paintFillByFill(Qt::cyan));
}

TEST_F(LayerPainterFlatFillTest, ABorderOffThePixelGridGivesThePixelsOfTheWholeRingFilledOnce)
{
    // Drawn a few rows at a time; at quarter and odd offsets, translucent, over an image that is
    // not flat, every pixel must come out as from one antialiased fill of the whole ring.
    const LayerPtr under = Layer::create();
    under->setFrame(Rect(0, 0, 400, 400));
    QImage hues(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 400; ++x)
            hues.setPixelColor(x, y, QColor::fromHsv((x + 3 * y) % 360, 200, 200));
    }
    under->setContents(hues);
    root->addSublayer(under);
    const LayerPtr framed = Layer::create();
    root->addSublayer(framed);
    const Color borderColor = Color::rgb(1, 1, 1, 0.6);
    const Rect frames[] = {Rect(20.25, 30.5, 300.5, 290.75), Rect(33.3, 10.7, 280.1, 301.9),
                           Rect(50.5, 40, 250, 17.5), Rect(10, 20, 300, 300)};
    for (const Rect& frame : frames) {
        for (const double width : {1.0, 2.5, 40.0}) {
            {
                ScopedTransaction now;
                now.setDisableActions(true);
                framed->setFrame(frame);
                framed->setBorderWidth(width);
                framed->setBorderColor(borderColor);
            }
            QImage expected(400, 400, QImage::Format_ARGB32_Premultiplied);
            {
                QPainter painter(&expected);
                painter.fillRect(expected.rect(), Color::white(0.5, 1).toQColor());
                painter.drawImage(0, 0, hues);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setTransform(QTransform(1, 0, 0, -1, 0, 400));
                const QRectF outer(frame.minX(), frame.minY(), frame.width(), frame.height());
                const double w = std::min({width, frame.width() / 2, frame.height() / 2});
                QPainterPath ring;
                ring.addRect(outer);
                ring.addRect(outer.adjusted(w, w, -w, -w));
                ring.setFillRule(Qt::OddEvenFill);
                painter.fillPath(ring, borderColor.toQColor());
            }
            EXPECT_TRUE(paintOver(Qt::magenta) == expected)
                << frame.minX() << "," << frame.minY() << " " << width;
        }
    }
}

TEST_F(LayerPainterFlatFillTest, AThinPartOfAStillPhotoFadingInIsDrawnFromAKeptPiece)
{
    // Ten pixels of it on the device, as a photo's column under a strip's feathered edge.
    QImage image(200, 150, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x, y, (x * y) % 256));
    }
    const LayerPtr photo = Layer::create();
    photo->setFrame(Rect(390, 100, 200, 150));
    root->addSublayer(photo);
    paintOver(Qt::black);
    {
        ScopedTransaction transaction;
        transaction.setAnimationDuration(1.0);
        photo->setContents(image);
    }
    clock.advance(0.4);
    const double shown = photo->presentation().contentsTransition;
    ASSERT_GT(shown, 0.1);
    ASSERT_LT(shown, 0.9);
    QImage expected(400, 400, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&expected);
        painter.fillRect(expected.rect(), Color::white(0.5, 1).toQColor());
        painter.setOpacity(shown);
        painter.drawImage(QPoint(390, 150), image);
    }
    const int before = LayerPainter::keptPieceCountForTesting();
    EXPECT_TRUE(paintOver(Qt::magenta, QColor(Qt::black)) == expected);
    EXPECT_EQ(LayerPainter::keptPieceCountForTesting() - before, 1);
    EXPECT_TRUE(paintOver(Qt::cyan, QColor(Qt::black)) == expected);
    EXPECT_EQ(LayerPainter::keptPieceCountForTesting() - before, 1) << "kept for the next frame";

    // Moving, it is drawn from the image itself: the piece would change with every frame.
    {
        ScopedTransaction transaction;
        transaction.setAnimationDuration(1.0);
        photo->setPosition(Point(photo->position().x - 5, photo->position().y));
    }
    clock.advance(0.1);
    paintOver(Qt::magenta, QColor(Qt::black));
    clock.advance(0.1);
    paintOver(Qt::magenta, QColor(Qt::black));
    EXPECT_EQ(LayerPainter::keptPieceCountForTesting() - before, 1);
}

TEST_F(LayerPainterFlatFillTest, WhatIsDrawnLaterOverAHeldFillSeesItWritten)
{
    // In a strip with a feathered edge, where the held fills meet the feathered band, then
    // straight on the view.
    RightFeather feather;
    for (const bool feathered : {false, true}) {
        SCOPED_TRACE(feathered ? "feathered" : "plain");
        LayerPtr parent = root;
        for (const LayerPtr& layer : std::vector<LayerPtr>(root->sublayers()))
            layer->removeFromSuperlayer();
        if (feathered) {
            parent = filledLayer(Rect(0, 0, 400, 400), Color::white(0.5, 1));
            setMaskDrawnBy(*parent, feather);
            root->addSublayer(parent);
        }
        addFadingPhoto(Rect(20, 20, 300, 300), Qt::red, parent);
        // An opaque photo whose shadow and edge fall on the first one's held fills.
        const LayerPtr over = Layer::create();
        over->setFrame(Rect(250, 250, 140, 140));
        over->setContents(solidImage(QSize(140, 140), Qt::blue));
        over->setShadowOpacity(0.75);
        over->setShadowRadius(6);
        parent->addSublayer(over);
        // A frame drawn by its border alone.
        const LayerPtr framed = Layer::create();
        framed->setFrame(Rect(200, 30, 150, 100));
        framed->setBorderWidth(3);
        framed->setBorderColor(Color::rgb(1, 0, 0, 1));
        parent->addSublayer(framed);
        // A translucent layer with a sublayer, clipped to its bounds.
        const LayerPtr group = filledLayer(Rect(20, 150, 100, 200), Color::rgb(0, 1, 0, 0.4));
        group->addSublayer(filledLayer(Rect(10, 10, 50, 50), Color::rgb(1, 1, 0, 0.7)));
        group->setMasksToBounds(true);
        parent->addSublayer(group);
        clock.advance(0.3);
        EXPECT_GT(stackedInOneFrame(), 280 * 280);
    }
}

// The strip as the rating screen shows it: photos side by side with their shadows, the first running
// past the screen's edge, the last fading in under the feathered edge. Its shadows' bands over the
// grey, the gaps between the photos and the feathered band are held back and written row by row
// at the end of the frame, partly covered by the photos drawn meanwhile; the pixels must be those
// of the frame painted fill by fill, at rest and with the photos between two pixels in a move.
TEST_F(LayerPainterFlatFillTest, PhotosSideBySideInAFeatheredStripGiveThePixelsOfOnePaintedFillByFill)
{
    RightFeather feather;
    const LayerPtr strip = filledLayer(Rect(0, 0, 400, 400), Color::white(0.5, 1));
    setMaskDrawnBy(*strip, feather);
    root->addSublayer(strip);
    std::vector<LayerPtr> photos;
    for (const double x : {-100.0, 100.0}) {
        const LayerPtr photo = Layer::create();
        photo->setFrame(Rect(x, 120, 180, 120));
        photo->setContents(gradientImage(QSize(180, 120)));
        photo->setShadowOpacity(0.75);
        strip->addSublayer(photo);
        photos.push_back(photo);
    }
    photos.push_back(addFadingPhoto(Rect(300, 120, 180, 120), Qt::red, strip));
    clock.advance(0.5);
    const qint64 held = LayerPainter::heldPiecePixelCountForTesting();
    stackedInOneFrame();
    EXPECT_GT(LayerPainter::heldPiecePixelCountForTesting(), held) << "the shadows' bands are held";

    {
        ScopedTransaction move;
        move.setAnimationDuration(0.25);
        for (const LayerPtr& photo : photos)
            photo->setPosition(Point(photo->position().x - 37, photo->position().y));
    }
    clock.advance(0.1);
    stackedInOneFrame();
}

TEST_F(LayerPainterFlatFillTest, ALayerInsideOneFadingInAnimatesItsChangesFromItsFirstFrame)
{
    paintOver(Qt::black);
    // Joining a tree on screen, the strip fades in: its first frame shows nothing of it.
    const LayerPtr strip = filledLayer(Rect(0, 0, 400, 400), Color::white(0.5, 1));
    const LayerPtr photo = filledLayer(Rect(20, 20, 100, 100), Color::white(1, 1));
    strip->addSublayer(photo);
    root->addSublayer(strip);
    paintOver(Qt::black);
    {
        ScopedTransaction transaction;
        transaction.setAnimationDuration(1.0);
        photo->setOpacity(0);
    }
    clock.advance(0.5);
    EXPECT_NEAR(photo->presentationOpacity(), 0.5, 0.01) << "the change jumped instead of animating";
}
