#include "support/NativeGestures.h"
#include "support/QMSFX.h"
#include "support/RecordingController.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {
// Silences the press it receives, once.
class QuietController : public RecordingController {
public:
    using RecordingController::RecordingController;
    void buttonUp() override
    {
        RecordingController::buttonUp();
        if (hostView())
            hostView()->preventDefaultSound();
    }
};

class HostViewInputTest : public testing::Test {
protected:
    HostViewInputTest()
    {
        controller = std::make_shared<QuietController>("C", log);
        view.pushController(controller);
        log->clear();
        QMSFX::sharedSFX().resetForTesting();
    }

    ~HostViewInputTest() override { Cursor::resetForTesting(); }

    std::string soundOf(const std::function<void()>& input)
    {
        QMSFX::sharedSFX().resetForTesting();
        input();
        return QMSFX::sharedSFX().lastSoundForTesting();
    }

    bool sendKey(Qt::Key key, const QString& text = {}, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        event.setAccepted(false);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted();
    }

    // One touchpad gesture through the view's own event handling: begin, the pans and, unless the
    // desktop drops it, the end.
    void sendGesture(std::initializer_list<QPointF> pans, bool ended = true)
    {
        sendGestureEvent(Qt::BeginNativeGesture);
        for (QPointF pan : pans)
            sendGestureEvent(Qt::PanNativeGesture, pan);
        if (ended)
            sendGestureEvent(Qt::EndNativeGesture);
    }

    void sendGestureEvent(Qt::NativeGestureType type, QPointF delta = {})
    {
        QNativeGestureEvent event = nativeGesture(type, delta);
        event.setAccepted(false);
        QCoreApplication::sendEvent(&view, &event);
        EXPECT_TRUE(event.isAccepted());
    }

    std::shared_ptr<RecordingController::Log> log = std::make_shared<RecordingController::Log>();
    HostView view;
    std::shared_ptr<QuietController> controller;
};
} // namespace

TEST_F(HostViewInputTest, EachButtonReachesItsOperationWithItsSound)
{
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonDown); }), "clickSound");
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonLeft); }), "clickSound");
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonRight); }), "clickSound");
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonSelect); }), "clunkSound");
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonMenu); }), "clankSound");
    EXPECT_THAT(
        *log, ElementsAre("C buttonDown", "C buttonLeft", "C buttonRight", "C buttonSelect", "C buttonMenu"));

    log->clear();
    EXPECT_EQ(soundOf([&] { view.performButton(9); }), "clickSound");
    EXPECT_THAT(*log, IsEmpty());
    EXPECT_FALSE(Cursor::isVisible());
}

TEST_F(HostViewInputTest, PreventDefaultSoundSilencesOnlyThatPress)
{
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonUp); }), "");
    EXPECT_EQ(soundOf([&] { view.performButton(ButtonDown); }), "clickSound");
}

TEST_F(HostViewInputTest, KeysDecodeIntoButtons)
{
    EXPECT_EQ(soundOf([&] { sendKey(Qt::Key_Return, "\r"); }), "clunkSound");
    EXPECT_EQ(soundOf([&] { sendKey(Qt::Key_Enter, "\r"); }), "clunkSound");
    EXPECT_EQ(soundOf([&] { sendKey(Qt::Key_J, "\n", Qt::ControlModifier); }), "clunkSound");
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Menu})
        EXPECT_EQ(soundOf([&] { sendKey(key); }), "clankSound");
    sendKey(Qt::Key_Down);
    EXPECT_THAT(*log, ElementsAre("C buttonSelect", "C buttonSelect", "C buttonSelect", "C buttonMenu",
                                  "C buttonMenu", "C buttonMenu", "C buttonMenu", "C buttonDown"));
}

TEST_F(HostViewInputTest, OtherKeysAreLeftToTheBaseHandlingButHideThePointer)
{
    Cursor::resetForTesting();
    EXPECT_FALSE(sendKey(Qt::Key_Q, "q", Qt::ControlModifier));
    EXPECT_THAT(*log, IsEmpty());
    EXPECT_FALSE(Cursor::isVisible());
    Cursor::mouseMoved();
    EXPECT_TRUE(Cursor::isVisible());
}

TEST_F(HostViewInputTest, RemoteReleasesAndHeldCodesGiveNothing)
{
    RemoteDriver& remote = view.remote();
    view.remoteDriverEventWithButton(remote, RemoteButtonUp, false, nullptr);
    view.remoteDriverEventWithButton(remote, RemoteButtonUpHold, true, nullptr);
    view.remoteDriverEventWithButton(remote, RemoteButtonIDChanged, true, nullptr);
    EXPECT_THAT(*log, IsEmpty());
    view.remoteDriverEventWithButton(remote, RemoteButtonPlay, true, nullptr);
    view.remoteDriverEventWithButton(remote, static_cast<RemoteButtonCode>(RemoteButtonRight | 0x100), true,
                                     nullptr);
    EXPECT_THAT(*log, ElementsAre("C buttonSelect", "C buttonRight"));
}

TEST_F(HostViewInputTest, SwipesFavourTheVerticalAndNeedNoThreshold)
{
    view.swipeWithEvent(-1, 0);
    view.swipeWithEvent(1, -1);
    view.swipeWithEvent(0.01, 0);
    view.swipeWithEvent(0, 0.5);
    EXPECT_EQ(soundOf([&] { view.swipeWithEvent(0, 0); }), "");
    EXPECT_THAT(*log, ElementsAre("C buttonRight", "C buttonDown", "C buttonLeft", "C buttonUp"));
}

TEST_F(HostViewInputTest, TouchpadGesturesInARowReachTheCurrentControllerAsButtons)
{
    sendGesture({{2, -8}, {1, -20}});
    EXPECT_EQ(soundOf([&] { sendGesture({{30, 4}, {25, -2}}); }), "clickSound");
    // A gesture the desktop never ended counts for nothing, nor does its movement linger.
    sendGesture({{-400, 0}}, false);
    sendGesture({{6, 2}});
    sendGesture({{-3, 40}});
    EXPECT_EQ(soundOf([&] { sendGesture({}); }), "") << "no movement, no button";
    EXPECT_THAT(*log, ElementsAre("C buttonUp", "C buttonRight", "C buttonRight", "C buttonDown"));

    // The next swipe goes to the controller that is current now.
    auto top = std::make_shared<RecordingController>("T", log);
    view.pushController(top);
    log->clear();
    sendGesture({{-50, 10}});
    EXPECT_THAT(*log, ElementsAre("T buttonLeft"));
    view.popController();
    log->clear();
    sendGesture({{-50, 10}});
    EXPECT_THAT(*log, ElementsAre("C buttonLeft"));
}
