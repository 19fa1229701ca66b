#include "platform/graphics/LayerTreeDump.h"

#include "platform/graphics/Layer.h"
#include "platform/graphics/TextLayer.h"

#include <gtest/gtest.h>

TEST(LayerTreeDumpTest, OneLinePerLayerIndentedByDepth)
{
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, 800, 600));
    const LayerPtr strip = Layer::create();
    strip->setName("strip");
    strip->setFrame(Rect(0, 0, 400, 300.5));
    strip->setMask(Layer::create());
    root->addSublayer(strip);
    const auto caption = TextLayer::create();
    caption->setString(QStringLiteral("★★☆"));
    caption->setFrame(Rect(0, 540, 800, 60));
    caption->setHidden(true);
    root->addSublayer(caption);
    strip->addSublayer(Layer::create());

    EXPECT_EQ(LayerTreeDump::dump(*root), "Layer (0, 0, 800, 600)\n"
                                          "  strip (0, 0, 400, 300.5)\n"
                                          "    mask Layer (0, 0, 0, 0)\n"
                                          "    Layer (0, 0, 0, 0)\n"
                                          "  TextLayer (0, 540, 800, 60) \"★★☆\" hidden\n");
}
