#include "ui/Raroderavarav.h"

#include "platform/foundation/InternalInconsistency.h"

#include <future>
#include <gtest/gtest.h>

TEST(RaroderavaravTest, FreshControllerIsDetachedWithAnEmptyUnsizedLayer) {
    auto controller = std::make_shared<Raroderavarav>();
    EXPECT_EQ(controller->hostView(), nullptr);
    EXPECT_EQ(controller->parentController(), nullptr);
    EXPECT_EQ(controller->overlayLayer(), nullptr);
    ASSERT_NE(controller->layer(), nullptr);
    EXPECT_TRUE(controller->layer()->sublayers().empty());
    EXPECT_EQ(controller->layer()->bounds(), Rect());
    EXPECT_EQ(controller->layer()->layoutManager(), controller.get());
}

TEST(RaroderavaravTest, ConstructionOffTheMainThreadFails) {
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

TEST(RaroderavaravTest, LayerOutlivingItsControllerForgetsIt) {
    LayerPtr kept;
    {
        auto controller = std::make_shared<Raroderavarav>();
        kept = controller->layer();
    }
    EXPECT_EQ(kept->layoutManager(), nullptr);
    kept->setNeedsLayout();
    kept->layoutIfNeeded();
}
