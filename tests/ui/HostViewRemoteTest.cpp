#include "platform/hid/SimulatedHidBackend.h"
#include "support/QMSFX.h"
#include "support/RecordingController.h"
#include "support/RecordingRemoteDelegate.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {
// The host view's remote, on a simulated receiver instead of the machine's devices.
class HostViewRemoteTest : public testing::Test {
protected:
    HostViewRemoteTest()
    {
        HidBackend::setSystemForTesting(&hid);
        view = std::make_unique<HostView>();
        view->pushController(std::make_shared<RecordingController>("C", log));
        log->clear();
        QMSFX::sharedSFX().resetForTesting();
    }

    ~HostViewRemoteTest() override
    {
        view.reset();
        HidBackend::setSystemForTesting(nullptr);
        Cursor::resetForTesting();
    }

    SimulatedHidBackend hid;
    std::shared_ptr<RecordingController::Log> log = std::make_shared<RecordingController::Log>();
    std::unique_ptr<HostView> view;
};

TEST_F(HostViewRemoteTest, EveryRemoteCodeGivesItsButtonOrNothing)
{
    struct Case {
        uint32_t code;
        const char* button; // nullptr: no button
    };
    const std::vector<Case> table{
        {RemoteButtonNone, nullptr},
        {RemoteButtonUp, "C buttonUp"},
        {RemoteButtonDown, "C buttonDown"},
        {RemoteButtonLeft, "C buttonLeft"},
        {RemoteButtonRight, "C buttonRight"},
        {RemoteButtonCenter, "C buttonSelect"},
        {RemoteButtonMenu, "C buttonMenu"},
        {RemoteButtonPlay, "C buttonSelect"},
        {8, nullptr},
        {0xFF, nullptr},
        {RemoteButtonUpHold, nullptr},
        {RemoteButtonDownHold, nullptr},
        {RemoteButtonLeftHold, nullptr},
        {RemoteButtonRightHold, nullptr},
        {RemoteButtonCenterHold, nullptr},
        {RemoteButtonMenuHold, nullptr},
        {RemoteButtonPlayHold, nullptr},
        {RemoteButtonIDChanged, nullptr},
        // Flags other than the hold flag are dropped.
        {RemoteButtonRight | 0x100, "C buttonRight"},
        {RemoteButtonCenter | RemoteButtonAluminiumFlag, "C buttonSelect"},
        {RemoteButtonMenu | 0x40000, "C buttonMenu"},
    };
    RemoteDriver& remote = view->remote();
    for (const Case& entry : table) {
        SCOPED_TRACE(RecordingRemoteDelegate::hex(entry.code));
        log->clear();
        view->remoteDriverEventWithButton(remote, static_cast<RemoteButtonCode>(entry.code), true, nullptr);
        view->remoteDriverEventWithButton(remote, static_cast<RemoteButtonCode>(entry.code), false, nullptr);
        if (entry.button)
            EXPECT_THAT(*log, ElementsAre(entry.button));
        else
            EXPECT_THAT(*log, IsEmpty());
    }
}

TEST_F(HostViewRemoteTest, ReceiverPressesReachTheControllerOnce)
{
    view->setRemoteActive(true);
    auto receiver = hid.attach("AppleIRController", {}, appleIRElements());
    EXPECT_TRUE(receiver->isSeizedForTesting());
    // Holding up is not simulated here: up comes at once, its repeats add nothing.
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 1), keyRecord(KEY_VOLUMEUP, 2),
                                            keyRecord(KEY_VOLUMEUP, 2), keyRecord(KEY_VOLUMEUP, 0),
                                            keyRecord(KEY_MENU, 1), keyRecord(KEY_MENU, 0)});
    EXPECT_THAT(*log, ElementsAre("C buttonUp", "C buttonMenu"));
    EXPECT_EQ(QMSFX::sharedSFX().lastSoundForTesting(), "clankSound");

    view->setRemoteActive(false);
    EXPECT_FALSE(receiver->isSeizedForTesting());
}
} // namespace
