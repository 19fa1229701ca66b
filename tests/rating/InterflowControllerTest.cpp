#include "rating/InterflowController.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/FailureOf.h"
#include "support/FakeStageController.h"
#include "support/LoggingRateItem.h"
#include "ui/HostView.h"

#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

namespace {
using Ratings = std::vector<std::pair<std::string, int>>;

PlistPtr photo(int key)
{
    return PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(std::to_string(key))},
                                   {"GUID", PlistValue::string("G" + std::to_string(key))},
                                   {"Aspect Ratio", PlistValue::real(1.5)}});
}

PlistArray photos(int count)
{
    PlistArray items;
    for (int key = 1; key <= count; ++key)
        items.push_back(photo(key));
    return items;
}

std::string keys(const PlistArray& items)
{
    std::string text;
    for (const PlistPtr& item : items)
        text += (text.empty() ? "" : " ") + *item->objectForKey("qm_ItemKey")->asString();
    return text;
}

// Lets the queued calls of the event loop run once.
void nextTurn()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class InterflowControllerTest : public testing::Test {
protected:
    InterflowControllerTest() { view.pushController(root); }

    // The confirmation of a pass at level `stage` over photos 1..n with these statuses, ended at
    // `ratePosition`, shown.
    std::shared_ptr<InterflowController> show(const std::vector<ItemStatus>& statuses, bool threeWay,
                                              unsigned stage, std::size_t ratePosition,
                                              bool lastStage = false)
    {
        auto interflow = std::make_shared<InterflowController>(photos(int(statuses.size())), threeWay);
        for (std::size_t index = 0; index < statuses.size(); ++index)
            interflow->rateSet()->setItemStatus(statuses[index], index);
        interflow->setStage(stage);
        interflow->setLastStage(lastStage);
        interflow->setRatePosition(ratePosition);
        view.pushController(interflow);
        view.layer()->layoutIfNeeded();
        return interflow;
    }

    // Every rating written so far, once the queue has run dry.
    Ratings ratings()
    {
        AlbumInfo::sharedAlbumInfo()->finish();
        return rateItem.ratings();
    }

    std::vector<int> statuses(const InterflowController& interflow) const
    {
        std::vector<int> all;
        for (std::size_t index = 0; index < interflow.rateSet()->count(); ++index)
            all.push_back(interflow.rateSet()->itemStatusAtIndex(index));
        return all;
    }

    // The strips as text: each one's position and the photos of its list.
    static std::string strips(InterflowController& interflow)
    {
        const auto line = [](const char* name, ItemDisplay& display,
                             const std::shared_ptr<const PlistArray>& items) {
            return std::string(name) + " " + std::to_string(display.position()) + " [" +
                   (items ? keys(*items) : "none") + "]\n";
        };
        std::string text = line("promoted", interflow.promoteDisplay(), interflow.promotedItems());
        if (interflow.rateDisplay2())
            text += line("passed", *interflow.rateDisplay2(), interflow.ratedItems2());
        return text + line("ratedDown", interflow.rateDisplay1(), interflow.ratedItems1());
    }

    LoggingRateItem rateItem;
    HostView view;
    ControllerPtr root = std::make_shared<Raroderavarav>();
};
} // namespace

TEST_F(InterflowControllerTest, AThreeWayPassShowsItsOutcomeAndConfirmingWritesItInPassOrder)
{
    ASSERT_TRUE(rateItem.isReady());
    // Down, Right, Up, and the pass ended on the fourth photo.
    auto interflow = show({-1, 0, 1, 0}, true, 2, 3);
    EXPECT_EQ(statuses(*interflow), (std::vector<int>{-1, -2, 1, 0}));
    EXPECT_EQ(strips(*interflow), "promoted 0 [3]\n"
                                  "passed 0 [2]\n"
                                  "ratedDown 0 [1]\n");
    EXPECT_EQ(interflow->proceedText().string(), "Please confirm.");

    view.performButton(ButtonRight);
    EXPECT_EQ(ratings(), (Ratings{{"1", 1}, {"2", 2}, {"3", 3}}));
    EXPECT_EQ(interflow->state(), InterflowStateNextStage);
    ASSERT_TRUE(interflow->rateSet());
    EXPECT_EQ(keys(interflow->rateSet()->itemsWithStatus(ItemStatusNeutral)), "3");
    EXPECT_EQ(view.currentController(), root.get());
    EXPECT_EQ(strips(*interflow), "promoted 0 [none]\n"
                                  "passed 0 [none]\n"
                                  "ratedDown 0 [none]\n");
    EXPECT_TRUE(interflow->promoteDisplay().itemLayers().empty());
}

TEST_F(InterflowControllerTest, OnTheLastPassPromotedPhotosAreRatedOnceAndTheRunEnds)
{
    auto interflow = show({-1, 0, 1, 0}, true, 2, 3, true);
    EXPECT_EQ(interflow->proceedText().string(), "Done. Please confirm.");
    view.performButton(ButtonSelect);
    EXPECT_EQ(ratings(), (Ratings{{"1", 1}, {"2", 2}, {"3", 3}}));
    EXPECT_EQ(interflow->state(), InterflowStateFinished);
    EXPECT_EQ(interflow->rateSet(), nullptr);
}

TEST_F(InterflowControllerTest, AtLevelFourPhotosRatedDownKeepTheirRating)
{
    auto interflow = show({1, -1, 0, 1, 0}, true, 4, 5, true);
    view.performButton(ButtonRight);
    EXPECT_EQ(ratings(), (Ratings{{"3", 4}, {"5", 4}, {"1", 5}, {"4", 5}}));
}

TEST_F(InterflowControllerTest, ATwoWayPassRatesUndecidedPhotosOnlyAfterTheFirst)
{
    auto first = show({-1, 0, 1}, false, 1, 2);
    EXPECT_EQ(first->rateDisplay2(), nullptr);
    EXPECT_EQ(strips(*first), "promoted 0 [3]\n"
                              "ratedDown 0 [1]\n");
    view.performButton(ButtonRight);
    EXPECT_EQ(ratings(), (Ratings{{"1", 1}}));
    EXPECT_EQ(first->state(), InterflowStateNextStage);

    auto second = show({0, -1, 1, 0}, false, 2, 0);
    // Undecided photos follow those rated down, wherever they stand; promoted ones wait.
    EXPECT_EQ(strips(*second), "promoted 0 [3]\n"
                               "ratedDown 0 [2 1 4]\n");
    view.performButton(ButtonRight);
    EXPECT_EQ(ratings(), (Ratings{{"1", 1}, {"2", 2}, {"1", 2}, {"4", 2}}));
    EXPECT_EQ(keys(second->rateSet()->itemsWithStatus(ItemStatusNeutral)), "3");
}

TEST_F(InterflowControllerTest, ANothingToShowScreenConfirmsItselfOnTheNextTurn)
{
    // A three-way pass where nothing was decided, ended on its first photo.
    auto interflow = show({0, 0, 0}, true, 3, 0, true);
    EXPECT_TRUE(interflow->isConfirmingItselfForTesting());
    EXPECT_EQ(interflow->timerForTesting(), nullptr);
    EXPECT_EQ(view.currentController(), interflow.get());
    nextTurn();
    EXPECT_EQ(view.currentController(), root.get());
    EXPECT_EQ(interflow->state(), InterflowStateFinished);
    EXPECT_TRUE(ratings().empty());
}

TEST_F(InterflowControllerTest, AThreeWayPassWithNothingDecidedPassesEverythingItWentThrough)
{
    auto interflow = show({0, 0, 0}, true, 3, 2, true);
    EXPECT_EQ(strips(*interflow), "promoted 0 []\n"
                                  "passed 0 [1 2]\n"
                                  "ratedDown 0 []\n");
    view.performButton(ButtonRight);
    EXPECT_EQ(ratings(), (Ratings{{"1", 3}, {"2", 3}}));
    EXPECT_EQ(interflow->state(), InterflowStateFinished);
}

TEST_F(InterflowControllerTest, DecliningWritesNothingAndConfirmingLaterWritesOnce)
{
    auto interflow = show({-1, 0, 1, 0}, true, 2, 3);
    view.performButton(ButtonLeft);
    EXPECT_EQ(interflow->state(), InterflowStateReturn);
    EXPECT_EQ(view.currentController(), root.get());
    EXPECT_EQ(interflow->ratedItems1(), nullptr);
    EXPECT_EQ(interflow->timerForTesting(), nullptr);
    EXPECT_TRUE(ratings().empty());
    // Passed-over photos stay passed over; the next showing rebuilds the lists from the statuses.
    EXPECT_EQ(statuses(*interflow), (std::vector<int>{-1, -2, 1, 0}));

    interflow->rateSet()->setItemStatus(ItemStatusUp, 3);
    interflow->setRatePosition(3);
    view.pushController(interflow);
    EXPECT_EQ(strips(*interflow), "promoted 1 [3 4]\n"
                                  "passed 0 [2]\n"
                                  "ratedDown 0 [1]\n");
    view.performButton(ButtonMenu);
    EXPECT_EQ(interflow->state(), InterflowStateReturn);
    view.pushController(interflow);
    view.performButton(ButtonRight);
    EXPECT_EQ(ratings(), (Ratings{{"1", 1}, {"2", 2}, {"3", 3}, {"4", 3}}));
}

TEST_F(InterflowControllerTest, TheStripsRunOppositeWaysAndWrapAround)
{
    auto interflow = show({1, -1, 1, -1, 1, -1}, false, 2, 5);
    ASSERT_NE(interflow->timerForTesting(), nullptr);
    EXPECT_EQ(interflow->timerForTesting()->interval(), 1.0);
    std::string promoted;
    std::string ratedDown;
    for (int step = 0; step < 5; ++step) {
        promoted += std::to_string(interflow->promoteDisplay().position());
        ratedDown += std::to_string(interflow->rateDisplay1().position());
        interflow->timerForTesting()->fireForTesting();
    }
    EXPECT_EQ(promoted, "21021");
    EXPECT_EQ(ratedDown, "01201");

    view.popController();
    auto single = show({1, -1}, false, 2, 1);
    single->timerForTesting()->fireForTesting();
    EXPECT_EQ(single->promoteDisplay().position(), 0u);
    EXPECT_EQ(single->rateDisplay1().position(), 0u);
}

TEST_F(InterflowControllerTest, EndingTheRunEarlyHoldsOnlyUntilTheUserGoesBack)
{
    auto interflow = show({-1, 1}, false, 1, 1);
    interflow->finishAfterThisPass();
    view.popController();
    view.pushController(interflow);
    EXPECT_EQ(interflow->proceedText().string(), "Done. Please confirm.");
    view.performButton(ButtonLeft);
    EXPECT_FALSE(interflow->isLastStage());
    view.pushController(interflow);
    EXPECT_EQ(interflow->proceedText().string(), "Please confirm.");

    // The last pass by the numbering stays the last: its promoted photos are at the top of the scale.
    view.popController();
    interflow->setLastStage(true);
    view.pushController(interflow);
    view.performButton(ButtonLeft);
    EXPECT_TRUE(interflow->isLastStage());
}

TEST_F(InterflowControllerTest, RowsRunFromRatedDownAtTheBottomToPromotedAtTheTop)
{
    auto threeWay = show({1, -1}, true, 2, 1);
    EXPECT_EQ(threeWay->layer()->sublayers().size(), 4u);
    EXPECT_EQ(threeWay->rateDisplay1().layer()->frame(), Rect(0, 0, 960, 180));
    EXPECT_EQ(threeWay->rateDisplay2()->layer()->frame(), Rect(0, 180, 960, 180));
    EXPECT_EQ(threeWay->proceedText().frame(), Rect(0, 360, 960, 180));
    EXPECT_EQ(threeWay->promoteDisplay().layer()->frame(), Rect(0, 540, 960, 180));
    EXPECT_EQ(threeWay->proceedText().font(), "Futura");
    EXPECT_EQ(threeWay->proceedText().alignmentMode(), TextLayer::AlignmentMode::Center);
    view.popController();

    auto twoWay = show({1, -1}, false, 2, 1);
    EXPECT_EQ(twoWay->layer()->sublayers().size(), 3u);
    EXPECT_EQ(twoWay->rateDisplay1().layer()->frame(), Rect(0, 0, 960, 240));
    EXPECT_EQ(twoWay->proceedText().frame(), Rect(0, 240, 960, 240));
    EXPECT_EQ(twoWay->promoteDisplay().layer()->frame(), Rect(0, 480, 960, 240));
    EXPECT_EQ(failureOf([&] { twoWay->layoutSublayersOfLayer(*root->layer()); }), "Only layout own layer");
}

TEST_F(InterflowControllerTest, ProgrammingErrorsAreReported)
{
    auto interflow = std::make_shared<InterflowController>(photos(2), true);
    interflow->setStage(2);
    EXPECT_EQ(failureOf([&] { interflow->buttonRight(); }), "Items not correctly set");
    ItemDisplay stranger;
    EXPECT_EQ(failureOf([&] { interflow->numberOfItemsInDisplay(stranger); }), "Unknown item display");

    auto firstLevel = show({1, -1}, true, 1, 1);
    EXPECT_EQ(failureOf([&] { view.performButton(ButtonRight); }), "Stage (or three-way) incorrectly set");
    EXPECT_TRUE(ratings().empty());
}

TEST_F(InterflowControllerTest, LateCallsOfAScreenThatLeftDoNothing)
{
    // Declined before the self-confirmation ran: it never runs.
    auto interflow = show({0, 0}, true, 3, 0, true);
    ASSERT_TRUE(interflow->isConfirmingItselfForTesting());
    view.performButton(ButtonLeft);
    EXPECT_FALSE(interflow->isConfirmingItselfForTesting());
    nextTurn();
    EXPECT_EQ(interflow->state(), InterflowStateReturn);
    EXPECT_EQ(view.currentController(), root.get());

    // Gone altogether before the next turn.
    auto gone = show({0, 0}, true, 3, 0, true);
    view.popController();
    gone.reset();
    nextTurn();

    // Covered by another screen before the next turn: it waits to be shown again.
    auto covered = show({0, 0}, true, 3, 0, true);
    auto above = std::make_shared<Raroderavarav>();
    view.pushController(above);
    nextTurn();
    EXPECT_EQ(view.currentController(), above.get());
    EXPECT_EQ(covered->state(), InterflowStateRating);
    view.popController();
    nextTurn();
    EXPECT_EQ(covered->state(), InterflowStateFinished);
    EXPECT_TRUE(ratings().empty());

    // A strip's image request that arrives after its list was cleared finds nothing.
    auto shown = show({1, -1}, false, 2, 1);
    EXPECT_TRUE(shown->itemDisplayImageWork(shown->promoteDisplay(), 0, 100));
    view.popController();
    EXPECT_TRUE(shown->itemDisplayNeedsImage(shown->promoteDisplay(), 0, 100).isNull());
    EXPECT_FALSE(shown->itemDisplayImageWork(shown->promoteDisplay(), 0, 100));
}

TEST_F(InterflowControllerTest, AutomationReadsTheStripsAndTheirPhotos)
{
    auto interflow = show({-1, 0, 1}, true, 2, 2);
    const QJsonObject description = interflow->describeForAutomation();
    EXPECT_EQ(description["count"].toInt(), 3);
    EXPECT_EQ(description["ratePosition"].toInt(), 2);
    EXPECT_EQ(description["state"].toInt(), 0);
    const QJsonObject passed = description["strips"].toObject()["passed"].toObject();
    EXPECT_EQ(passed["count"].toInt(), 1);
    EXPECT_EQ(passed["photos"].toArray().first().toObject(),
              (QJsonObject{{"index", 0}, {"id", "2"}, {"status", -2}}));
}

TEST_F(InterflowControllerTest, ButtonsPressedAtRandomThroughWholeRunsBreakNothing)
{
    std::mt19937 random(20261208);
    int runs = 0;
    for (int press = 0; press < 800; ++press) {
        if (view.currentController() == root.get()) {
            ++runs;
            view.pushController(std::make_shared<FakeStageController>(photos(1 + int(random() % 6)),
                                                                      1 + unsigned(random() % 4)));
        }
        // The strips step now and then; the event loop runs only between some presses.
        auto* interflow = dynamic_cast<InterflowController*>(view.currentController());
        if (interflow && interflow->timerForTesting() && random() % 3 == 0)
            interflow->timerForTesting()->fireForTesting();
        const int button = int(random() % 6);
        ASSERT_EQ(failureOf([&] { view.performButton(button); }), "") << "press " << press;
        if (random() % 4 == 0)
            nextTurn();
    }
    EXPECT_GT(runs, 10);

    // Still answering: Right, again and again, finishes the run under way.
    for (int press = 0; press < 200 && view.currentController() != root.get(); ++press) {
        view.performButton(ButtonRight);
        nextTurn();
    }
    ASSERT_EQ(view.currentController(), root.get());
    const Ratings before = ratings();
    ASSERT_FALSE(before.empty());
    for (const auto& [identifier, stars] : before) {
        EXPECT_GE(stars, 1) << identifier;
        EXPECT_LE(stars, 5) << identifier;
    }

    // And a fresh run goes as it should.
    auto stage = std::make_shared<FakeStageController>(photos(3), 1);
    view.pushController(stage);
    for (const int button : {ButtonUp, ButtonDown, ButtonRight, ButtonSelect})
        view.performButton(button);
    EXPECT_EQ(view.currentController(), root.get());
    const Ratings after = ratings();
    ASSERT_EQ(after.size(), before.size() + 2);
    EXPECT_EQ(Ratings(after.end() - 2, after.end()), (Ratings{{"2", 2}, {"1", 4}}));
}

namespace {
// A library of `count` unrated photos in one album, with their photo files, registered as the
// current library; its album data file, or nothing when it could not be made.
QString makeLibrary(const QTemporaryDir& folder, int count)
{
    PlistDictionary master;
    PlistArray keys;
    for (int key = 1; key <= count; ++key) {
        const QString file = folder.filePath(QStringLiteral("photo-%1.jpg").arg(key));
        QImage image(96, 64, QImage::Format_RGB32);
        image.fill(QColor(40 * key, 90, 160));
        if (!image.save(file, "JPEG"))
            return {};
        master.emplace(std::to_string(key),
                       // GUIDs of their own: the other tests' photos count as rated in this process.
                       PlistValue::dictionary({{"GUID", PlistValue::string("garden-" + std::to_string(key))},
                                               {"MediaType", PlistValue::string("Image")},
                                               {"Rating", PlistValue::integer(0)},
                                               {"ImagePath", PlistValue::string(file.toStdString())},
                                               {"ThumbPath", PlistValue::string(file.toStdString())},
                                               {"Aspect Ratio", PlistValue::real(1.5)}}));
        keys.push_back(PlistValue::string(std::to_string(key)));
    }
    const PlistPtr library = PlistValue::dictionary(
        {{"Master Image List", PlistValue::dictionary(std::move(master))},
         {"List of Albums",
          PlistValue::array({PlistValue::dictionary({{"AlbumName", PlistValue::string("Garden")},
                                                     {"KeyList", PlistValue::array(std::move(keys))}})})}});
    const QString file = folder.filePath("AlbumData.xml");
    const bool made =
        PropertyListSerialization::writeFile(file, library, PropertyListSerialization::Format::Xml) &&
        Preferences::setValue(
            "iPhotoRecentDatabases",
            PlistValue::array({PlistValue::string(QUrl::fromLocalFile(file).toString().toStdString())}),
            Preferences::libraryDomain);
    return made ? file : QString();
}
} // namespace

// The real host view, the real RateItem script and library tool, a real library file.
TEST(InterflowControllerEndToEndTest, AWholePassDrivenByButtonsReachesTheLibraryFile)
{
    QTemporaryDir folder;
    const QString file = makeLibrary(folder, 4);
    ASSERT_FALSE(file.isEmpty());
    const QByteArray previousTool = qgetenv("ZUZIRE_LIBRARY_TOOL");
    qputenv("ZUZIRE_LIBRARY_TOOL", qgetenv("ZUZIRE_BINARY_DIR") + "/bin/zuzire-library");
    const std::shared_ptr<AlbumInfo> albumInfo = AlbumInfo::sharedAlbumInfo();
    const auto albums = albumInfo->reload(nullptr);
    ASSERT_TRUE(albums && albums->size() == 1u);

    HostView view;
    view.pushController(std::make_shared<Raroderavarav>());
    // One stage: a single three-way pass, the last.
    view.pushController(
        std::make_shared<FakeStageController>(*albums->front()->objectForKey("items")->asArray(), 1));
    for (const int button : {ButtonUp, ButtonDown, ButtonRight, ButtonDown})
        view.performButton(button);
    auto* interflow = dynamic_cast<InterflowController*>(view.currentController());
    ASSERT_NE(interflow, nullptr);
    EXPECT_EQ(interflow->proceedText().string(), "Done. Please confirm.");
    EXPECT_EQ(keys(*interflow->ratedItems1()), "2 4");
    EXPECT_EQ(keys(*interflow->ratedItems2()), "3");
    EXPECT_EQ(keys(*interflow->promotedItems()), "1");
    view.performButton(ButtonSelect);
    EXPECT_EQ(view.controllers().size(), 1u);
    albumInfo->finish();
    qputenv("ZUZIRE_LIBRARY_TOOL", previousTool);

    const PlistPtr tree = AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(file));
    ASSERT_TRUE(tree);
    const PlistPtr master = tree->objectForKey("Master Image List");
    const std::pair<const char*, int> expected[] = {{"1", 4}, {"2", 2}, {"3", 3}, {"4", 2}};
    for (const auto& [key, stars] : expected)
        EXPECT_EQ(master->objectForKey(key)->objectForKey("Rating")->asInteger(), stars) << key;
    EXPECT_TRUE(albumInfo->didRateItems());
    EXPECT_TRUE(albumInfo->reload(nullptr).value_or(PlistArray{{nullptr}}).empty());
    Preferences::setValue("iPhotoRecentDatabases", nullptr, Preferences::libraryDomain);
}
