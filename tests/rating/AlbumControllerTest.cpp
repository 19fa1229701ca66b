#include "rating/AlbumController.h"

#include "library/AlbumInfo.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/ManualAnimationClock.h"
#include "platform/graphics/TextLayer.h"
#include "support/FailureOf.h"
#include "support/FakeApplication.h"
#include "support/ReleaseProbe.h"
#include "support/TimeLimit.h"
#include "support/WaitUntil.h"
#include "ui/HostView.h"
#include "ui/MenuController.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace {
PlistPtr album(const QString& name, int photos)
{
    PlistArray items;
    for (int index = 1; index <= photos; ++index)
        items.push_back(PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(std::to_string(index))},
                                                {"Aspect Ratio", PlistValue::real(1.5)}}));
    return PlistValue::dictionary(
        {{"name", PlistValue::string(name.toStdString())}, {"items", PlistValue::array(items)}});
}

// Albums "Album 0" … with 1, 2, 3 … photos.
PlistArray albums(int count)
{
    PlistArray list;
    for (int index = 0; index < count; ++index)
        list.push_back(album(QStringLiteral("Album %1").arg(index), index + 1));
    return list;
}

class AlbumControllerTest : public testing::Test {
protected:
    AlbumControllerTest() { view.pushController(root); }

    std::shared_ptr<AlbumController> show(PlistArray list, int width = 800, int height = 600)
    {
        view.show();
        view.resize(width, height);
        QCoreApplication::processEvents();
        auto picker = std::make_shared<AlbumController>(std::move(list));
        view.pushController(picker);
        view.layer()->layoutIfNeeded();
        EXPECT_EQ(picker->layer()->bounds(), Rect(0, 0, width, height));
        return picker;
    }

    void press(int button)
    {
        view.performButton(button);
        view.layer()->layoutIfNeeded();
    }

    static const TextLayer& row(const AlbumController& picker, std::size_t index)
    {
        return static_cast<const TextLayer&>(*picker.albumLayer().sublayers().at(index));
    }
    static const Layer& star(const AlbumController& picker)
    {
        return *picker.albumLayer().sublayers().back();
    }

    FakeApplication application;
    HostView view;
    std::shared_ptr<Raroderavarav> root = std::make_shared<Raroderavarav>();
};
} // namespace

TEST_F(AlbumControllerTest, NamesStandRightOfATiltedStarWithThePreviewInTheLowerLeftQuarter)
{
    auto picker = show(albums(3));
    EXPECT_EQ(picker->layer()->backgroundColor(), Color::white(1, 1));
    EXPECT_EQ(picker->albumDisplay().layer()->frame(), Rect(0, 0, 400, 300));
    EXPECT_TRUE(picker->albumDisplay().layer()->masksToBounds());
    EXPECT_TRUE(picker->albumDisplay().featherRightEdge());
    EXPECT_FALSE(picker->albumDisplay().featherLeftEdge());
    EXPECT_EQ(picker->albumDisplay().autoAdvanceInterval(), 1.0);
    // On the 800 × 600 canvas: names from x = 450 to the 25-point margin; the selected row's
    // lower edge 75 + 50 below the top, the others 50 apart.
    EXPECT_EQ(row(*picker, 0).frame(), Rect(450, 475, 325, 50));
    EXPECT_EQ(row(*picker, 1).frame(), Rect(450, 425, 325, 50));
    EXPECT_EQ(row(*picker, 2).frame(), Rect(450, 375, 325, 50));
    EXPECT_EQ(row(*picker, 1).string(), "Album 1");
    EXPECT_EQ(row(*picker, 1).font(), "Futura");
    EXPECT_EQ(row(*picker, 1).fontSize(), 36);
    EXPECT_EQ(row(*picker, 1).foregroundColor(), Color::black());
    EXPECT_EQ(star(*picker).position(), (Point{400, 500}));
    EXPECT_EQ(star(*picker).bounds(), Rect(0, 0, 37.5, 37.5));
    EXPECT_EQ(static_cast<const TextLayer&>(star(*picker)).string(), "★");
    // Turned π/10 clockwise on screen: its right edge's middle goes down (y up).
    const Point right = star(*picker).convertPointToLayer({37.5, 18.75}, &picker->albumLayer());
    EXPECT_LT(right.y, 500);
    EXPECT_NEAR(right.y, 500 - 18.75 * std::sin(std::numbers::pi / 10), 1e-9);
    // The strip shows the selected album's photos.
    EXPECT_EQ(picker->numberOfItemsInDisplay(picker->albumDisplay()), 1u);
    // Its photo is made by work handed to the strip: Select never waits for a decode.
    EXPECT_TRUE(picker->itemDisplayImageWork(picker->albumDisplay(), 0, 100));
    EXPECT_FALSE(picker->itemDisplayImageWork(picker->albumDisplay(), 1, 100));
}

TEST_F(AlbumControllerTest, TheLayoutScalesWithTheWindow)
{
    auto picker = show(albums(2), 1200, 900);
    EXPECT_EQ(picker->albumDisplay().layer()->frame(), Rect(0, 0, 600, 450));
    // Rows of 75 from x = 675; the selected one from y = 712.5 to 787.5, rounded outward.
    EXPECT_EQ(row(*picker, 0).frame(), Rect(675, 712, 488, 76));
    EXPECT_EQ(row(*picker, 0).fontSize(), 54);
    EXPECT_EQ(star(*picker).position(), (Point{600, 750}));
    EXPECT_EQ(star(*picker).bounds(), Rect(0, 0, 56.25, 56.25));
}

TEST_F(AlbumControllerTest, UpAndDownMoveTheColumnAndTheStripButNotTheStar)
{
    auto picker = show(albums(5));
    picker->setPosition(4);
    view.layer()->layoutIfNeeded();
    EXPECT_EQ(row(*picker, 4).frame(), Rect(450, 475, 325, 50));
    press(ButtonDown);
    EXPECT_EQ(picker->position(), 4u);
    EXPECT_FALSE(picker->albumLayer().needsLayout());

    press(ButtonUp);
    EXPECT_EQ(picker->position(), 3u);
    EXPECT_EQ(row(*picker, 3).frame(), Rect(450, 475, 325, 50));
    EXPECT_EQ(row(*picker, 4).frame(), Rect(450, 425, 325, 50));
    EXPECT_EQ(star(*picker).position(), (Point{400, 500}));
    // Album 3 has four photos; the strip starts again at its first.
    EXPECT_EQ(picker->numberOfItemsInDisplay(picker->albumDisplay()), 4u);
    EXPECT_EQ(picker->albumDisplay().position(), 0u);
    press(ButtonDown);
    EXPECT_EQ(row(*picker, 4).frame(), Rect(450, 475, 325, 50));
    // Left and Right do nothing.
    press(ButtonLeft);
    press(ButtonRight);
    EXPECT_EQ(picker->position(), 4u);
}

TEST_F(AlbumControllerTest, OneAlbumStaysSelectedAndSelectCloses)
{
    auto picker = show(albums(1));
    picker->albumDisplay().setPosition(0);
    press(ButtonUp);
    press(ButtonDown);
    EXPECT_EQ(picker->position(), 0u);
    EXPECT_FALSE(picker->albumLayer().needsLayout());
    press(ButtonSelect);
    EXPECT_EQ(view.currentController(), root.get());
    EXPECT_EQ(picker->position(), 0u);
    // Hidden, the strip has nothing to show, so its timer moves nothing.
    EXPECT_EQ(picker->numberOfItemsInDisplay(picker->albumDisplay()), 0u);
}

TEST_F(AlbumControllerTest, AManyAlbumListScrollsSoTheSelectionStaysOnScreen)
{
    auto picker = show(albums(40));
    for (int press = 0; press < 30; ++press)
        view.performButton(ButtonDown);
    view.layer()->layoutIfNeeded();
    EXPECT_EQ(picker->position(), 30u);
    EXPECT_EQ(row(*picker, 30).frame(), Rect(450, 475, 325, 50));
    EXPECT_EQ(star(*picker).position(), (Point{400, 500}));
    // The first names have scrolled off the top.
    EXPECT_GT(row(*picker, 0).frame().minY(), 600);
}

TEST_F(AlbumControllerTest, OnlyTheRowsOnTheLayerAreShownAndAGlidingRowUntilItsGlideEnds)
{
    ManualAnimationClock clock;
    auto picker = show(albums(60));
    // Drawn once, so that later moves glide.
    QImage frame(800, 600, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&frame);
    LayerPainter::paint(painter, *view.layer(), QSizeF(800, 600));
    const auto shown = [&] {
        std::vector<std::size_t> rows;
        for (std::size_t index = 0; index < 60; ++index) {
            if (!row(*picker, index).isHidden())
                rows.push_back(index);
        }
        return rows;
    };
    const auto range = [](std::size_t first, std::size_t last) {
        std::vector<std::size_t> rows;
        for (std::size_t index = first; index <= last; ++index)
            rows.push_back(index);
        return rows;
    };
    // Rows of 50 from y = 475 down: row 10 still reaches into the layer, row 11 lies below it.
    EXPECT_EQ(shown(), range(0, 10));
    EXPECT_FALSE(star(*picker).isHidden());
    for (int step = 0; step < 30; ++step) {
        press(ButtonDown);
        clock.advance(1);
    }
    // Row 28 reaches down into the top edge, row 40 up into the bottom one; row 27 glided out
    // in the last move and is hidden at the next.
    EXPECT_EQ(shown(), range(27, 40));
    EXPECT_EQ(row(*picker, 27).frame().minY(), 625);

    // A row gliding in shows at once; one gliding out stays until its glide has ended.
    press(ButtonUp);
    EXPECT_EQ(shown(), range(27, 40));
    EXPECT_EQ(row(*picker, 40).frame().maxY(), -25);
    clock.advance(1);
    press(ButtonUp);
    EXPECT_EQ(shown(), range(26, 39));
}

TEST_F(AlbumControllerTest, AClosedPickerReleasesItsAlbumsOffTheMainThread)
{
    ReleaseProbe probe(album(QStringLiteral("Coast"), 2));
    PlistArray list = albums(2);
    list.push_back(probe.take());
    auto picker = show(std::move(list));
    press(ButtonSelect);
    ASSERT_EQ(view.currentController(), root.get());
    picker.reset();
    {
        TimeLimit limit;
        AlbumInfo::sharedAlbumInfo()->finish();
    }
    ASSERT_TRUE(probe.isReleased());
    EXPECT_NE(*probe.releaseThread(), std::this_thread::get_id());
}

TEST_F(AlbumControllerTest, ALongNameEndsInAnEllipsisInsideTheMargin)
{
    auto picker = show({album(QString(200, QChar('W')), 1)});
    EXPECT_EQ(row(*picker, 0).truncationMode(), TextLayer::TruncationMode::End);
    EXPECT_EQ(row(*picker, 0).frame().maxX(), 775);
}

TEST_F(AlbumControllerTest, TheBreakMenuTogglesFullScreenQuitsOrCloses)
{
    auto picker = show(albums(2));
    press(ButtonDown);
    press(ButtonMenu);
    ASSERT_EQ(view.currentController(), picker->breakMenu().get());
    EXPECT_EQ(picker->breakMenu()->choices(), (QStringList{"Toggle fullscreen", "Quit"}));
    press(ButtonSelect);
    EXPECT_EQ(application.toggles, 1);
    EXPECT_EQ(picker->breakMenu(), nullptr);
    EXPECT_EQ(picker->position(), 1u);

    // Menu again: nothing happens, the strip starts over.
    press(ButtonMenu);
    picker->albumDisplay().setPosition(1);
    press(ButtonMenu);
    EXPECT_EQ(view.currentController(), picker.get());
    EXPECT_EQ(application.toggles, 1);
    EXPECT_EQ(picker->albumDisplay().position(), 0u);

    // Quit takes the normal path on the next turn of the event loop.
    press(ButtonMenu);
    press(ButtonDown);
    press(ButtonSelect);
    EXPECT_EQ(application.terminations, 0);
    EXPECT_TRUE(processEventsUntil([&] { return application.terminations == 1; }));
}

TEST_F(AlbumControllerTest, ProgrammingErrors)
{
    auto picker = show(albums(2));
    press(ButtonMenu);
    picker->breakMenu()->setChosenIndex(2);
    EXPECT_EQ(failureOf([&] { view.performButton(ButtonSelect); }), "Bad break menu choice 2");

    auto unhosted = std::make_shared<AlbumController>(albums(1));
    unhosted->layer()->setBounds(Rect(0, 0, 800, 600));
    EXPECT_EQ(failureOf([&] { unhosted->layoutSublayersOfLayer(*unhosted->layer()); }),
              "Layer must be hosted before layout");
    picker->layer()->setBounds(Rect());
    EXPECT_EQ(failureOf([&] { picker->layoutSublayersOfLayer(*picker->layer()); }),
              "Layer bounds must be set before layout");
}
