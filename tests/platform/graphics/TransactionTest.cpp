#include "platform/graphics/Transaction.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/graphics/BasicAnimation.h"
#include "platform/graphics/Layer.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/ScopedTransaction.h"
#include "support/FakeLayerTreeHost.h"

#include <gtest/gtest.h>

// Implicit animations of layer changes, and the transactions that shape them.
class TransactionTest : public testing::Test {
protected:
    void SetUp() override
    {
        root->setFrame(Rect(0, 0, 100, 100));
        root->setTreeHost(&host);
        layer->setFrame(Rect(0, 0, 10, 10));
        root->addSublayer(layer);
        showOnce();
    }
    void TearDown() override { root->setTreeHost(nullptr); }

    // Puts the tree on screen, as the host's first paint does, and lets all fades finish.
    void showOnce()
    {
        clock.advance(10);
        LayerPainter::render(*root, QSize(10, 10));
    }

    ManualAnimationClock clock;
    FakeLayerTreeHost host;
    LayerPtr root = Layer::create();
    LayerPtr layer = Layer::create();
};

TEST_F(TransactionTest, FrameChangeAnimatesFromWhatIsShownToTheModelValue)
{
    layer->setFrame(Rect(100, 0, 30, 10));
    EXPECT_EQ(layer->frame(), Rect(100, 0, 30, 10)) << "the model changes at once";
    EXPECT_EQ(layer->presentationFrame(), Rect(0, 0, 10, 10));
    EXPECT_TRUE(root->hasRunningAnimations());

    clock.advance(0.125);
    EXPECT_EQ(layer->presentationFrame(), Rect(50, 0, 20, 10));
    clock.advance(0.125);
    EXPECT_EQ(layer->presentationFrame(), Rect(100, 0, 30, 10));
    EXPECT_FALSE(root->hasRunningAnimations());
}

TEST_F(TransactionTest, ARetargetStartsFromTheValueOnScreen)
{
    layer->setOpacity(0);
    clock.advance(0.125);
    EXPECT_DOUBLE_EQ(layer->presentationOpacity(), 0.5);
    layer->setOpacity(1);
    EXPECT_DOUBLE_EQ(layer->presentationOpacity(), 0.5);
    clock.advance(0.125);
    EXPECT_DOUBLE_EQ(layer->presentationOpacity(), 0.75);
}

TEST_F(TransactionTest, LayersOffScreenChangeAtOnce)
{
    const LayerPtr detached = Layer::create();
    detached->setFrame(Rect(0, 0, 10, 10));
    detached->setFrame(Rect(50, 50, 10, 10));
    EXPECT_EQ(detached->presentationFrame(), Rect(50, 50, 10, 10));

    // In the hosted tree but never drawn: nothing on screen to animate from.
    const LayerPtr fresh = Layer::create();
    root->addSublayer(fresh);
    fresh->setFrame(Rect(20, 20, 10, 10));
    EXPECT_EQ(fresh->presentationFrame(), Rect(20, 20, 10, 10));

    root->setTreeHost(nullptr);
    layer->setFrame(Rect(50, 50, 10, 10));
    EXPECT_EQ(layer->presentationFrame(), Rect(50, 50, 10, 10)) << "a tree without a host is not on screen";
}

TEST_F(TransactionTest, ActionTableEntryOfNoneDisablesThatKey)
{
    layer->setActions({{"frame", nullptr}, {"opacity", nullptr}});
    layer->setFrame(Rect(50, 50, 10, 10));
    layer->setOpacity(0.5);
    EXPECT_EQ(layer->presentationFrame(), Rect(50, 50, 10, 10));
    EXPECT_DOUBLE_EQ(layer->presentationOpacity(), 0.5);

    layer->setPosition({0, 0});
    EXPECT_EQ(layer->presentationPosition(), (Point{55, 55})) << "position set on its own still animates";
}

TEST_F(TransactionTest, DisabledActionsAndDurationsNest)
{
    {
        ScopedTransaction outer;
        outer.setAnimationDuration(1.0);
        {
            ScopedTransaction inner;
            inner.setDisableActions(true);
            layer->setOpacity(0);
            EXPECT_DOUBLE_EQ(Transaction::animationDuration(), 1.0);
        }
        EXPECT_DOUBLE_EQ(layer->presentationOpacity(), 0);
        layer->setFrame(Rect(100, 0, 10, 10));
    }
    clock.advance(0.5);
    EXPECT_EQ(layer->presentationFrame(), Rect(50, 0, 10, 10)) << "one second, half-way";
    clock.advance(0.5);
    EXPECT_EQ(layer->presentationFrame(), Rect(100, 0, 10, 10));
    EXPECT_DOUBLE_EQ(Transaction::animationDuration(), Transaction::defaultAnimationDuration);
    EXPECT_FALSE(Transaction::disableActions());
}

TEST_F(TransactionTest, CommitWithoutBeginIsAProgrammingError)
{
    EXPECT_THROW(Transaction::commit(), InternalInconsistency);
}

TEST_F(TransactionTest, AddedSublayersFadeInUnlessTheParentSaysNo)
{
    const LayerPtr added = Layer::create();
    root->addSublayer(added);
    EXPECT_DOUBLE_EQ(added->presentationOpacity(), 0);
    EXPECT_DOUBLE_EQ(added->opacity(), 1);
    clock.advance(0.25);
    EXPECT_DOUBLE_EQ(added->presentationOpacity(), 1);

    root->setActions({{"sublayers", nullptr}});
    const LayerPtr quiet = Layer::create();
    root->addSublayer(quiet);
    EXPECT_DOUBLE_EQ(quiet->presentationOpacity(), 1);
}

TEST_F(TransactionTest, ContentsCrossFadeAndThePreviousImageIsReleased)
{
    QImage first(4, 4, QImage::Format_RGB32);
    first.fill(Qt::red);
    QImage second(4, 4, QImage::Format_RGB32);
    second.fill(Qt::blue);
    {
        ScopedTransaction transaction;
        transaction.setDisableActions(true);
        layer->setContents(first);
    }
    EXPECT_TRUE(layer->previousContents().isNull());
    layer->setContents(second);
    EXPECT_EQ(layer->previousContents(), first);
    clock.advance(0.125);
    EXPECT_DOUBLE_EQ(layer->presentation().contentsTransition, 0.5);
    clock.advance(0.125);
    layer->pruneFinishedAnimations();
    EXPECT_TRUE(layer->previousContents().isNull());
    EXPECT_EQ(layer->contents(), second);
}

TEST_F(TransactionTest, ExplicitBasicAnimationShowsOnScreenOnly)
{
    const auto fade = BasicAnimation::create("opacity");
    fade->setFromValue(0.0);
    fade->setToValue(1.0);
    fade->setDuration(2.0);
    layer->addAnimation(fade, "fade");
    clock.advance(0.5);
    EXPECT_DOUBLE_EQ(layer->presentationOpacity(), 0.25);
    EXPECT_DOUBLE_EQ(layer->opacity(), 1);
    EXPECT_EQ(layer->animationForKey("fade"), fade);
    clock.advance(1.5);
    layer->pruneFinishedAnimations();
    EXPECT_EQ(layer->animationForKey("fade"), nullptr) << "finished animations are removed";
}
