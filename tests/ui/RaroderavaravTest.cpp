#include "ui/Raroderavarav.h"

#include "platform/foundation/InternalInconsistency.h"
#include "support/FailureOf.h"
#include "support/QMKVOAdditions.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

TEST(RaroderavaravTest, FreshControllerIsDetachedWithAnEmptyUnsizedLayer)
{
    auto controller = std::make_shared<Raroderavarav>();
    EXPECT_EQ(controller->hostView(), nullptr);
    EXPECT_EQ(controller->parentController(), nullptr);
    EXPECT_EQ(controller->overlayLayer(), nullptr);
    ASSERT_NE(controller->layer(), nullptr);
    EXPECT_TRUE(controller->layer()->sublayers().empty());
    EXPECT_EQ(controller->layer()->bounds(), Rect());
    EXPECT_EQ(controller->layer()->layoutManager(), controller.get());
}

TEST(RaroderavaravTest, ConstructionOffTheMainThreadFails)
{
    EXPECT_EQ(failureOffTheMainThread([] { Raroderavarav controller; }), "Main thread only!");
}

namespace {
// Counts the layouts of its layer in a counter that outlives it.
class LayoutCountingController : public Raroderavarav {
public:
    explicit LayoutCountingController(std::shared_ptr<int> layouts)
        : m_layouts(std::move(layouts))
    {}
    void layoutSublayersOfLayer(Layer& /*layer*/) override { ++*m_layouts; }

private:
    std::shared_ptr<int> m_layouts;
};
} // namespace

TEST(RaroderavaravTest, LayerOutlivingItsControllerForgetsIt)
{
    const auto layouts = std::make_shared<int>(0);
    LayerPtr kept;
    {
        auto controller = std::make_shared<LayoutCountingController>(layouts);
        kept = controller->layer();
        kept->setNeedsLayout();
        kept->layoutIfNeeded();
        EXPECT_EQ(*layouts, 1) << "the controller lays out its own layer";
    }
    EXPECT_EQ(kept->layoutManager(), nullptr);
    kept->setNeedsLayout();
    EXPECT_TRUE(kept->needsLayout());
    kept->layoutIfNeeded();
    EXPECT_FALSE(kept->needsLayout()) << "laid out, by nobody";
    EXPECT_EQ(*layouts, 1) << "no layout reaches the controller that is gone";
}

namespace {

// Watches the bounds of its own layer, as a photo strip does, into a list that outlives it.
class BoundsWatchingController : public Raroderavarav {
public:
    explicit BoundsWatchingController(std::shared_ptr<std::vector<Rect>> seen)
        : m_seen(std::move(seen))
    {
        qm_addObserver<BoundsWatchingController>(*this, this, "layer.bounds", KeyValueObservingOptions::New);
    }

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override
    {
        if (context != QMKVOObservationContext) {
            Raroderavarav::observeValueForKeyPath(keyPath, object, change, context);
            return;
        }
        m_seen->push_back(std::any_cast<Rect>(change.newValue));
    }

private:
    std::shared_ptr<std::vector<Rect>> m_seen;
};

} // namespace

TEST(RaroderavaravTest, ControllersObserveTheirOwnLayersGeometry)
{
    const auto seen = std::make_shared<std::vector<Rect>>();
    auto controller = std::make_shared<BoundsWatchingController>(seen);
    controller->layer()->setFrame(Rect(10, 10, 200, 100));
    EXPECT_EQ(*seen, (std::vector<Rect>{Rect(0, 0, 200, 100)})) << "a frame change is a bounds change";

    // The layer may outlive the controller; it must stop reporting to it.
    const LayerPtr layer = controller->layer();
    controller.reset();
    EXPECT_EQ(layer->observationCount(), 0u);
    layer->setBounds(Rect(0, 0, 1, 1));
    EXPECT_EQ(layer->bounds(), Rect(0, 0, 1, 1));
    EXPECT_EQ(*seen, (std::vector<Rect>{Rect(0, 0, 200, 100)})) << "nothing more reaches the controller";
}
