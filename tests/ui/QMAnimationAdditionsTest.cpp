#include "ui/QMAnimationAdditions.h"

#include "platform/graphics/Animation.h"
#include "platform/graphics/Layer.h"

#include <gtest/gtest.h>

TEST(QMAnimationAdditionsTest, AnAnimationKnowsTheLayerItWasAddedTo)
{
    const auto animation = Animation::create();
    EXPECT_EQ(qm_layer(*animation), nullptr);

    LayerPtr layer = Layer::create();
    qm_addToLayer(animation, layer);
    EXPECT_EQ(qm_layer(*animation), layer);
    EXPECT_TRUE(layer->hasOwnAnimations());
    EXPECT_EQ(layer->animationForKey(std::nullopt), nullptr);

    // The layer holds the animation; the reference back must not keep the layer alive.
    const std::weak_ptr<Layer> watch = layer;
    layer.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(qm_layer(*animation), nullptr);
}

TEST(QMAnimationAdditionsTest, SettingAndClearingTheLayer)
{
    const auto animation = Animation::create();
    const LayerPtr layer = Layer::create();
    qm_setLayer(*animation, layer);
    EXPECT_EQ(qm_layer(*animation), layer);
    EXPECT_FALSE(layer->hasOwnAnimations()) << "setting alone adds nothing";
    qm_setLayer(*animation, nullptr);
    EXPECT_EQ(qm_layer(*animation), nullptr);

    animation->setValue("com_quillmoss_animation_layer", 3);
    EXPECT_EQ(qm_layer(*animation), nullptr) << "something else under the key is no layer";
    qm_addToLayer(animation, nullptr);
    qm_addToLayer(nullptr, layer);
    EXPECT_FALSE(layer->hasOwnAnimations());
}
