#include "platform/graphics/Layer.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/KeyValueObserver.h"
#include "platform/graphics/TextLayer.h"
#include "support/FakeLayerTreeHost.h"

#include <gtest/gtest.h>
#include <numbers>

namespace {

class CountingLayoutManager : public LayoutManager {
public:
    void layoutSublayersOfLayer(Layer& layer) override
    {
        ++calls;
        lastLayer = &layer;
        if (onLayout)
            onLayout(layer);
    }

    int calls = 0;
    Layer* lastLayer = nullptr;
    std::function<void(Layer&)> onLayout;
};

// Keeps the rectangle each call carried.
class RectRecorder : public KeyValueObserver {
public:
    void observeValueForKeyPath(const std::string& keyPath, Observable* /*object*/,
                                const KeyValueChange& change, const void* /*context*/) override
    {
        keyPaths.push_back(keyPath);
        rects.push_back(change.newValue.has_value() ? std::any_cast<Rect>(change.newValue) : Rect::null());
    }

    std::vector<std::string> keyPaths;
    std::vector<Rect> rects;
};

std::vector<Layer*> sublayersOf(const Layer& layer)
{
    std::vector<Layer*> result;
    for (const auto& sublayer : layer.sublayers())
        result.push_back(sublayer.get());
    return result;
}

} // namespace

TEST(LayerTest, FrameBoundsPositionAndAnchorAgree)
{
    const LayerPtr layer = Layer::create();
    EXPECT_EQ(layer->anchorPoint(), (Point{0.5, 0.5}));
    EXPECT_EQ(layer->frame(), Rect());

    layer->setFrame(Rect(10, 20, 100, 50));
    EXPECT_EQ(layer->bounds(), Rect(0, 0, 100, 50));
    EXPECT_EQ(layer->position(), (Point{60, 45}));

    layer->setAnchorPoint({0, 0});
    EXPECT_EQ(layer->position(), (Point{60, 45})) << "moving the anchor keeps the position";
    EXPECT_EQ(layer->frame(), Rect(60, 45, 100, 50));

    layer->setBounds(Rect(5, 5, 40, 30));
    EXPECT_EQ(layer->frame(), Rect(60, 45, 40, 30)) << "the bounds origin does not move the frame";

    layer->setFrame(Rect(0, 0, -10, 20));
    EXPECT_EQ(layer->bounds(), Rect(5, 5, 10, 20)) << "frames are standardized";
}

TEST(LayerTest, ConvertRectBetweenNestedLayers)
{
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, 800, 600));
    const LayerPtr child = Layer::create();
    child->setAnchorPoint({0, 1});
    child->setPosition({100, 500});
    child->setBounds(Rect(0, 0, 200, 300));
    root->addSublayer(child);
    const LayerPtr grandchild = Layer::create();
    grandchild->setFrame(Rect(10, 20, 50, 50));
    grandchild->setBounds(Rect(-5, -5, 50, 50));
    child->addSublayer(grandchild);

    EXPECT_EQ(child->frame(), Rect(100, 200, 200, 300));
    EXPECT_EQ(grandchild->convertRectToLayer(Rect(0, 0, 1, 1), root.get()), Rect(115, 225, 1, 1));
    EXPECT_EQ(grandchild->convertRectToLayer(Rect(0, 0, 1, 1), nullptr), Rect(115, 225, 1, 1));
    EXPECT_EQ(grandchild->convertRectFromLayer(Rect(115, 225, 1, 1), root.get()), Rect(0, 0, 1, 1));
    EXPECT_EQ(root->convertRectToLayer(Rect(100, 200, 10, 10), child.get()), Rect(0, 0, 10, 10));
    const Point p = child->convertPointToLayer({1, 2}, grandchild.get());
    EXPECT_DOUBLE_EQ(p.x, -14);
    EXPECT_DOUBLE_EQ(p.y, -23);
    EXPECT_EQ(grandchild->convertPointFromLayer({1, 2}, child.get()), p);
}

TEST(LayerTest, PixelAlignmentThroughTheRootAtAnIntegralOffset)
{
    const LayerPtr root = Layer::create();
    root->setFrame(Rect(0, 0, 800, 600));
    const LayerPtr child = Layer::create();
    child->setFrame(Rect(30, 40, 300, 200));
    root->addSublayer(child);
    const Rect r(10.2, 10.7, 100.1, 20.0);
    const Rect aligned =
        child->convertRectFromLayer(child->convertRectToLayer(r, root.get()).integral(), root.get());
    EXPECT_EQ(aligned, Rect(10, 10, 101, 21));
    EXPECT_EQ(root->rootLayer(), root.get());
    EXPECT_EQ(child->rootLayer(), root.get());
}

TEST(LayerTest, TransformTurnsAboutTheAnchor)
{
    const LayerPtr root = Layer::create();
    const LayerPtr layer = Layer::create();
    layer->setBounds(Rect(0, 0, 20, 10));
    layer->setPosition({100, 100});
    root->addSublayer(layer);
    QTransform quarterTurn;
    quarterTurn.rotateRadians(std::numbers::pi / 2);
    layer->setTransform(quarterTurn);
    const Rect frame = layer->frame();
    EXPECT_NEAR(frame.minX(), 95, 1e-9);
    EXPECT_NEAR(frame.minY(), 90, 1e-9);
    EXPECT_NEAR(frame.width(), 10, 1e-9);
    EXPECT_NEAR(frame.height(), 20, 1e-9);
    // The right edge's midpoint turns counter-clockwise (y up) to the top.
    const Point top = layer->convertPointToLayer({20, 5}, root.get());
    EXPECT_NEAR(top.x, 100, 1e-9);
    EXPECT_NEAR(top.y, 110, 1e-9);
}

TEST(LayerTest, SublayerOperationsKeepOrderAndReparent)
{
    const LayerPtr parent = Layer::create();
    const LayerPtr a = Layer::create(), b = Layer::create(), c = Layer::create(), d = Layer::create();
    parent->addSublayer(a);
    parent->addSublayer(c);
    parent->insertSublayerBelow(b, c.get());
    EXPECT_EQ(sublayersOf(*parent), (std::vector<Layer*>{a.get(), b.get(), c.get()}));

    parent->replaceSublayer(b.get(), d);
    EXPECT_EQ(sublayersOf(*parent), (std::vector<Layer*>{a.get(), d.get(), c.get()}));
    EXPECT_EQ(b->superlayer(), nullptr);
    EXPECT_EQ(d->superlayer(), parent.get());

    parent->insertSublayerAbove(b, a.get());
    parent->insertSublayerAt(c, 0);
    EXPECT_EQ(sublayersOf(*parent), (std::vector<Layer*>{c.get(), a.get(), b.get(), d.get()}));

    const LayerPtr other = Layer::create();
    other->addSublayer(a);
    EXPECT_EQ(a->superlayer(), other.get());
    EXPECT_EQ(sublayersOf(*parent), (std::vector<Layer*>{c.get(), b.get(), d.get()}));

    d->removeFromSuperlayer();
    EXPECT_EQ(sublayersOf(*parent), (std::vector<Layer*>{c.get(), b.get()}));
    parent->addSublayer(b);
    EXPECT_EQ(sublayersOf(*parent), (std::vector<Layer*>{c.get(), b.get()})) << "re-adding moves to the top";
}

TEST(LayerTest, CyclesAndForeignReplacementsAreRefused)
{
    const LayerPtr parent = Layer::create();
    const LayerPtr child = Layer::create();
    parent->addSublayer(child);
    EXPECT_THROW(child->addSublayer(parent), InternalInconsistency);
    EXPECT_THROW(parent->addSublayer(parent), InternalInconsistency);
    const LayerPtr stranger = Layer::create();
    EXPECT_THROW(parent->replaceSublayer(stranger.get(), Layer::create()), InternalInconsistency);
    EXPECT_EQ(child->superlayer(), parent.get());
}

TEST(LayerTest, SublayersOutlivingTheirParentForgetIt)
{
    const LayerPtr child = Layer::create();
    {
        const LayerPtr parent = Layer::create();
        parent->addSublayer(child);
        const LayerPtr mask = Layer::create();
        parent->setMask(mask);
    }
    EXPECT_EQ(child->superlayer(), nullptr);
    child->removeFromSuperlayer();
}

TEST(LayerTest, LayoutManagerRunsOncePerPassOnlyWhenMarked)
{
    CountingLayoutManager manager;
    const LayerPtr layer = Layer::create();
    layer->setLayoutManager(&manager);
    layer->layoutIfNeeded();
    EXPECT_EQ(manager.calls, 0);

    layer->setNeedsLayout();
    layer->setNeedsLayout();
    layer->layoutIfNeeded();
    EXPECT_EQ(manager.calls, 1);
    EXPECT_EQ(manager.lastLayer, layer.get());
    EXPECT_FALSE(layer->needsLayout());
    layer->layoutIfNeeded();
    EXPECT_EQ(manager.calls, 1);

    layer->layoutSublayers();
    EXPECT_EQ(manager.calls, 2) << "an immediate layout does not wait for a mark";
}

TEST(LayerTest, LayoutThatMarksLayersBelowIsFinishedInTheSamePass)
{
    CountingLayoutManager top, below;
    const LayerPtr root = Layer::create();
    const LayerPtr middle = Layer::create();
    const LayerPtr leaf = Layer::create();
    root->addSublayer(middle);
    middle->addSublayer(leaf);
    root->setLayoutManager(&top);
    leaf->setLayoutManager(&below);
    top.onLayout = [&](Layer&) { leaf->setNeedsLayout(); };
    root->setNeedsLayout();
    root->layoutIfNeeded();
    EXPECT_EQ(top.calls, 1);
    EXPECT_EQ(below.calls, 1);

    // A mark deep in the tree is found from the root.
    leaf->setNeedsLayout();
    root->layoutIfNeeded();
    EXPECT_EQ(top.calls, 1);
    EXPECT_EQ(below.calls, 2);
}

TEST(LayerTest, BoundsSizeChangeMarksForLayout)
{
    const LayerPtr layer = Layer::create();
    layer->setFrame(Rect(0, 0, 10, 10));
    layer->layoutIfNeeded();
    layer->setPosition({50, 50});
    EXPECT_FALSE(layer->needsLayout());
    layer->setBounds(Rect(0, 0, 20, 10));
    EXPECT_TRUE(layer->needsLayout());
}

TEST(LayerTest, AutoresizingFollowsTheSuperlayer)
{
    CountingLayoutManager manager;
    const LayerPtr parent = Layer::create();
    parent->setFrame(Rect(0, 0, 100, 100));
    parent->setLayoutManager(&manager);
    const LayerPtr stretchy = Layer::create();
    stretchy->setFrame(Rect(0, 0, 100, 100));
    stretchy->setAutoresizingMask(AutoresizingMask::FlexibleWidth | AutoresizingMask::FlexibleHeight);
    const LayerPtr pinned = Layer::create();
    pinned->setFrame(Rect(10, 10, 20, 20));
    const LayerPtr floating = Layer::create();
    floating->setFrame(Rect(10, 10, 20, 20));
    floating->setAutoresizingMask(AutoresizingMask::FlexibleMinXMargin |
                                  AutoresizingMask::FlexibleMaxXMargin);
    parent->addSublayer(stretchy);
    parent->addSublayer(pinned);
    parent->addSublayer(floating);

    parent->setFrame(Rect(0, 0, 300, 200));
    EXPECT_EQ(stretchy->frame(), Rect(0, 0, 300, 200));
    EXPECT_EQ(pinned->frame(), Rect(10, 10, 20, 20));
    EXPECT_EQ(floating->frame(), Rect(35, 10, 20, 20)) << "margins 10 and 70 share 200 as 1:7";
    EXPECT_EQ(manager.calls, 0) << "autoresizing does not wait for the layout pass";
}

TEST(LayerTest, AttributesAndAnimationsByKey)
{
    const LayerPtr layer = Layer::create();
    layer->setAttribute("com_quillmoss_ItemIndex", QVariant::fromValue(7u));
    EXPECT_EQ(layer->attribute("com_quillmoss_ItemIndex").toUInt(), 7u);
    EXPECT_FALSE(layer->attribute("missing").isValid());
    layer->setAttribute("com_quillmoss_ItemIndex", QVariant());
    EXPECT_FALSE(layer->attribute("com_quillmoss_ItemIndex").isValid());

    const auto unnamed = Animation::create();
    layer->addAnimation(unnamed, std::nullopt);
    EXPECT_EQ(layer->animationForKey(std::nullopt), nullptr);
    const auto named = Animation::create();
    layer->addAnimation(named, "fade");
    EXPECT_EQ(layer->animationForKey("fade"), named);
    layer->removeAllAnimations();
    EXPECT_EQ(layer->animationForKey("fade"), nullptr);

    named->setValue("com_quillmoss_animation_layer", 3);
    EXPECT_EQ(std::any_cast<int>(named->value("com_quillmoss_animation_layer")), 3);
    EXPECT_FALSE(named->value("other").has_value());
}

TEST(LayerTest, EveryChangeInAHostedTreeAsksForARepaint)
{
    FakeLayerTreeHost host;
    const LayerPtr root = Layer::create();
    root->setTreeHost(&host);
    const LayerPtr child = Layer::create();
    const LayerPtr mask = Layer::create();
    root->addSublayer(child);
    child->setMask(mask);
    host.reset();

    child->setOpacity(1.0);
    EXPECT_EQ(host.requests(), 1) << "unchanged values are announced too";
    child->setNeedsLayout();
    mask->setNeedsDisplay();
    child->removeFromSuperlayer();
    EXPECT_EQ(host.requests(), 4);
    child->setHidden(true);
    EXPECT_EQ(host.requests(), 4) << "a detached layer has no host";
    root->setTreeHost(nullptr);
}

TEST(LayerTest, AFrameChangeIsHeardAsABoundsChangeWithTheWholeFrameStored)
{
    const LayerPtr layer = Layer::create();
    RectRecorder bounds, frame;
    layer->addObserver(&bounds, "bounds", KeyValueObservingOptions::New, nullptr);
    layer->addObserver(&frame, "frame", KeyValueObservingOptions::New, nullptr);

    layer->setFrame(Rect(10, 20, 100, 50));
    layer->setBounds(Rect(0, 0, 100, 50));

    EXPECT_EQ(bounds.rects, (std::vector<Rect>{Rect(0, 0, 100, 50), Rect(0, 0, 100, 50)}));
    EXPECT_EQ(frame.rects, (std::vector<Rect>{Rect(10, 20, 100, 50)}))
        << "the frame's observers hear the new position as well as the new size";
    layer->removeObserver(&bounds, "bounds");
    layer->removeObserver(&frame, "frame");
}

TEST(LayerTest, PropertiesReadBackWithTheirGettersTypes)
{
    const auto text = TextLayer::create();
    text->setName("status");
    text->setString("Zuzire: loading.");
    text->setAttribute("com_quillmoss_ItemIndex", 4);
    const LayerPtr mask = Layer::create();
    text->setMask(mask);

    EXPECT_EQ(std::any_cast<std::string>(text->valueForKey("name")), "status");
    EXPECT_EQ(std::any_cast<QString>(text->valueForKey("string")), "Zuzire: loading.");
    EXPECT_EQ(std::any_cast<bool>(text->valueForKey("hidden")), false);
    EXPECT_EQ(std::any_cast<QVariant>(text->valueForKey("com_quillmoss_ItemIndex")).toInt(), 4);
    EXPECT_EQ(std::any_cast<LayerPtr>(text->valueForKey("mask")), mask);
    EXPECT_FALSE(text->valueForKey("noSuchKey").has_value());
}

TEST(LayerTest, AMaskCanLeadAKeyPath)
{
    const LayerPtr layer = Layer::create();
    RectRecorder recorder;
    layer->addObserver(&recorder, "mask.bounds", KeyValueObservingOptions::New, nullptr);

    const LayerPtr first = Layer::create();
    layer->setMask(first);
    first->setBounds(Rect(0, 0, 5, 5));
    const LayerPtr second = Layer::create();
    second->setBounds(Rect(0, 0, 7, 7));
    layer->setMask(second);
    first->setBounds(Rect(0, 0, 6, 6));

    EXPECT_EQ(recorder.rects, (std::vector<Rect>{Rect(), Rect(0, 0, 5, 5), Rect(0, 0, 7, 7)}));
    EXPECT_EQ(recorder.keyPaths, (std::vector<std::string>(3, "mask.bounds")));
    layer->removeObserver(&recorder, "mask.bounds");
}
