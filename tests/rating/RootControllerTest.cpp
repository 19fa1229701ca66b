#include "rating/RootController.h"

#include "library/AlbumInfo.h"
#include "library/RateSet.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "rating/AlbumController.h"
#include "rating/InterflowController.h"
#include "rating/StageController.h"
#include "support/FailureOf.h"
#include "support/FakeApplication.h"
#include "support/ReleaseProbe.h"
#include "support/TimeLimit.h"
#include "ui/HostView.h"

#include <gtest/gtest.h>

namespace {
PlistPtr album(const std::string& name, int photos)
{
    PlistArray items;
    for (int index = 0; index < photos; ++index)
        items.push_back(PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(std::to_string(index))}}));
    return PlistValue::dictionary({{"name", PlistValue::string(name)}, {"items", PlistValue::array(items)}});
}

class RootControllerTest : public testing::Test {
protected:
    RootControllerTest()
    {
        application.terminating = true; // no reloads unless a test asks for them
        view.pushController(root);
        application.terminating = false;
    }

    ~RootControllerTest() override { UserDefaults::setArgumentsForTesting({}); }

    void postAlbums(PlistArray albums)
    {
        NotificationCenter::defaultCenter().post(AlbumInfo::didReloadNotification, nullptr,
                                                 {{AlbumInfo::unratedAlbumsKey, PlistValue::array(albums)}});
    }

    void postError(const Error& error)
    {
        NotificationCenter::defaultCenter().post(AlbumInfo::didReloadNotification, nullptr,
                                                 {{AlbumInfo::errorKey, error}});
    }

    FakeApplication application;
    HostView view;
    std::shared_ptr<RootController> root = std::make_shared<RootController>();
};
} // namespace

TEST_F(RootControllerTest, EveryStatusHasItsText)
{
    EXPECT_EQ(root->statusLayerForTesting().string(), "Zuzire: loading.");
    const std::pair<int, const char*> texts[] = {{1, "Finishing work: please stand by."},
                                                 {-1, "No photos need rating."},
                                                 {-2, "No iPhoto library found!"},
                                                 {-3, "Remote broken \u2014 Upgrade OS X"},
                                                 {0, "Zuzire: loading."}};
    for (const auto& [status, text] : texts) {
        root->setStatus(status);
        EXPECT_EQ(root->statusLayerForTesting().string(), QString::fromUtf8(text));
    }
    EXPECT_EQ(failureOf([&] { root->setStatus(2); }), "Bad status is bad");
    EXPECT_EQ(root->statusLayerForTesting().string(), "Zuzire: loading.");
}

TEST_F(RootControllerTest, NothingToRateLeavesFullScreenOnly)
{
    postError(Error(Error::applicationDomain, 1));
    EXPECT_EQ(root->status(), -1);
    EXPECT_EQ(application.toggles, 0); // windowed: only the text changes

    view.show();
    view.enterFullScreenMode();
    root->setStatus(-1);
    EXPECT_EQ(application.toggles, 1);
}

TEST_F(RootControllerTest, AnyOtherReloadErrorMeansNoLibrary)
{
    postError(Error(Error::cocoaDomain, 260, "The file couldn't be opened."));
    EXPECT_EQ(root->status(), -2);
    EXPECT_EQ(root->statusLayerForTesting().string(), "No iPhoto library found!");
    // Beneath it, smaller, how to make a library; gone again once there is one.
    const TextLayer& hint = root->hintLayerForTesting();
    EXPECT_FALSE(hint.isHidden());
    EXPECT_TRUE(hint.string().contains("zuzire-library import FOLDER"));
    view.layer()->layoutIfNeeded();
    EXPECT_LT(hint.fontSize(), root->statusLayerForTesting().fontSize());
    EXPECT_LT(hint.frame().maxY(), root->statusLayerForTesting().frame().minY() + 1);
    root->setStatus(0);
    EXPECT_TRUE(hint.isHidden());
}

TEST_F(RootControllerTest, AlbumsOpenThePickerAndTheChosenAlbumItsStage)
{
    UserDefaults::setArgumentsForTesting({"-NumberOfStages", "2"});
    postAlbums({album("Coast", 3), album("Garden", 5)});
    auto* picker = dynamic_cast<AlbumController*>(view.currentController());
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->albums().size(), 2u);
    EXPECT_EQ(root->status(), 0);

    view.performButton(ButtonDown);
    view.performButton(ButtonSelect);
    auto* stage = dynamic_cast<StageController*>(view.currentController());
    ASSERT_NE(stage, nullptr);
    EXPECT_EQ(stage->items().size(), 5u);
    EXPECT_EQ(stage->stages(), 2);
    ASSERT_EQ(view.controllers().size(), 2u);
}

TEST_F(RootControllerTest, TheStageSharesTheChosenAlbumsListAndReleasesItOffTheMainThread)
{
    // The chosen album's list is watched: choosing the album must not copy it (tens of thousands
    // of photos on the main thread), and the stage's going releases it on the release queue.
    PlistArray photos = *album("Garden", 4)->objectForKey("items")->asArray();
    ReleaseProbe probe(PlistValue::array(std::move(photos)));
    PlistPtr list = probe.take();
    const PlistArray* garden = list->asArray();
    const PlistPtr* lastPhoto = &garden->back();
    postAlbums({album("Coast", 3), PlistValue::dictionary({{"name", PlistValue::string("Garden")},
                                                           {"items", std::move(list)}})});
    view.performButton(ButtonDown);
    view.performButton(ButtonSelect);
    auto stage = std::dynamic_pointer_cast<StageController>(view.controllers().back());
    ASSERT_NE(stage, nullptr);
    EXPECT_EQ(&stage->items(), garden);
    EXPECT_EQ(&stage->interflower()->rateSet()->itemAtIndex(3), lastPhoto);
    {
        TimeLimit limit;
        AlbumInfo::sharedAlbumInfo()->finish();
    }
    EXPECT_FALSE(probe.isReleased()) << "the picker's albums are gone, the stage's photos stay";
    EXPECT_EQ(*stage->items().back()->objectForKey("qm_ItemKey")->asString(), "3");

    application.terminating = true; // back on the first screen, no reload
    view.performButton(ButtonMenu); // the title card's Menu ends the run
    ASSERT_EQ(view.currentController(), root.get());
    stage.reset();
    {
        TimeLimit limit;
        AlbumInfo::sharedAlbumInfo()->finish();
    }
    ASSERT_TRUE(probe.isReleased());
    EXPECT_NE(*probe.releaseThread(), std::this_thread::get_id());
}

TEST_F(RootControllerTest, AnEmptyAlbumListIsAProgrammingError)
{
    EXPECT_EQ(failureOf([&] { postAlbums({}); }), "Albums expected!");
}

TEST_F(RootControllerTest, NumberOfStagesOutsideOneToFourMeansFour)
{
    const std::pair<QStringList, int> cases[] = {{{}, 4},
                                                 {{"-NumberOfStages", "0"}, 4},
                                                 {{"-NumberOfStages", "-2"}, 4},
                                                 {{"-NumberOfStages", "7"}, 4},
                                                 {{"-NumberOfStages", "1"}, 1},
                                                 {{"-NumberOfStages", "3"}, 3},
                                                 {{"-NumberOfStages", "4"}, 4}};
    for (const auto& [arguments, stages] : cases) {
        UserDefaults::setArgumentsForTesting(arguments);
        EXPECT_EQ(RootController::numberOfStages(), stages) << arguments.join(' ').toStdString();
    }
}

TEST_F(RootControllerTest, MenuQuitsAndTheOtherButtonsDoNothing)
{
    for (int button : {ButtonUp, ButtonDown, ButtonLeft, ButtonRight, ButtonSelect})
        view.performButton(button);
    EXPECT_EQ(application.terminations, 0);
    view.performButton(ButtonMenu);
    EXPECT_EQ(application.terminations, 1);
    EXPECT_EQ(view.controllers().size(), 1u);
}

TEST_F(RootControllerTest, TextBandFollowsTheVirtualCanvas)
{
    view.resize(1600, 1200);
    view.show();
    root->layer()->layoutIfNeeded();
    const TextLayer& status = root->statusLayerForTesting();
    EXPECT_DOUBLE_EQ(status.fontSize(), 100);
    EXPECT_EQ(status.frame(), Rect(0, 625, 1600, 150));
    EXPECT_EQ(status.position(), (Point{800, 700}));

    auto stranger = Layer::create();
    EXPECT_EQ(failureOf([&] { root->layoutSublayersOfLayer(*stranger); }), "Layout own layer only");
}

TEST_F(RootControllerTest, AReloadFinishingDuringShutdownChangesNothing)
{
    root->setStatus(1);
    application.terminating = true;
    postAlbums({album("Coast", 3)});
    postError(Error(Error::applicationDomain, 1));
    EXPECT_EQ(view.controllers().size(), 1u);
    EXPECT_EQ(root->statusLayerForTesting().string(), "Finishing work: please stand by.");
}
