#include "rating/StageController.h"

#include "library/AlbumInfo.h"
#include "rating/FlowController.h"
#include "rating/InterflowController.h"
#include "support/FailureOf.h"
#include "support/FakeApplication.h"
#include "support/LoggingRateItem.h"
#include "support/ReleaseProbe.h"
#include "support/TimeLimit.h"
#include "support/WaitUntil.h"
#include "ui/HostView.h"
#include "ui/MenuController.h"

#include <gtest/gtest.h>

namespace {
// Photos with the identifiers 1 to `count`.
PlistArray photos(int count)
{
    PlistArray items;
    for (int key = 1; key <= count; ++key)
        items.push_back(PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(std::to_string(key))},
                                                {"Aspect Ratio", PlistValue::real(1.5)}}));
    return items;
}

using Ratings = std::vector<std::pair<std::string, int>>;

class StageControllerTest : public testing::Test {
protected:
    StageControllerTest()
    {
        view.pushController(root);
        EXPECT_TRUE(rateItem.isReady());
    }

    ~StageControllerTest() override
    {
        // Every queued write ends before the next test.
        EXPECT_TRUE(processEventsUntil(
            [] { return AlbumInfo::sharedAlbumInfo()->workQueue().operationCount() == 0; }));
    }

    std::shared_ptr<StageController> start(int photoCount, int stages)
    {
        auto stage = std::make_shared<StageController>(photos(photoCount), stages);
        view.pushController(stage);
        return stage;
    }

    // Presses the buttons in order; "T" ends a title card as its second would.
    void play(StageController& stage, const std::string& presses)
    {
        for (const char press : presses) {
            switch (press) {
            case 'U':
                view.performButton(ButtonUp);
                break;
            case 'D':
                view.performButton(ButtonDown);
                break;
            case 'L':
                view.performButton(ButtonLeft);
                break;
            case 'R':
                view.performButton(ButtonRight);
                break;
            case 'S':
                view.performButton(ButtonSelect);
                break;
            case 'M':
                view.performButton(ButtonMenu);
                break;
            case 'T':
                ASSERT_TRUE(stage.isTitleCardShowing());
                stage.endTitleCardForTesting();
                break;
            }
            view.layer()->layoutIfNeeded();
        }
    }

    Ratings ratingsOnceWritten(std::size_t count)
    {
        EXPECT_TRUE(processEventsUntil([&] {
            return AlbumInfo::sharedAlbumInfo()->workQueue().operationCount() == 0 &&
                   rateItem.ratings().size() >= count;
        }));
        return rateItem.ratings();
    }

    std::string current() const
    {
        const Raroderavarav* controller = view.currentController();
        return controller ? qmClassName(typeid(*controller)) : "none";
    }

    QString captions(const StageController& stage) const
    {
        return stage.holdCaption().string() + " / " + stage.promoteCaption().string();
    }

    FakeApplication application;
    LoggingRateItem rateItem;
    HostView view;
    std::shared_ptr<Raroderavarav> root = std::make_shared<Raroderavarav>();
};
} // namespace

TEST_F(StageControllerTest, OneStageIsASingleThreeWayPass)
{
    auto stage = start(4, 1);
    EXPECT_TRUE(stage->isTitleCardShowing());
    EXPECT_EQ(current(), "StageController");
    EXPECT_EQ(captions(*stage), "★★ / ★★★★");
    EXPECT_EQ(stage->promoteCaption().alignmentMode(), TextLayer::AlignmentMode::Left);
    EXPECT_TRUE(stage->interflower()->isThreeWay());
    EXPECT_TRUE(stage->interflower()->isLastStage());

    play(*stage, "T");
    EXPECT_EQ(current(), "FlowController");
    EXPECT_FALSE(stage->flower()->autoHold());
    // The captions stay above the pass.
    EXPECT_EQ(view.layer()->sublayers().back(), stage->overlayLayer());
    EXPECT_EQ(view.layer()->sublayers().front(), stage->flower()->layer());

    play(*stage, "UDRU");
    EXPECT_EQ(current(), "InterflowController");
    EXPECT_EQ(stage->interflower()->ratePosition(), 3u);
    EXPECT_EQ(stage->interflower()->proceedText().string(), "Done. Please confirm.");
    play(*stage, "S");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(stage->hostView(), nullptr);
    EXPECT_EQ(ratingsOnceWritten(4), (Ratings{{"2", 2}, {"3", 3}, {"1", 4}, {"4", 4}}));
}

TEST_F(StageControllerTest, TwoStagesRateUpToFiveAndKeepWhatThePassesGave)
{
    auto stage = start(4, 2);
    EXPECT_EQ(captions(*stage), "★ / ★★★☆☆");
    play(*stage, "TUURDS");
    // The first pass promoted two photos: a second title card.
    EXPECT_EQ(current(), "StageController");
    EXPECT_EQ(captions(*stage), "★★★ / ★★★★★");
    EXPECT_EQ(stage->interflower()->stage(), 4u);
    play(*stage, "TDUS");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(ratingsOnceWritten(5), (Ratings{{"4", 1}, {"3", 2}, {"1", 3}, {"2", 3}, {"2", 5}}));
}

TEST_F(StageControllerTest, ThreeStagesAreTwoWayWithRightRatingDown)
{
    auto stage = start(4, 3);
    EXPECT_EQ(captions(*stage), "★ / ★★☆☆☆");
    EXPECT_EQ(stage->promoteCaption().alignmentMode(), TextLayer::AlignmentMode::Right);
    EXPECT_FALSE(stage->interflower()->isThreeWay());
    play(*stage, "T");
    EXPECT_TRUE(stage->flower()->autoHold());
    play(*stage, "URUUS");
    EXPECT_EQ(captions(*stage), "★★ / ★★★☆☆");
    play(*stage, "TUDUS");
    EXPECT_EQ(captions(*stage), "★★★ / ★★★★");
    play(*stage, "TDUS");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(ratingsOnceWritten(4), (Ratings{{"2", 1}, {"3", 2}, {"1", 3}, {"4", 4}}));
}

TEST_F(StageControllerTest, FourStagesClimbOneStarAPass)
{
    auto stage = start(4, 4);
    std::vector<QString> seen{captions(*stage)};
    play(*stage, "TUUUDS");
    seen.push_back(captions(*stage));
    play(*stage, "TUUDS");
    seen.push_back(captions(*stage));
    play(*stage, "TUDS");
    seen.push_back(captions(*stage));
    play(*stage, "TUS");
    EXPECT_EQ(seen, (std::vector<QString>{"★ / ★★☆☆☆", "★★ / ★★★☆☆", "★★★ / ★★★★☆", "★★★★ / ★★★★★"}));
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(ratingsOnceWritten(4), (Ratings{{"4", 1}, {"3", 2}, {"2", 3}, {"1", 5}}));
}

TEST_F(StageControllerTest, APassThatPromotesNothingEndsTheRun)
{
    auto stage = start(3, 4);
    play(*stage, "TDDDS");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(ratingsOnceWritten(3), (Ratings{{"1", 1}, {"2", 1}, {"3", 1}}));
}

TEST_F(StageControllerTest, DecliningTheConfirmationGoesBackToTheSamePass)
{
    auto stage = start(3, 4);
    play(*stage, "TUUU");
    ASSERT_EQ(current(), "InterflowController");
    play(*stage, "L");
    EXPECT_EQ(current(), "FlowController");
    EXPECT_EQ(stage->flower()->position(), 2u);
    EXPECT_EQ(stage->interflower()->state(), InterflowStateRating);
    play(*stage, "DS");
    EXPECT_EQ(current(), "StageController");
    EXPECT_EQ(ratingsOnceWritten(1), (Ratings{{"3", 1}}));
}

TEST_F(StageControllerTest, MenuDuringTheTitleCardAbandonsTheRunBeforeThePassShows)
{
    auto stage = start(3, 2);
    std::weak_ptr<FlowController> flower = stage->flower();
    play(*stage, "M");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_FALSE(stage->isTitleCardShowing());
    // Even if the request fired now, the screen that made it is gone.
    stage->endTitleCardForTesting();
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(flower.lock()->hostView(), nullptr);
}

TEST_F(StageControllerTest, AClosedStageReleasesItsPhotosOffTheMainThread)
{
    PlistArray items = photos(2);
    ReleaseProbe probe(items.front());
    items.front() = probe.take();
    auto stage = std::make_shared<StageController>(std::move(items), 4);
    view.pushController(stage);
    // Its passes share the photos, and hold them until the stage goes.
    play(*stage, "M");
    ASSERT_EQ(current(), "Raroderavarav");
    stage.reset();
    {
        TimeLimit limit;
        AlbumInfo::sharedAlbumInfo()->finish();
    }
    ASSERT_TRUE(probe.isReleased());
    EXPECT_NE(*probe.releaseThread(), std::this_thread::get_id());
}

TEST_F(StageControllerTest, ATitleCardEndingAfterItsViewWentAwayShowsNothing)
{
    auto window = std::make_unique<HostView>();
    window->pushController(std::make_shared<Raroderavarav>());
    auto stage = std::make_shared<StageController>(photos(2), 1);
    window->pushController(stage);
    ASSERT_TRUE(stage->isTitleCardShowing());
    window.reset();
    EXPECT_EQ(stage->hostView(), nullptr);
    stage->endTitleCardForTesting();
    ASSERT_NE(stage->flower(), nullptr);
    EXPECT_EQ(stage->flower()->hostView(), nullptr);
}

TEST_F(StageControllerTest, TheTitleCardLastsASecondOnTheRealClock)
{
    auto stage = start(2, 1);
    EXPECT_EQ(StageController::titleCardDuration, 1.0);
    // Wide bounds: only a card that never ends, or ends at once, misses them.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(processEventsUntil([&] { return current() == "FlowController"; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
}

TEST_F(StageControllerTest, BreakMenuToggleFullScreenLeavesThePassWhereItWas)
{
    auto stage = start(3, 4);
    play(*stage, "TUM");
    ASSERT_EQ(current(), "MenuController");
    EXPECT_EQ(stage->breakMenu()->choices(), StageController::breakChoices());
    EXPECT_EQ(StageController::breakChoices(),
              (QStringList{"Toggle fullscreen", "Finish this level", "Exit rating"}));
    // The captions stay above the menu too.
    EXPECT_EQ(view.layer()->sublayers().back(), stage->overlayLayer());
    play(*stage, "S");
    EXPECT_EQ(application.toggles, 1);
    EXPECT_EQ(current(), "FlowController");
    EXPECT_EQ(stage->flower()->position(), 1u);
    EXPECT_EQ(stage->breakMenu(), nullptr);
    // Closing the menu with Menu only returns to the pass.
    play(*stage, "MM");
    EXPECT_EQ(current(), "FlowController");
    EXPECT_EQ(application.toggles, 1);
}

TEST_F(StageControllerTest, FinishThisLevelShowsTheConfirmationAtOnce)
{
    auto stage = start(4, 4);
    play(*stage, "TUDMDS");
    EXPECT_EQ(current(), "InterflowController");
    EXPECT_EQ(stage->interflower()->ratePosition(), 2u);
    EXPECT_EQ(stage->interflower()->proceedText().string(), "Please confirm.");
    play(*stage, "S");
    EXPECT_EQ(current(), "StageController");
    EXPECT_EQ(stage->interflower()->rateSet()->count(), 1u);
    EXPECT_EQ(ratingsOnceWritten(1), (Ratings{{"2", 1}}));
}

TEST_F(StageControllerTest, FinishThisLevelWithNothingDecidedEndsTheRunByItself)
{
    auto stage = start(3, 2);
    play(*stage, "TMDS");
    ASSERT_TRUE(processEventsUntil([&] { return current() == "Raroderavarav"; }));
    EXPECT_EQ(ratingsOnceWritten(0), Ratings{});
}

TEST_F(StageControllerTest, ExitRatingMakesThisPassTheLast)
{
    auto stage = start(3, 4);
    play(*stage, "TUDMDDS");
    EXPECT_EQ(current(), "InterflowController");
    EXPECT_EQ(stage->interflower()->proceedText().string(), "Done. Please confirm.");
    play(*stage, "S");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(ratingsOnceWritten(2), (Ratings{{"2", 1}, {"1", 2}}));
}

TEST_F(StageControllerTest, ExitRatingInALaterPassEndsTheRunAfterIt)
{
    auto stage = start(4, 4);
    play(*stage, "TUUUDS");
    // Pass 2 over photos 1 to 3: photo 1 promoted, then out at photo 2. From the second two-way
    // pass on, photos left undecided are rated like Down.
    play(*stage, "TUMDDS");
    EXPECT_EQ(stage->interflower()->proceedText().string(), "Done. Please confirm.");
    play(*stage, "S");
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_EQ(ratingsOnceWritten(4), (Ratings{{"4", 1}, {"2", 2}, {"3", 2}, {"1", 3}}));
}

TEST_F(StageControllerTest, ExitRatingThenGoingBackLetsThePassGoOn)
{
    auto stage = start(3, 4);
    play(*stage, "TUMDDSL");
    EXPECT_EQ(current(), "FlowController");
    play(*stage, "UU");
    EXPECT_EQ(stage->interflower()->proceedText().string(), "Please confirm.");
}

TEST_F(StageControllerTest, StageCountsAndMenuChoicesOutsideTheirRangesAreProgrammingErrors)
{
    for (const int stages : {0, 5, -1})
        EXPECT_EQ(failureOf([&] { StageController(photos(1), stages); }),
                  "Invalid parameter not satisfying: 0 < numStages && numStages < 5");
    auto stage = start(2, 2);
    EXPECT_EQ(failureOf([&] { stage->handleBreakChoice(3); }), "Bad break menu choice 3");
    EXPECT_EQ(failureOf([&] { stage->handleBreakChoice(MenuController::noChoice); }), "");
}

TEST_F(StageControllerTest, WhileTheProgramQuitsNothingNewStarts)
{
    auto stage = start(3, 4);
    play(*stage, "TUM");
    application.terminating = true;
    view.popToController(root.get());
    EXPECT_EQ(current(), "Raroderavarav");
    EXPECT_FALSE(stage->isTitleCardShowing());
}

TEST_F(StageControllerTest, TheCaptionsHoldTheBottomAndTopBandsAndScale)
{
    auto stage = start(1, 4);
    view.layer()->layoutIfNeeded();
    // The view is 960 × 720: bands of 72, text 36 × 1.2.
    EXPECT_EQ(stage->holdCaption().frame(), Rect(0, 0, 960, 72));
    EXPECT_EQ(stage->promoteCaption().frame(), Rect(0, 648, 960, 72));
    EXPECT_DOUBLE_EQ(stage->holdCaption().fontSize(), 43.2);
    EXPECT_EQ(stage->overlayLayer()->shadowRadius(), 10.0);
    EXPECT_EQ(stage->overlayLayer()->shadowOpacity(), 1.0);
    EXPECT_EQ(stage->layer()->backgroundColor(), Color::white(1, 1));
}
