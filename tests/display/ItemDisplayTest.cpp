#include "display/ItemDisplay.h"

#include "display/QMInvocationOperation.h"
#include "platform/graphics/DrawingContext.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/LayerTreeDump.h"
#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/ShadowImageCache.h"
#include "support/BlockedGlobalPool.h"
#include "support/FailureOf.h"
#include "support/FakeItemDisplayDataSource.h"
#include "support/FakeLayerTreeHost.h"
#include "support/WaitUntil.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

class ItemDisplayTest : public ::testing::Test {
protected:
    void show(std::vector<double> ratios, Rect bounds)
    {
        m_source.m_ratios = std::move(ratios);
        m_display.layer()->setFrame(bounds);
        m_display.setDataSource(&m_source);
        m_display.layer()->layoutIfNeeded();
    }

    // Lets every queued load run and its image reach the layer tree.
    void finishLoads()
    {
        m_display.workQueue().waitUntilAllOperationsAreFinished();
        QCoreApplication::sendPostedEvents();
    }

    std::string dump() const { return LayerTreeDump::dump(*m_display.layer()); }

    const Layer& photo(std::size_t index) const { return *m_display.itemLayers().at(index); }

    static unsigned loadSize(const Layer& layer)
    {
        return layer.attribute(ItemDisplay::loadSizeKey).toUInt();
    }

    FakeItemDisplayDataSource m_source;
    ItemDisplay m_display;
};

TEST_F(ItemDisplayTest, SlotsAndFramesFollowTheAspectRatios)
{
    m_display.setPosition(0);
    m_source.m_ratios = {2.0, 0.5, 1.0, 2.0, 0.5};
    m_display.layer()->setFrame(Rect(0, 0, 800, 400));
    m_display.setDataSource(&m_source);
    m_display.setPosition(2);
    m_display.layer()->layoutIfNeeded();
    // Portrait photos take a slot half as wide; every frame keeps 10 points from its slot's sides
    // and its ratio exactly; the current photo is centred.
    EXPECT_EQ(dump(), "Layer (0, 0, 800, 400)\n"
                      "  Layer (-390, 105, 380, 190)\n"
                      "  Layer (10, 20, 180, 360)\n"
                      "  Layer (210, 10, 380, 380)\n"
                      "  Layer (610, 105, 380, 190)\n"
                      "  Layer (1010, 20, 180, 360)\n");
    finishLoads();
}

TEST_F(ItemDisplayTest, KeepsOnlyTheRunAroundThePosition)
{
    show(std::vector<double>(30, 1.0), Rect(0, 0, 640, 400));
    // 1.6 times as wide as high: two photos on either side.
    EXPECT_EQ(m_display.itemLayers().size(), 3u) << "position 0 has nothing on its left";
    m_display.setPosition(10);
    std::vector<std::size_t> kept;
    for (const auto& [index, layer] : m_display.itemLayers())
        kept.push_back(index);
    EXPECT_EQ(kept, (std::vector<std::size_t>{8, 9, 10, 11, 12}));
    EXPECT_EQ(m_display.layer()->sublayers().size(), 5u);

    m_display.layer()->setFrame(Rect(0, 0, 400, 400));
    EXPECT_EQ(m_display.itemLayers().size(), 3u);
    m_display.layer()->setFrame(Rect(0, 0, 1600, 400));
    EXPECT_EQ(m_display.itemLayers().size(), 9u);

    m_display.setPosition(29);
    EXPECT_EQ(m_display.itemLayers().begin()->first, 25u);
    EXPECT_EQ(m_display.itemLayers().rbegin()->first, 29u);
    EXPECT_EQ(failureOf([&] { m_display.setPosition(30); }), "Bad position");
    finishLoads();
}

TEST_F(ItemDisplayTest, PositionZeroIsCentredWithAnEmptyLeft)
{
    show({1.0, 1.0, 1.0}, Rect(0, 0, 800, 400));
    EXPECT_EQ(dump(), "Layer (0, 0, 800, 400)\n"
                      "  Layer (210, 10, 380, 380)\n"
                      "  Layer (610, 10, 380, 380)\n"
                      "  Layer (1010, 10, 380, 380)\n");
    finishLoads();
}

TEST_F(ItemDisplayTest, AlignmentShiftsAPhotoByQuarterHeights)
{
    m_source.m_alignments = {{0, 1}, {1, -1}};
    show({1.0, 1.0, 1.0}, Rect(0, 0, 800, 400));
    EXPECT_EQ(photo(0).frame(), Rect(210, 110, 380, 380));
    EXPECT_EQ(photo(1).frame(), Rect(610, -90, 380, 380));
    finishLoads();
}

TEST_F(ItemDisplayTest, AnAbsentCurrentLayerPutsTheFirstSlotAtTheCentre)
{
    show({1.0, 1.0, 1.0, 1.0}, Rect(0, 0, 800, 400));
    finishLoads();
    // The current photo's layer is missing (a layout before updateLayers has caught up).
    m_display.layer()->sublayers()[0]->removeFromSuperlayer();
    m_display.layer()->layoutSublayers();
    EXPECT_EQ(photo(1).frame(), Rect(410, 10, 380, 380));
    EXPECT_EQ(photo(2).frame(), Rect(810, 10, 380, 380));
}

TEST_F(ItemDisplayTest, PhotosWithoutAPositiveRatioAreSquare)
{
    show({0.0, -2.0, std::nan("")}, Rect(0, 0, 1200, 400));
    m_display.setPosition(1);
    m_display.layer()->layoutIfNeeded();
    EXPECT_EQ(photo(0).frame(), Rect(10, 10, 380, 380));
    EXPECT_EQ(photo(1).frame(), Rect(410, 10, 380, 380));
    EXPECT_EQ(photo(2).frame(), Rect(810, 10, 380, 380));
    finishLoads();
}

TEST_F(ItemDisplayTest, ANarrowSlotGetsAnEmptyFrameAndNoLoad)
{
    // A slot of 0.05 × 400 = 20 points leaves nothing inside its margins.
    show({0.05}, Rect(0, 0, 800, 400));
    EXPECT_TRUE(photo(0).frame().isEmpty());
    EXPECT_EQ(loadSize(photo(0)), 0u);
    finishLoads();
    EXPECT_TRUE(m_source.requests().empty());
}

TEST_F(ItemDisplayTest, AForeignSublayerStopsTheLayout)
{
    show({1.0}, Rect(0, 0, 800, 400));
    m_display.layer()->addSublayer(Layer::create());
    EXPECT_EQ(failureOf([&] { m_display.layer()->layoutSublayers(); }), "Expected ID value not found");
    finishLoads();
}

TEST_F(ItemDisplayTest, NoItemsLeaveTheLayersAloneAndStartNoTimer)
{
    show({1.0, 1.0}, Rect(0, 0, 800, 400));
    finishLoads();
    m_source.m_ratios.clear();
    m_display.updateLayers();
    EXPECT_EQ(m_display.layer()->sublayers().size(), 2u);
    m_display.setAutoAdvanceInterval(3.0);
    EXPECT_EQ(m_display.advanceTimerForTesting(), nullptr);
}

TEST_F(ItemDisplayTest, SettingTheSamePositionUpdatesTheLayers)
{
    show({1.0}, Rect(0, 0, 800, 400));
    m_source.m_ratios.assign(5, 1.0);
    m_display.setPosition(0);
    EXPECT_EQ(m_display.itemLayers().size(), 3u);
    finishLoads();
}

TEST_F(ItemDisplayTest, TheTimerAdvancesAndWraps)
{
    m_display.setAutoAdvanceInterval(2.5);
    EXPECT_EQ(m_display.advanceTimerForTesting(), nullptr) << "no items yet";
    show({1.0, 1.0, 1.0, 1.0, 1.0}, Rect(0, 0, 800, 400));
    AdvanceTimer* timer = m_display.advanceTimerForTesting();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_DOUBLE_EQ(timer->interval(), 2.5);

    m_display.setPosition(3);
    timer->fireForTesting();
    EXPECT_EQ(m_display.position(), 4u);
    timer->fireForTesting();
    EXPECT_EQ(m_display.position(), 0u);

    m_display.setAutoAdvanceInterval(0);
    EXPECT_EQ(m_display.advanceTimerForTesting(), nullptr);
    finishLoads();
}

// Giving a photo's megabytes back to the system is the kernel's work of a millisecond or so: not
// the next frame's.
TEST_F(ItemDisplayTest, PhotosThatLeaveTheStripAreFreedOffTheMainThread)
{
    m_source.m_countsFreeing = true;
    show(std::vector<double>(10, 1.0), Rect(0, 0, 640, 400));
    finishLoads();
    ASSERT_EQ(m_display.itemLayers().size(), 3u);
    ASSERT_FALSE(photo(0).contents().isNull());

    m_display.setPosition(5);
    m_display.layer()->layoutIfNeeded();
    m_display.releaseQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(m_source.m_freeings->onMainThread, 0);
    EXPECT_EQ(m_source.m_freeings->elsewhere, 3) << "the photos of items 0 to 2";

    finishLoads();
    m_display.reloadData();
    m_display.releaseQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(m_source.m_freeings->onMainThread, 0);
    EXPECT_EQ(m_source.m_freeings->elsewhere, 8) << "and those of items 3 to 7, dropped by the reload";
    finishLoads();
}

TEST_F(ItemDisplayTest, ReloadDropsEveryLayerAndStartsAtZero)
{
    show(std::vector<double>(10, 1.0), Rect(0, 0, 800, 400));
    m_display.setPosition(6);
    const std::weak_ptr<Layer> before = m_display.itemLayers().at(6);
    m_display.reloadData();
    EXPECT_EQ(m_display.position(), 0u);
    EXPECT_TRUE(before.expired()) << "a dropped layer is freed with its image";
    std::vector<std::size_t> kept;
    for (const auto& [index, layer] : m_display.itemLayers())
        kept.push_back(index);
    EXPECT_EQ(kept, (std::vector<std::size_t>{0, 1, 2}));
    finishLoads();
}

TEST_F(ItemDisplayTest, AddingAndRemovingPhotoLayersIsNotAnimated)
{
    EXPECT_EQ(m_display.layer()->actions().count("sublayers"), 1u);
    EXPECT_EQ(m_display.layer()->actions().at("sublayers"), nullptr);
    show({1.0}, Rect(0, 0, 800, 400));
    EXPECT_DOUBLE_EQ(photo(0).shadowOpacity(), 0.75);
    EXPECT_EQ(photo(0).contentsGravity(), ContentsGravity::ResizeAspect);
    finishLoads();
}

TEST_F(ItemDisplayTest, LoadsFollowTheLaidOutSizeAndNeverShrink)
{
    show({2.0}, Rect(0, 0, 800, 400));
    EXPECT_EQ(photo(0).frame().size, (Size{380, 190}));
    EXPECT_EQ(loadSize(photo(0)), 380u);
    finishLoads();
    EXPECT_FALSE(photo(0).contents().isNull());

    m_display.layer()->setFrame(Rect(0, 0, 800, 520));
    m_display.layer()->layoutIfNeeded();
    EXPECT_EQ(photo(0).frame().size, (Size{500, 250}));
    EXPECT_EQ(loadSize(photo(0)), 500u);
    EXPECT_TRUE(photo(0).contents().isNull()) << "the placeholder shows while the larger photo loads";
    EXPECT_DOUBLE_EQ(photo(0).borderWidth(), 1.0);
    finishLoads();

    m_display.layer()->setFrame(Rect(0, 0, 800, 400));
    m_display.layer()->layoutIfNeeded();
    EXPECT_EQ(loadSize(photo(0)), 500u);
    finishLoads();
    EXPECT_EQ(m_source.requests(), (std::vector<std::pair<std::size_t, unsigned>>{{0, 380}, {0, 500}}));
    EXPECT_EQ(photo(0).contents().width(), 500);
}

TEST_F(ItemDisplayTest, ASmallerImageThatArrivesLateNeverReplacesALargerOne)
{
    m_source.setHeldSize(380);
    m_source.setGateOpen(false);
    show({2.0}, Rect(0, 0, 800, 400));
    ASSERT_TRUE(m_source.waitForRequests(1));
    m_display.layer()->setFrame(Rect(0, 0, 800, 520));
    m_display.layer()->layoutIfNeeded();
    const auto larger = photo(0).attribute(ItemDisplay::loadOperationKey).value<std::shared_ptr<Operation>>();
    ASSERT_NE(larger, nullptr);
    larger->waitUntilFinished();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(photo(0).contents().width(), 500);

    m_source.setGateOpen(true);
    finishLoads();
    EXPECT_EQ(m_source.requests(), (std::vector<std::pair<std::size_t, unsigned>>{{0, 380}, {0, 500}}));
    EXPECT_EQ(photo(0).contents().width(), 500);
}

// A photo in another format or colour space is made ready to draw on its load thread alone: Qt
// would split the conversion of a photo this large over its shared pool, whose threads compete
// with the main thread at normal priority.
TEST_F(ItemDisplayTest, PhotosAreMadeReadyToDrawWithoutQtsSharedThreadPool)
{
    m_source.m_format = QImage::Format_ARGB32;
    m_source.m_colorSpace = QColorSpace(QColorSpace::AdobeRgb);
    BlockedGlobalPool blocked;
    ASSERT_TRUE(blocked.isBlocked());
    show({1.5}, Rect(0, 0, 1600, 1100));
    const bool loaded = waitUntil([&] { return m_display.workQueue().operationCount() == 0; });
    blocked.release();
    EXPECT_TRUE(loaded);
    finishLoads();
    const QImage shown = photo(0).contents();
    ASSERT_GT(qint64(shown.width()) * shown.height(), 2 * 65536);
    EXPECT_EQ(shown.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(shown.colorSpace(), QColorSpace(QColorSpace::SRgb));
    QImage expected(1, 1, QImage::Format_ARGB32);
    expected.fill(QColor(200, 40, 40));
    expected.setColorSpace(QColorSpace::AdobeRgb);
    expected.convertToColorSpace(QColorSpace::SRgb);
    const QRgb want = expected.pixel(0, 0), got = shown.pixel(shown.width() / 2, shown.height() / 2);
    EXPECT_LE(std::abs(qRed(want) - qRed(got)) + std::abs(qGreen(want) - qGreen(got)) +
                  std::abs(qBlue(want) - qBlue(got)),
              3)
        << std::hex << want << " " << got;
}

TEST_F(ItemDisplayTest, ASquareLayerRequestsItsHeight)
{
    show({1.0}, Rect(0, 0, 800, 220));
    EXPECT_EQ(photo(0).frame().size, (Size{200, 200}));
    finishLoads();
    EXPECT_EQ(m_source.requests(), (std::vector<std::pair<std::size_t, unsigned>>{{0, 200}}));
}

class ScaledHost : public FakeLayerTreeHost {
public:
    double devicePixelRatio() const override { return 2.0; }
};

TEST_F(ItemDisplayTest, PhotosAreDecodedForTheDevicePixelsTheyCover)
{
    ScaledHost host;
    m_display.layer()->setTreeHost(&host);
    show({2.0}, Rect(0, 0, 800, 400));
    finishLoads();
    EXPECT_EQ(m_source.requests(), (std::vector<std::pair<std::size_t, unsigned>>{{0, 760}}));
    m_display.layer()->setTreeHost(nullptr);
}

// The frame that first shows a photo of a new shape, as it enters the strip and again once it
// has faded in, finds its shadow made on a loading thread: making one is a full-size image
// written on the main thread, page faults and all.
TEST_F(ItemDisplayTest, ShadowsOfEnteringPhotosAreMadeAheadOffTheMainThread)
{
    ManualAnimationClock clock;
    ScaledHost host;
    m_display.layer()->setTreeHost(&host);
    ShadowImageCache::clearForTesting();
    // 1.6 times as wide as high: a move to 1 brings in item 3, of a shape not shown yet, at the
    // right edge. The narrow photos' images are a pixel narrower than their frames (see the
    // fake), so once faded in they cast a shadow of another size than their placeholders'.
    show({0.45, 0.45, 0.45, 0.7, 0.45}, Rect(0, 0, 640, 400));
    const auto frame = [&] {
        QImage image(1280, 800, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        QPainter painter(&image);
        LayerPainter::paint(painter, *m_display.layer(), QSizeF(640, 400));
    };
    frame();
    finishLoads();
    EXPECT_EQ(m_display.shadowPreparationCountForTesting(), 1);
    const int made = ShadowImageCache::madeOnMainThreadCountForTesting();

    // Its load is held, so only a shadow made ahead can be there.
    m_source.setGateOpen(false);
    m_display.setPosition(1);
    frame();
    EXPECT_EQ(ShadowImageCache::madeOnMainThreadCountForTesting(), made) << "the placeholder's shadow";
    m_source.setGateOpen(true);
    finishLoads();
    clock.advance(ItemDisplay::fadeInDuration);
    frame();
    EXPECT_EQ(ShadowImageCache::madeOnMainThreadCountForTesting(), made) << "the shadows of the photos shown";
    // Nothing is queued again for a shape made already (item 4 is a landscape).
    EXPECT_EQ(m_display.shadowPreparationCountForTesting(), 1);
    m_display.layer()->setTreeHost(nullptr);
}

// A window that can be moved between screens of different densities.
class SteppedHost : public FakeLayerTreeHost {
public:
    double devicePixelRatio() const override { return ratio; }
    double ratio = 1.0;
};

TEST_F(ItemDisplayTest, MovingToADenserScreenReloadsThePhotosAndRedrawsTheMask)
{
    SteppedHost host;
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, 800, 400));
    root->setTreeHost(&host);
    root->addSublayer(m_display.layer());
    m_display.setFeatherRightEdge(true);
    show({2.0, 2.0}, Rect(0, 0, 800, 400));
    auto paintAt = [&](double ratio) {
        host.ratio = ratio;
        QImage frame(int(800 * ratio), int(400 * ratio), QImage::Format_ARGB32_Premultiplied);
        frame.setDevicePixelRatio(ratio);
        QPainter painter(&frame);
        LayerPainter::paint(painter, *root, QSizeF(800, 400));
    };
    // The loads run side by side, so the order within one screen's requests is open.
    auto requests = [&] {
        auto made = m_source.requests();
        std::sort(made.begin(), made.end(), [](const auto& a, const auto& b) {
            return std::pair(a.second, a.first) < std::pair(b.second, b.first);
        });
        return made;
    };
    paintAt(1.0);
    finishLoads();
    EXPECT_EQ(requests(), (std::vector<std::pair<std::size_t, unsigned>>{{0, 380}, {1, 380}}));

    // Nothing in the tree changed but the screen: the photos are asked for again at twice the
    // pixels, and the feathers are drawn again for the denser pixels.
    paintAt(2.0);
    EXPECT_TRUE(photo(0).contents().isNull()) << "the placeholder shows while the sharper photo loads";
    finishLoads();
    EXPECT_EQ(requests(),
              (std::vector<std::pair<std::size_t, unsigned>>{{0, 380}, {1, 380}, {0, 760}, {1, 760}}));
    EXPECT_EQ(photo(0).contents().width(), 760);
    EXPECT_EQ(m_display.layer()->mask()->backingImage().width(), 1600);

    // Back on the coarser screen the sharper photos are kept: nothing smaller replaces them.
    paintAt(1.0);
    finishLoads();
    EXPECT_EQ(m_source.requests().size(), 4u);
    EXPECT_EQ(photo(0).contents().width(), 760);
    EXPECT_EQ(m_display.layer()->mask()->backingImage().width(), 800);
    m_display.layer()->removeFromSuperlayer();
    root->setTreeHost(nullptr);
}

TEST_F(ItemDisplayTest, TheCurrentPhotoLoadsFirst)
{
    m_display.workQueue().setMaxConcurrentOperationCount(1);
    m_source.setGateOpen(false);
    show(std::vector<double>(10, 1.0), Rect(0, 0, 1600, 400));
    // Hold the queue's one thread with the load of photo 0, then queue the others behind it.
    ASSERT_TRUE(m_source.waitForRequests(1));
    m_display.setPosition(3);
    m_display.layer()->layoutIfNeeded();
    m_source.setGateOpen(true);
    finishLoads();
    const auto requests = m_source.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].first, 3u);
}

TEST_F(ItemDisplayTest, AQuickRunCancelsTheLoadsItLeavesBehind)
{
    m_display.workQueue().setMaxConcurrentOperationCount(1);
    m_source.setGateOpen(false);
    show(std::vector<double>(20, 1.0), Rect(0, 0, 400, 400));
    ASSERT_TRUE(m_source.waitForRequests(1));
    const std::weak_ptr<Layer> first = m_display.itemLayers().at(0);
    const auto waiting = m_display.itemLayers().at(1)->attribute(ItemDisplay::loadOperationKey);
    ASSERT_TRUE(waiting.isValid());
    for (std::size_t position = 1; position <= 8; ++position) {
        m_display.setPosition(position);
        m_display.layer()->layoutIfNeeded();
    }
    EXPECT_TRUE(first.expired()) << "a layer that left the strip is freed while its load runs";
    EXPECT_TRUE(waiting.value<std::shared_ptr<Operation>>()->isCancelled());
    m_source.setGateOpen(true);
    finishLoads();

    std::vector<std::size_t> asked;
    for (const auto& [index, size] : m_source.requests())
        asked.push_back(index);
    // Photo 0 was already loading; only the photos still in the strip were asked for after it.
    EXPECT_EQ(asked, (std::vector<std::size_t>{0, 8, 7, 9}));
    for (const auto& [index, layer] : m_display.itemLayers()) {
        EXPECT_FALSE(layer->contents().isNull()) << index;
        EXPECT_FALSE(layer->attribute(ItemDisplay::loadOperationKey).isValid()) << index;
    }
}

TEST_F(ItemDisplayTest, AMissingPhotoKeepsThePlaceholder)
{
    m_source.setMissing(0);
    show({1.0}, Rect(0, 0, 400, 400));
    finishLoads();
    const Layer& layer = photo(0);
    EXPECT_TRUE(layer.contents().isNull());
    EXPECT_DOUBLE_EQ(layer.borderWidth(), 1.0);
    EXPECT_EQ(layer.borderColor(), Color::white(0, 0.25));
    EXPECT_EQ(layer.backgroundColor(), Color::white(1, 0.5));
    EXPECT_EQ(loadSize(layer), 380u);

    // Half white over the photo's own shadow in the middle; the faint border darkens the edge.
    const QImage frame = LayerPainter::render(*m_display.layer(), QSize(400, 400));
    const QColor middle = frame.pixelColor(200, 200);
    EXPECT_NEAR(middle.alpha(), 223, 4);
    EXPECT_NEAR(middle.red() * middle.alphaF(), 127, 4);
    const QColor edge = frame.pixelColor(200, 10);
    EXPECT_LT(edge.red() * edge.alphaF(), middle.red() * middle.alphaF() - 20);

    // A failed photo is not asked for again at the same size.
    m_display.layer()->layoutSublayers();
    finishLoads();
    EXPECT_EQ(m_source.requests().size(), 1u);
}

TEST_F(ItemDisplayTest, ALoadedPhotoFadesInOverOneSecond)
{
    ManualAnimationClock clock;
    FakeLayerTreeHost host;
    m_display.layer()->setTreeHost(&host);
    show({1.0}, Rect(0, 0, 400, 400));
    LayerPainter::render(*m_display.layer(), QSize(400, 400));
    finishLoads();
    const Layer& layer = photo(0);
    EXPECT_FALSE(layer.contents().isNull());
    EXPECT_DOUBLE_EQ(layer.borderWidth(), 0);
    EXPECT_EQ(layer.backgroundColor(), std::nullopt);
    clock.advance(0.5);
    EXPECT_NEAR(layer.presentation().contentsTransition, 0.5, 0.01);
    EXPECT_NEAR(layer.presentation().borderWidth, 0.5, 0.01);
    clock.advance(0.5);
    EXPECT_DOUBLE_EQ(layer.presentation().contentsTransition, 1.0);
    m_display.layer()->setTreeHost(nullptr);
}

TEST(ItemDisplayLifetimeTest, ALoadThatEndsAfterTheStripIsGoneDoesNothing)
{
    FakeItemDisplayDataSource source({1.0, 1.0});
    std::weak_ptr<Layer> photoLayer;
    {
        ItemDisplay display;
        display.layer()->setFrame(Rect(0, 0, 800, 400));
        display.setDataSource(&source);
        display.layer()->layoutIfNeeded();
        display.workQueue().waitUntilAllOperationsAreFinished();
        photoLayer = display.itemLayers().at(0);
    }
    EXPECT_TRUE(photoLayer.expired());
    // The finished loads' hand-overs are still waiting on the event loop.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(source.requests().size(), 2u);
}

TEST_F(ItemDisplayTest, LettingGoOfTheDataSourceDoesNotWaitForTheWorkItHandedOut)
{
    m_display.workQueue().setMaxConcurrentOperationCount(1);
    m_source.setGateOpen(false);
    m_source.m_handsOutWork = true;
    show({1.0, 1.0, 1.0}, Rect(0, 0, 800, 400));
    // The load thread is making photo 0, held at the gate.
    ASSERT_TRUE(m_source.waitForRequests(1));
    std::atomic<bool> returned = false;
    std::atomic<bool> forced = false;
    std::thread watchdog([&] {
        if (!waitUntil([&] { return returned.load(); }, std::chrono::seconds(5))) {
            forced = true;
            m_source.setGateOpen(true);
        }
    });
    m_display.setDataSource(nullptr);
    returned = true;
    watchdog.join();
    EXPECT_FALSE(forced) << "letting go of the data source waited for a decode under way";
    m_source.setGateOpen(true);
    finishLoads();
    EXPECT_EQ(m_source.requests().size(), 1u) << "nothing is asked once the data source is gone";
}

TEST_F(ItemDisplayTest, ALoadOfADroppedLayerNeverAsks)
{
    m_display.workQueue().setMaxConcurrentOperationCount(1);
    m_source.setGateOpen(false);
    show({1.0, 1.0, 1.0}, Rect(0, 0, 800, 400));
    ASSERT_TRUE(m_source.waitForRequests(1));
    // A reload leaves the old layers' loads queued, but nothing holds their layers any more.
    m_display.reloadData();
    m_display.layer()->layoutIfNeeded();
    m_source.setGateOpen(true);
    finishLoads();
    std::vector<std::size_t> asked;
    for (const auto& [index, size] : m_source.requests())
        asked.push_back(index);
    EXPECT_EQ(asked, (std::vector<std::size_t>{0, 0, 1, 2}));
}

class ItemDisplayMaskTest : public ::testing::Test {
protected:
    // The mask's opacity at the middle of pixel column `x`, 0 to 1.
    double opacityAt(int x)
    {
        const LayerPtr mask = m_display.layer()->mask();
        mask->displayIfNeeded();
        return mask->backingImage().pixelColor(x, 50).alphaF();
    }

    ItemDisplay m_display;
};

TEST_F(ItemDisplayMaskTest, TheRightEdgeFadesOverTenPoints)
{
    m_display.layer()->setFrame(Rect(0, 0, 1000, 100));
    EXPECT_EQ(m_display.layer()->mask(), nullptr);
    m_display.setFeatherRightEdge(true);
    ASSERT_NE(m_display.layer()->mask(), nullptr);
    EXPECT_EQ(LayerTreeDump::dump(*m_display.layer()), "Layer (0, 0, 1000, 100)\n"
                                                       "  mask Layer (0, 0, 1000, 100)\n");
    EXPECT_DOUBLE_EQ(opacityAt(0), 1.0);
    EXPECT_DOUBLE_EQ(opacityAt(989), 1.0);
    EXPECT_NEAR(opacityAt(995), 0.75 - 0.075, 0.03);
    EXPECT_NEAR(opacityAt(992), 0.875, 0.03);
    EXPECT_NEAR(opacityAt(999), 0.075, 0.03);
}

TEST_F(ItemDisplayMaskTest, BothEdgesLeaveTheMiddleOpaque)
{
    m_display.layer()->setFrame(Rect(0, 0, 1000, 100));
    m_display.setFeatherLeftEdge(true);
    m_display.setFeatherRightEdge(true);
    EXPECT_NEAR(opacityAt(0), 0.075, 0.03);
    EXPECT_NEAR(opacityAt(4), 0.675, 0.03);
    EXPECT_DOUBLE_EQ(opacityAt(10), 1.0);
    EXPECT_DOUBLE_EQ(opacityAt(500), 1.0);
    EXPECT_DOUBLE_EQ(opacityAt(989), 1.0);
    EXPECT_NEAR(opacityAt(999), 0.075, 0.03);

    // The mask follows the strip's bounds and goes with the last feather.
    m_display.layer()->setFrame(Rect(0, 0, 600, 100));
    m_display.layer()->layoutIfNeeded();
    EXPECT_EQ(m_display.layer()->mask()->frame(), Rect(0, 0, 600, 100));
    EXPECT_NEAR(opacityAt(599), 0.075, 0.03);
    m_display.setFeatherLeftEdge(false);
    EXPECT_DOUBLE_EQ(opacityAt(0), 1.0);
    m_display.setFeatherRightEdge(false);
    EXPECT_EQ(m_display.layer()->mask(), nullptr);
}

TEST_F(ItemDisplayMaskTest, DrawsNothingButItsMask)
{
    const LayerPtr other = Layer::create();
    other->setBounds(Rect(0, 0, 10, 10));
    QImage image(10, 10, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    DrawingContext context(painter, other->bounds());
    EXPECT_EQ(failureOf([&] { m_display.drawLayer(*other, context); }), "Draws mask only");
}

} // namespace

TEST_F(ItemDisplayTest, PhotosAreDecodedInTheBackground)
{
    const auto policy = [] { return ::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK; };
    std::atomic<int> seen = -1;
    auto operation = QMInvocationOperation::create();
    operation->prepare([&] { seen = policy(); });
    m_display.workQueue().addOperation(operation);
    m_display.workQueue().waitUntilAllOperationsAreFinished();
    // Under the idle policy a decode gives the processor up the moment the main thread wakes.
    EXPECT_EQ(seen.load(), SCHED_IDLE) << "a decode would keep the next frame waiting";
    EXPECT_NE(policy(), SCHED_IDLE);
}
