#include "rating/FlowController.h"

#include "rating/BreakMenuHost.h"
#include "support/FailureOf.h"
#include "support/QMSFX.h"
#include "ui/HostView.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <gtest/gtest.h>

namespace {
PlistPtr photo(int key, double ratio = 1.0)
{
    return PlistValue::dictionary(
        {{"qm_ItemKey", PlistValue::string(std::to_string(key))}, {"Aspect Ratio", PlistValue::real(ratio)}});
}

PlistArray photos(int count)
{
    PlistArray items;
    for (int key = 1; key <= count; ++key)
        items.push_back(photo(key));
    return items;
}

// Stands in for the stage: records the break-menu requests, and the centre photo's status at the
// moment the pass asks it to act on a closed menu.
class BreakMenuParent : public Raroderavarav, public BreakMenuHost {
public:
    void showBreakMenu() override { log.push_back("showBreakMenu"); }
    void checkBreakMenu() override
    {
        const FlowController* flow = flower.lock().get();
        log.push_back("checkBreakMenu " +
                      (flow ? std::to_string(flow->rateSet()->itemStatusAtIndex(flow->position())) : "-"));
    }

    std::vector<std::string> log;
    std::weak_ptr<FlowController> flower;
};

class FlowControllerTest : public testing::Test {
protected:
    FlowControllerTest()
    {
        view.pushController(parent);
        QMSFX::sharedSFX().resetForTesting();
    }

    std::shared_ptr<FlowController> show(PlistArray items, bool autoHold = false)
    {
        rateSet = RateSet::rateSetWithItems(std::move(items));
        auto flow = std::make_shared<FlowController>(rateSet);
        flow->setAutoHold(autoHold);
        parent->flower = flow;
        view.pushController(flow);
        view.layer()->layoutIfNeeded();
        return flow;
    }

    // One press as the user makes it; the sound it made.
    std::string press(int button)
    {
        QMSFX::sharedSFX().resetForTesting();
        view.performButton(button);
        view.layer()->layoutIfNeeded();
        return QMSFX::sharedSFX().lastSoundForTesting();
    }

    std::vector<int> statuses() const
    {
        std::vector<int> all;
        for (std::size_t index = 0; index < rateSet->count(); ++index)
            all.push_back(rateSet->itemStatusAtIndex(index));
        return all;
    }

    // The strip as text: its position, then every photo layer with its item's status and frame.
    static std::string strip(FlowController& flow)
    {
        std::string text = "position " + std::to_string(flow.position()) + "\n";
        for (const auto& [index, photoLayer] : flow.itemDisplay().itemLayers()) {
            const Rect frame = photoLayer->frame();
            char line[128];
            std::snprintf(line, sizeof line, "  %zu status %d (%g, %g, %g, %g)\n", index,
                          int(flow.rateSet()->itemStatusAtIndex(index)), frame.origin.x, frame.origin.y,
                          frame.width(), frame.height());
            text += line;
        }
        return text;
    }

    bool isShown(const FlowController& flow) const { return view.currentController() == &flow; }

    HostView view;
    std::shared_ptr<BreakMenuParent> parent = std::make_shared<BreakMenuParent>();
    std::shared_ptr<RateSet> rateSet;
};
} // namespace

TEST_F(FlowControllerTest, AGreyStripFillsTheScreenAndFollowsItsSize)
{
    auto flow = show(photos(3));
    ASSERT_EQ(flow->layer()->sublayers().size(), 1u);
    const Layer& stripLayer = *flow->layer()->sublayers().front();
    EXPECT_EQ(&stripLayer, flow->itemDisplay().layer().get());
    EXPECT_EQ(stripLayer.backgroundColor(), Color::white(0.5, 1.0));
    EXPECT_EQ(stripLayer.frame(), Rect(0, 0, 960, 720));
    EXPECT_EQ(flow->itemDisplay().autoAdvanceInterval(), 0.0);
    EXPECT_FALSE(flow->itemDisplay().featherLeftEdge() || flow->itemDisplay().featherRightEdge());

    view.show();
    view.resize(800, 400);
    QCoreApplication::processEvents();
    view.layer()->layoutIfNeeded();
    EXPECT_EQ(stripLayer.frame(), Rect(0, 0, 800, 400));
}

TEST_F(FlowControllerTest, APassBeginsAtTheFirstPhotoWithItsDecisionCleared)
{
    rateSet = RateSet::rateSetWithItems(photos(3));
    rateSet->setItemStatus(ItemStatusUp, 0);
    auto flow = std::make_shared<FlowController>(rateSet);
    parent->flower = flow;
    view.pushController(flow);
    EXPECT_EQ(QMSFX::sharedSFX().lastSoundForTesting(), "mehSound");
    view.layer()->layoutIfNeeded();
    // Square photos in a 960 × 720 strip: the centre one and two neighbours on either side.
    EXPECT_EQ(strip(*flow), "position 0\n"
                            "  0 status 0 (130, 10, 700, 700)\n"
                            "  1 status 0 (850, 10, 700, 700)\n"
                            "  2 status 0 (1570, 10, 700, 700)\n");
    EXPECT_EQ(parent->log, (std::vector<std::string>{"checkBreakMenu 0"}));
}

TEST_F(FlowControllerTest, EachAnswerIsStoredWithItsSoundAndMovesThePhoto)
{
    auto flow = show(photos(4));
    EXPECT_EQ(press(ButtonUp), "upSound");
    // Promoted: raised a quarter of the strip's height; the strip moved on at once.
    EXPECT_EQ(strip(*flow), "position 1\n"
                            "  0 status 1 (-590, 190, 700, 700)\n"
                            "  1 status 0 (130, 10, 700, 700)\n"
                            "  2 status 0 (850, 10, 700, 700)\n"
                            "  3 status 0 (1570, 10, 700, 700)\n");
    EXPECT_EQ(press(ButtonDown), "downSound");
    EXPECT_EQ(strip(*flow), "position 2\n"
                            "  0 status 1 (-1310, 190, 700, 700)\n"
                            "  1 status -1 (-590, -170, 700, 700)\n"
                            "  2 status 0 (130, 10, 700, 700)\n"
                            "  3 status 0 (850, 10, 700, 700)\n");
    // Right without auto-hold writes nothing: only the arrow's own click.
    EXPECT_EQ(press(ButtonRight), "clickSound");
    EXPECT_EQ(statuses(), (std::vector<int>{1, -1, 0, 0}));
    EXPECT_EQ(flow->position(), 3u);
    EXPECT_TRUE(isShown(*flow));
}

TEST_F(FlowControllerTest, LeftTakesBackTheDecisionOfThePhotoItReturnsTo)
{
    auto flow = show(photos(3));
    press(ButtonDown);
    EXPECT_EQ(press(ButtonLeft), "mehSound");
    EXPECT_EQ(flow->position(), 0u);
    EXPECT_EQ(statuses(), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(strip(*flow), "position 0\n"
                            "  0 status 0 (130, 10, 700, 700)\n"
                            "  1 status 0 (850, 10, 700, 700)\n"
                            "  2 status 0 (1570, 10, 700, 700)\n");
    // At the first photo Left stays there, and still clears it.
    rateSet->setItemStatus(ItemStatusUp, 0);
    EXPECT_EQ(press(ButtonLeft), "mehSound");
    EXPECT_EQ(flow->position(), 0u);
    EXPECT_EQ(statuses(), (std::vector<int>{0, 0, 0}));
}

TEST_F(FlowControllerTest, AnsweringTheLastPhotoEndsThePassWhereItStands)
{
    for (const int button : {ButtonUp, ButtonDown, ButtonRight}) {
        auto flow = show(photos(2));
        press(ButtonRight);
        const std::string sound = press(button);
        EXPECT_EQ(view.currentController(), parent.get()) << button;
        EXPECT_EQ(flow->hostView(), nullptr);
        // The strip stays on the last photo: that is where the pass ended.
        EXPECT_EQ(flow->position(), 1u);
        EXPECT_EQ(rateSet->itemStatusAtIndex(1), button == ButtonUp ? 1 : button == ButtonDown ? -1 : 0);
        EXPECT_EQ(sound, button == ButtonUp ? "upSound" : button == ButtonDown ? "downSound" : "clickSound");
    }
}

TEST_F(FlowControllerTest, AOnePhotoPassEndsAtTheFirstAnswer)
{
    for (const int button : {ButtonUp, ButtonDown, ButtonRight}) {
        auto flow = show(photos(1));
        press(button);
        EXPECT_EQ(view.currentController(), parent.get()) << button;
        EXPECT_EQ(flow->position(), 0u);
    }
    // Left and Select do not end it.
    auto flow = show(photos(1));
    press(ButtonLeft);
    EXPECT_EQ(press(ButtonSelect), "clunkSound");
    EXPECT_TRUE(isShown(*flow));
}

TEST_F(FlowControllerTest, AutoHoldRatesDownOnlyWhatWasNotDecided)
{
    auto flow = show(photos(3), true);
    EXPECT_EQ(press(ButtonRight), "downSound");
    press(ButtonUp);
    press(ButtonLeft);
    rateSet->setItemStatus(ItemStatusUp, 1);
    // A decided photo keeps its decision and makes no rating sound.
    EXPECT_EQ(press(ButtonRight), "clickSound");
    EXPECT_EQ(statuses(), (std::vector<int>{-1, 1, 0}));
    // On the last photo it records the decision first, then ends the pass.
    EXPECT_EQ(press(ButtonRight), "downSound");
    EXPECT_EQ(statuses(), (std::vector<int>{-1, 1, -1}));
    EXPECT_EQ(view.currentController(), parent.get());
}

TEST_F(FlowControllerTest, MenuAsksForTheBreakMenuAndShowingAgainClearsTheCentreFirst)
{
    auto flow = show(photos(3));
    press(ButtonUp);
    EXPECT_EQ(press(ButtonMenu), "clankSound");
    EXPECT_EQ(parent->log, (std::vector<std::string>{"checkBreakMenu 0", "showBreakMenu"}));

    // The menu opens above the pass; when it closes the pass is shown again.
    rateSet->setItemStatus(ItemStatusDown, 1);
    flow->itemDisplay().layer()->setNeedsLayout();
    view.layer()->layoutIfNeeded();
    EXPECT_EQ(flow->itemDisplay().itemLayers().at(1)->frame().origin.y, -170);
    auto menu = std::make_shared<Raroderavarav>();
    view.pushController(menu);
    QMSFX::sharedSFX().resetForTesting();
    view.popController();
    EXPECT_EQ(QMSFX::sharedSFX().lastSoundForTesting(), "mehSound");
    EXPECT_EQ(parent->log.back(), "checkBreakMenu 0");
    EXPECT_EQ(statuses(), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(flow->position(), 1u);
    // The photo is back on the line at once, though the strip did not move.
    view.layer()->layoutIfNeeded();
    EXPECT_EQ(flow->itemDisplay().itemLayers().at(1)->frame().origin.y, 10);
}

TEST_F(FlowControllerTest, ShownAgainAfterItEndedItKeepsItsPlace)
{
    auto flow = show(photos(2));
    press(ButtonRight);
    press(ButtonDown);
    ASSERT_EQ(view.currentController(), parent.get());
    view.pushController(flow);
    EXPECT_EQ(flow->position(), 1u);
    EXPECT_EQ(statuses(), (std::vector<int>{0, 0}));
    EXPECT_EQ(QMSFX::sharedSFX().lastSoundForTesting(), "mehSound");
}

TEST_F(FlowControllerTest, WithoutABreakMenuParentMenuDoesNothing)
{
    HostView alone;
    auto flow = std::make_shared<FlowController>(RateSet::rateSetWithItems(photos(2)));
    alone.pushController(flow);
    alone.performButton(ButtonMenu);
    alone.performButton(ButtonRight);
    alone.performButton(ButtonRight);
    // The last photo answered on a stack of one: the pass pops itself and leaves it empty.
    EXPECT_EQ(alone.currentController(), nullptr);
}

TEST_F(FlowControllerTest, TheStripAsksForTheRateSetsPhotos)
{
    auto flow = show({photo(1, 1.5), photo(2, 0.5)});
    EXPECT_EQ(flow->numberOfItemsInDisplay(flow->itemDisplay()), 2u);
    EXPECT_EQ(flow->itemDisplayNeedsAspectRatio(flow->itemDisplay(), 1), 0.5);
    rateSet->setItemStatus(ItemStatusPassed, 1);
    EXPECT_EQ(flow->itemDisplayNeedsAlignment(flow->itemDisplay(), 1), -2);
    // A request for an index the set does not hold (a late load) finds nothing.
    EXPECT_TRUE(flow->itemDisplayNeedsImage(flow->itemDisplay(), 7, 100).isNull());
    // A photo is made by work handed to the strip, so leaving the pass never waits for a decode.
    EXPECT_TRUE(flow->itemDisplayImageWork(flow->itemDisplay(), 1, 100));
    EXPECT_FALSE(flow->itemDisplayImageWork(flow->itemDisplay(), 7, 100));
}

TEST_F(FlowControllerTest, AutomationReadsThePositionAndTheShownPhotos)
{
    auto flow = show(photos(5));
    press(ButtonUp);
    press(ButtonDown);
    const QJsonObject description = flow->describeForAutomation();
    EXPECT_EQ(description["position"].toInt(), 2);
    EXPECT_EQ(description["count"].toInt(), 5);
    const QJsonArray shown = description["photos"].toArray();
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown[0].toObject(), (QJsonObject{{"index", 0}, {"id", "1"}, {"status", 1}}));
    EXPECT_EQ(shown[1].toObject(), (QJsonObject{{"index", 1}, {"id", "2"}, {"status", -1}}));
    EXPECT_EQ(shown[4].toObject(), (QJsonObject{{"index", 4}, {"id", "5"}, {"status", 0}}));
}
