#include "ui/Raroderavarav.h"

#include "platform/foundation/InternalInconsistency.h"
#include "support/QMKVOAdditions.h"

#include <future>
#include <gtest/gtest.h>
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
    auto result = std::async(std::launch::async, [] {
        try {
            Raroderavarav controller;
        } catch (const InternalInconsistency& failure) {
            return failure.description();
        }
        return std::string("no failure");
    });
    EXPECT_EQ(result.get(), "Main thread only!");
}

TEST(RaroderavaravTest, LayerOutlivingItsControllerForgetsIt)
{
    LayerPtr kept;
    {
        auto controller = std::make_shared<Raroderavarav>();
        kept = controller->layer();
    }
    EXPECT_EQ(kept->layoutManager(), nullptr);
    kept->setNeedsLayout();
    kept->layoutIfNeeded();
}

namespace {

// Watches the bounds of its own layer, as a photo strip does.
class BoundsWatchingController : public Raroderavarav {
public:
    BoundsWatchingController()
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
        seen.push_back(std::any_cast<Rect>(change.newValue));
    }

    std::vector<Rect> seen;
};

} // namespace

TEST(RaroderavaravTest, ControllersObserveTheirOwnLayersGeometry)
{
    auto controller = std::make_shared<BoundsWatchingController>();
    controller->layer()->setFrame(Rect(10, 10, 200, 100));
    EXPECT_EQ(controller->seen, (std::vector<Rect>{Rect(0, 0, 200, 100)}))
        << "a frame change is a bounds change";

    // The layer may outlive the controller; it must stop reporting to it.
    const LayerPtr layer = controller->layer();
    controller.reset();
    EXPECT_EQ(layer->observationCount(), 0u);
    layer->setBounds(Rect(0, 0, 1, 1));
}
