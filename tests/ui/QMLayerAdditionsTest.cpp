#include "ui/QMLayerAdditions.h"

#include "platform/graphics/Layer.h"

#include <gtest/gtest.h>

TEST(QMLayerAdditionsTest, RootLayerIsTheTopmostAncestor)
{
    const LayerPtr root = Layer::create();
    const LayerPtr child = Layer::create();
    const LayerPtr grandchild = Layer::create();
    root->addSublayer(child);
    child->addSublayer(grandchild);
    EXPECT_EQ(&qm_rootLayer(*grandchild), root.get());
    EXPECT_EQ(&qm_rootLayer(*root), root.get()) << "a layer without a parent is its own root";
}

TEST(QMLayerAdditionsTest, RectanglesAlignToWholeUnitsOfTheRoot)
{
    const Rect r(10.2, 10.7, 100.1, 20.0);
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, 800, 600));
    EXPECT_EQ(qm_pixelAlignRect(*root, r), Rect(10, 10, 101, 21));

    const LayerPtr child = Layer::create();
    child->setFrame(Rect(30, 40, 300, 200));
    root->addSublayer(child);
    EXPECT_EQ(qm_pixelAlignRect(*child, r), Rect(10, 10, 101, 21)) << "an integral offset changes nothing";

    // Half a unit off the root's grid, the child's whole units are no longer the root's.
    child->setFrame(Rect(30.5, 40, 300, 200));
    EXPECT_EQ(qm_pixelAlignRect(*child, r), Rect(9.5, 10, 101, 21));

    const LayerPtr loose = Layer::create();
    EXPECT_EQ(qm_pixelAlignRect(*loose, r), Rect(10, 10, 101, 21)) << "outside a tree: rounded outward";
}
