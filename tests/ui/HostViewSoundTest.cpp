#include "support/QMSFX.h"
#include "support/RecordingController.h"
#include "support/RecordingSoundBackend.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {
// Answers Up with a sound of its own in place of the press's, as a rating screen does.
class RatingController : public RecordingController {
public:
    using RecordingController::RecordingController;
    void buttonUp() override
    {
        RecordingController::buttonUp();
        if (hostView())
            hostView()->preventDefaultSound();
        QMSFX::sharedSFX().playSound(upSound);
    }
};

class HostViewSoundTest : public testing::Test {
protected:
    HostViewSoundTest() { view.pushController(std::make_shared<RatingController>("C", log)); }
    ~HostViewSoundTest() override { Cursor::resetForTesting(); }

    static SystemSoundID sound(const char* name) { return QMSFX::sharedSFX().effectForName(name); }

    std::shared_ptr<RecordingController::Log> log = std::make_shared<RecordingController::Log>();
    RecordingSoundBackend device;
    HostView view;
};
} // namespace

TEST_F(HostViewSoundTest, EveryPressIsHeardInPressOrder)
{
    device.events.clear();
    for (int button : std::initializer_list<int>{ButtonDown, ButtonDown, ButtonSelect, ButtonLeft, ButtonMenu,
                                                 ButtonRight, 9})
        view.performButton(button);
    EXPECT_THAT(device.played(),
                ElementsAre(sound(clickSound), sound(clickSound), sound(clunkSound), sound(clickSound),
                            sound(clankSound), sound(clickSound), sound(clickSound)));
}

TEST_F(HostViewSoundTest, AScreenThatPlaysItsOwnSoundSilencesOnlyThatPress)
{
    device.events.clear();
    view.performButton(ButtonUp);
    view.performButton(ButtonDown);
    EXPECT_THAT(device.played(), ElementsAre(sound(upSound), sound(clickSound)));
}

TEST_F(HostViewSoundTest, AnEmptyStackStillClicks)
{
    HostView empty;
    device.events.clear();
    log->clear();
    empty.performButton(ButtonSelect);
    EXPECT_THAT(device.played(), ElementsAre(sound(clunkSound)));
    EXPECT_THAT(*log, IsEmpty());
}
