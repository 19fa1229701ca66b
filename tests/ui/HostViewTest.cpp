#include "ui/HostView.h"

#include "support/FailureOf.h"
#include "support/RecordingController.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;
using Log = RecordingController::Log;

namespace {
class HostViewTest : public testing::Test {
protected:
    std::shared_ptr<RecordingController> make(const std::string& name, LayerPtr overlay = nullptr)
    {
        return std::make_shared<RecordingController>(name, log, std::move(overlay));
    }

    std::vector<const Layer*> hostSublayers() const
    {
        std::vector<const Layer*> layers;
        for (const LayerPtr& layer : view.layer()->sublayers())
            layers.push_back(layer.get());
        return layers;
    }

    std::shared_ptr<Log> log = std::make_shared<Log>();
    HostView view;
};
} // namespace

TEST_F(HostViewTest, PushOntoEmptyStackShowsOnlyTheNewController)
{
    auto root = make("R");
    view.pushController(root);
    EXPECT_THAT(*log, ElementsAre("R layerWillAppear", "R layerDidAppear"));
    EXPECT_THAT(hostSublayers(), ElementsAre(root->layer().get()));
    EXPECT_EQ(view.currentController(), root.get());
    EXPECT_EQ(root->hostView(), &view);
    EXPECT_EQ(root->parentController(), nullptr);
}

TEST_F(HostViewTest, PushAndPopFollowTheFixedOrder)
{
    auto root = make("R");
    auto album = make("A");
    view.pushController(root);
    log->clear();
    album->m_recordLinks = true;

    view.pushController(album);
    EXPECT_THAT(*log, ElementsAre("A layerWillAppear host parent", "R layerWillDisappear",
                                  "R layerDidDisappear", "A layerDidAppear host parent"));
    EXPECT_THAT(hostSublayers(), ElementsAre(album->layer().get()));
    EXPECT_EQ(album->parentController(), root.get());

    log->clear();
    ControllerPtr popped = view.popController();
    EXPECT_EQ(popped, album);
    // The popped controller is already detached when it hears that it disappears.
    EXPECT_THAT(*log, ElementsAre("R layerWillAppear", "A layerWillDisappear nohost noparent",
                                  "A layerDidDisappear nohost noparent", "R layerDidAppear"));
    EXPECT_THAT(hostSublayers(), ElementsAre(root->layer().get()));
    EXPECT_EQ(album->hostView(), nullptr);
}

TEST_F(HostViewTest, ContentLayersFillTheViewAfterEverySwapAndResize)
{
    view.resize(640, 480);
    view.show();
    auto root = make("R");
    view.pushController(root);
    EXPECT_EQ(root->layer()->frame(), Rect(0, 0, 640, 480));
    view.resize(1600, 1200);
    EXPECT_EQ(view.layer()->bounds(), Rect(0, 0, 1600, 1200));
    EXPECT_EQ(root->layer()->frame(), Rect(0, 0, 1600, 1200));
}

TEST_F(HostViewTest, OverlaysStayAboveLaterContentLayers)
{
    auto root = make("R");
    auto overlay = Layer::create();
    auto stage = make("S", overlay);
    auto secondOverlay = Layer::create();
    auto flow = make("F", secondOverlay);
    auto menu = make("M");

    view.pushController(root);
    view.pushController(stage);
    EXPECT_EQ(view.lowestOverlay(), overlay);
    EXPECT_THAT(hostSublayers(), ElementsAre(stage->layer().get(), overlay.get()));

    view.pushController(flow);
    view.pushController(menu);
    EXPECT_EQ(view.lowestOverlay(), overlay);
    EXPECT_THAT(hostSublayers(), ElementsAre(menu->layer().get(), overlay.get(), secondOverlay.get()));

    view.popController(); // a controller without overlay leaves lowestOverlay alone
    EXPECT_EQ(view.lowestOverlay(), overlay);
    view.popController();
    EXPECT_THAT(hostSublayers(), ElementsAre(stage->layer().get(), overlay.get()));
    view.popController();
    EXPECT_EQ(view.lowestOverlay(), nullptr);
    EXPECT_THAT(hostSublayers(), ElementsAre(root->layer().get()));
}

TEST_F(HostViewTest, FirstControllerWithOverlayGoesBelowItsOwnOverlay)
{
    auto overlay = Layer::create();
    auto stage = make("S", overlay);
    view.pushController(stage);
    EXPECT_THAT(hostSublayers(), ElementsAre(stage->layer().get(), overlay.get()));
}

TEST_F(HostViewTest, PopToControllerAcrossThreeLevels)
{
    auto root = make("R");
    auto middle = make("M");
    auto top = make("T");
    view.pushController(root);
    view.pushController(middle);
    view.pushController(top);
    log->clear();

    std::vector<ControllerPtr> popped = view.popToController(root.get());
    EXPECT_THAT(popped, ElementsAre(top, middle));
    std::vector<std::string> middleCalls;
    for (const std::string& entry : *log)
        if (entry.rfind("M ", 0) == 0)
            middleCalls.push_back(entry);
    EXPECT_THAT(middleCalls, ElementsAre("M layerWillAppear", "M layerDidAppear", "M layerWillDisappear",
                                         "M layerDidDisappear"));
    EXPECT_EQ(view.currentController(), root.get());

    log->clear();
    EXPECT_THAT(view.popToController(root.get()), IsEmpty());
    EXPECT_THAT(*log, IsEmpty());
    EXPECT_THAT(view.popToRootController(), IsEmpty());
}

TEST_F(HostViewTest, PopToAForeignControllerFails)
{
    auto root = make("R");
    view.pushController(root);
    auto stranger = make("X");
    EXPECT_EQ(failureOf([&] { view.popToController(stranger.get()); }),
              "Invalid parameter not satisfying: newController.hostView == self");
}

TEST_F(HostViewTest, DidAppearMayPushButWillAppearMayNot)
{
    auto root = make("R");
    auto next = make("N");
    root->m_onDidAppear = [&] {
        if (view.controllers().size() == 1)
            view.pushController(next);
    };
    view.pushController(root);
    EXPECT_EQ(view.currentController(), next.get());

    auto nested = make("Nested");
    auto eager = make("E");
    eager->m_onWillAppear = [&] { view.pushController(nested); };
    EXPECT_EQ(failureOf([&] { view.pushController(eager); }), "Nested controller management not supported");
}

TEST_F(HostViewTest, LayoutOfAForeignLayerFails)
{
    auto stranger = Layer::create();
    EXPECT_EQ(failureOf([&] { view.layoutSublayersOfLayer(*stranger); }),
              "Invalid parameter not satisfying: theLayer == self.layer");
}

TEST_F(HostViewTest, ConstructionConfiguresTheRemoteWithoutStartingIt)
{
    EXPECT_FALSE(view.isRemoteActive());
    EXPECT_FALSE(view.remote().simulateHoldEvents());
    EXPECT_EQ(view.remote().delegate(), &view);
    EXPECT_THAT(view.remote().unusedButtonCodes(),
                ElementsAre(6, 65537, 65538, 65539, 65540, 65541, 65542, 65543, 393216));
    view.setRemoteActive(true);
    EXPECT_TRUE(view.isRemoteActive());
    EXPECT_EQ(view.remote().mode(), RemoteModeExclusiveAuto);
    view.setRemoteActive(false);
    EXPECT_FALSE(view.isRemoteActive());
}
