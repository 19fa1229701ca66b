#include "platform/foundation/Error.h"
#include "platform/hid/HidBackend.h"
#include "support/RecordingRemoteDelegate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {
constexpr int64_t ourPID = 4242;

class RemoteDriverTest : public testing::Test {
protected:
    RemoteDriverTest() { driver.setDelegate(&delegate); }

    RemoteDriverEnvironment environment(int64_t pid = ourPID)
    {
        RemoteDriverEnvironment made;
        made.hid = &hid;
        made.notifications = &bus;
        made.scheduler = &clock;
        made.processIdentifier = pid;
        made.observeApplication = false;
        return made;
    }

    std::shared_ptr<SimulatedHidService> attachAppleIR(PlistDictionary properties = {})
    {
        return hid.attach("AppleIRController", std::move(properties), appleIRElements());
    }

    // Starts with one Apple receiver attached and the log cleared.
    std::shared_ptr<SimulatedHidService> startWithReceiver(RemoteMode mode = RemoteModeExclusiveAuto,
                                                           PlistDictionary properties = {})
    {
        auto receiver = attachAppleIR(std::move(properties));
        EXPECT_TRUE(driver.startRemoteControl(mode));
        EXPECT_EQ(driver.activeRemoteControlCount(), 1u);
        delegate.log.clear();
        return receiver;
    }

    void press(const std::shared_ptr<SimulatedHidService>& receiver, uint32_t page, uint32_t usage,
               int32_t value = 1)
    {
        receiver->injectEventsForTesting({{cookieFor(appleIRElements(), page, usage), value}});
    }

    std::vector<std::string> statusActions()
    {
        std::vector<std::string> actions;
        for (const auto& notification : bus.posted()) {
            if (notification.name == "com.irbridge.status")
                actions.push_back(*notification.userInfo.at("Action")->asString());
        }
        return actions;
    }

    SimulatedHidBackend hid;
    LoopbackNotificationCenter bus;
    ManualRemoteScheduler clock;
    RecordingRemoteDelegate delegate;
    RemoteDriver driver{environment()};
};

TEST_F(RemoteDriverTest, UsageTableGivesTheRemoteCodes)
{
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x86, 0x01), RemoteButtonMenu);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x89, 0x01), RemoteButtonCenter);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x8A, 0x01), RemoteButtonRight);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x8B, 0x01), RemoteButtonLeft);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x8C, 0x01), RemoteButtonUp);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x8D, 0x01), RemoteButtonDown);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x87, 0x01), RemoteButtonNone);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x88, 0x01), RemoteButtonNone);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x22, 0x06), RemoteButtonIDChanged);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x40, 0x0C), RemoteButtonMenuHold);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x41, 0x0C), 0x200005);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x82, 0x0C), 0x210005);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0xB3, 0x0C), RemoteButtonRightHold);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0xB4, 0x0C), RemoteButtonLeftHold);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0xCD, 0x0C), 0x200007);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x23, 0xFF01), RemoteButtonCenterHold);
    EXPECT_EQ(RemoteDriver::buttonCodeForUsage(0x23, 0xFF00), RemoteButtonNone);
}

// What the kernel's Apple IR driver wrote for: menu, the white remote's centre, right, left,
// up held long enough for two auto-repeats, and the aluminium remote's centre.
TEST_F(RemoteDriverTest, TheMachinesReceiversAreLookedForOnlyOnceTheRemoteStarts)
{
    // A driver of the machine's backend, made before that backend is chosen: it finds the
    // receivers of the backend in place when it starts, not of the one it was made with.
    RemoteDriverEnvironment machines = environment(ourPID + 1);
    machines.hid = nullptr;
    RemoteDriver later(machines);
    HidBackend::setSystemForTesting(&hid);
    attachAppleIR();
    const bool started = later.startRemoteControl(RemoteModeShared);
    const size_t found = later.activeRemoteControlCount();
    later.stopRemoteControl();
    HidBackend::setSystemForTesting(nullptr);
    EXPECT_TRUE(started);
    EXPECT_EQ(found, 1u);
}

TEST_F(RemoteDriverTest, RecordedInputRecordsBecomePairedButtons)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({
        keyRecord(KEY_MENU, 1),       synRecord(),
        keyRecord(KEY_MENU, 0),       synRecord(),
        keyRecord(KEY_PLAYPAUSE, 1),  synRecord(),
        keyRecord(KEY_PLAYPAUSE, 0),  synRecord(),
        keyRecord(KEY_FORWARD, 1),    synRecord(),
        keyRecord(KEY_FORWARD, 0),    synRecord(),
        keyRecord(KEY_BACK, 1),       synRecord(),
        keyRecord(KEY_BACK, 0),       synRecord(),
        keyRecord(KEY_VOLUMEUP, 1),   synRecord(),
        keyRecord(KEY_VOLUMEUP, 2),   synRecord(),
        keyRecord(KEY_VOLUMEUP, 2),   synRecord(),
        keyRecord(KEY_VOLUMEUP, 0),   synRecord(),
        keyRecord(KEY_VOLUMEDOWN, 1), keyRecord(KEY_VOLUMEDOWN, 0),
        keyRecord(KEY_ENTER, 1),      keyRecord(KEY_ENTER, 0),
        keyRecord(KEY_A, 1),          keyRecord(KEY_A, 0), // not an element of the receiver
    });
    EXPECT_THAT(delegate.takeButtons(),
                ElementsAre("press 0x6", "release 0x6", "press 0x5", "release 0x5", "press 0x4",
                            "release 0x4", "press 0x3", "release 0x3", "press 0x1", "release 0x1",
                            "press 0x2", "release 0x2", "press 0x5", "release 0x5"));
    EXPECT_EQ(driver.lastSeenModel(), RemoteModelAluminium);
}

TEST_F(RemoteDriverTest, ShortUpPressIsDeliveredWhole_LongOneAsAHold)
{
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 1)});
    clock.advance(0.69);
    EXPECT_THAT(delegate.takeButtons(), IsEmpty());
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 0)});
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x1", "release 0x1"));
    clock.advance(5);
    EXPECT_THAT(delegate.takeButtons(), IsEmpty());

    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEDOWN, 1)});
    clock.advance(0.7);
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x10002"));
    clock.advance(3);
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEDOWN, 0)});
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("release 0x10002"));
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(RemoteDriverTest, UpPressedAgainBeforeTheHoldRestartsTheHoldTime)
{
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 1)});
    clock.advance(0.5);
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 0), keyRecord(KEY_VOLUMEUP, 1)});
    clock.advance(0.5);
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x1", "release 0x1"));
    clock.advance(0.2);
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x10001"));
}

TEST_F(RemoteDriverTest, WithoutHoldSimulationUpAndDownComeAsTheyHappen)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 1)});
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x1"));
    clock.advance(2);
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 0)});
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("release 0x1"));
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(RemoteDriverTest, NewPressReleasesTheOldButtonAndStrayReleasesAreIgnored)
{
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({keyRecord(KEY_BACK, 1), keyRecord(KEY_FORWARD, 1),
                                            keyRecord(KEY_BACK, 0), keyRecord(KEY_FORWARD, 0)});
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x3", "release 0x3", "press 0x4", "release 0x4"));
}

TEST_F(RemoteDriverTest, AluminiumCentreSetsTheModelAndTurnsCentreHoldIntoPlayHold)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    press(receiver, 0x0C, 0x41);
    press(receiver, 0x0C, 0x41, 0);
    EXPECT_EQ(driver.lastSeenModel(), RemoteModelAluminium);
    press(receiver, 0xFF01, 0x23);
    press(receiver, 0xFF01, 0x23, 0);
    press(receiver, 0x0C, 0x82); // aluminium centre hold keeps its own code
    EXPECT_THAT(delegate.takeButtons(),
                ElementsAre("press 0x5", "release 0x5", "press 0x10007", "release 0x10007", "press 0x10005"));
}

TEST_F(RemoteDriverTest, PlainCentreMarksAnotherRemoteOnlyOnReceiversOfLevelTwo)
{
    auto levelZero = startWithReceiver();
    press(levelZero, 0x01, 0x89);
    EXPECT_EQ(driver.lastSeenModel(), RemoteModelUndetermined);
    driver.stopRemoteControl();
    hid.remove(levelZero);

    startWithReceiver(RemoteModeExclusiveAuto, {{"AluminumRemoteSupportLevel", PlistValue::integer(2)}});
    EXPECT_EQ(driver.aluminiumRemoteSystemSupportLevel(), 2);
    auto levelTwo = hid.attach("AppleIRController", {{"AluminumRemoteSupportLevel", PlistValue::integer(2)}},
                               appleIRElements());
    driver.setLastSeenModel(RemoteModelAluminium); // recognised under the current ID: kept
    press(levelTwo, 0x01, 0x89);
    EXPECT_EQ(driver.lastSeenModel(), RemoteModelAluminium);
    driver.setLastSeenModel(RemoteModelUndetermined);
    press(levelTwo, 0x01, 0x89, 0);
    press(levelTwo, 0x01, 0x89);
    EXPECT_EQ(driver.lastSeenModel(), RemoteModelNotAluminium);
}

TEST_F(RemoteDriverTest, RemoteIDIsReportedNeverDeliveredAndResetsTheModel)
{
    auto receiver = startWithReceiver();
    driver.setLastSeenModel(RemoteModelAluminium);
    press(receiver, 0x06, 0x22, 7);
    EXPECT_THAT(delegate.log, ElementsAre("id -1 -> 7"));
    EXPECT_EQ(driver.lastSeenRemoteControlID(), 7);
    EXPECT_EQ(driver.lastSeenModel(), RemoteModelUndetermined);
    // Its zero is a release of the ID element: nothing to deliver, and the next press pairs.
    press(receiver, 0x06, 0x22, 0);
    press(receiver, 0x01, 0x86);
    press(receiver, 0x06, 0x22, 7);
    EXPECT_THAT(delegate.log, ElementsAre("id -1 -> 7", "press 0x6", "release 0x6", "id 7 -> 7"));
}

TEST_F(RemoteDriverTest, UnusedCodesAreAnnouncedEachTimeButStillDelivered)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    bus.posted().clear();
    driver.setUnusedButtonCodes({RemoteButtonMenu});
    driver.setUnusedButtonCodes({RemoteButtonMenu});
    ASSERT_EQ(bus.posted().size(), 2u);
    for (const auto& status : bus.posted()) {
        EXPECT_EQ(*status.userInfo.at("Action")->asString(), "update");
        EXPECT_EQ(status.userInfo.at("UnusedButtonCodes")->description(), "(6)");
    }
    press(receiver, 0x01, 0x86);
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x6"));
}

TEST_F(RemoteDriverTest, StartOpensPresentAndLaterReceiversWithTheirAttributes)
{
    EXPECT_TRUE(driver.startRemoteControl(RemoteModeExclusive));
    EXPECT_EQ(driver.activeRemoteControlCount(), 0u);
    EXPECT_EQ(driver.aluminiumRemoteSystemSupportLevel(), 0);
    auto receiver = attachAppleIR({{"Product", PlistValue::string("IR Receiver")},
                                   {"Manufacturer", PlistValue::integer(5)},
                                   {"Transport", PlistValue::string("USB")}});
    EXPECT_EQ(driver.activeRemoteControlCount(), 1u);
    EXPECT_TRUE(receiver->isSeizedForTesting());
    ASSERT_EQ(delegate.log.size(), 1u);
    EXPECT_EQ(delegate.log[0],
              "found { AluminumRemoteSupportLevel = 0; Product = \"IR Receiver\"; Service = " +
                  std::to_string(receiver->serviceID()) + "; Transport = USB; }");
}

TEST_F(RemoteDriverTest, PrematchFollowsClassCompatibilityAndTheDelegate)
{
    ASSERT_TRUE(driver.startRemoteControl(RemoteModeShared));
    auto bridged =
        hid.attach("AppleIRController", {{"IRBridgeRemoteCompatibilityDevice", PlistValue::boolean(true)}},
                   appleIRElements());
    auto keyboard = hid.attach("IOHIDDevice", {}, appleIRElements());
    auto marked = hid.attach("IOHIDDevice", {{"IRBridgeRemoteCompatibilityMask", PlistValue::integer(1)}},
                             appleIRElements());
    auto maskTwo =
        hid.attach("AppleIRController", {{"IRBridgeRemoteCompatibilityMask", PlistValue::integer(2)}},
                   appleIRElements());
    auto bridge = hid.attach("IRBridgeIRController", {}, appleIRElements());
    EXPECT_EQ(bridged->openDeviceCountForTesting(), 0u);
    EXPECT_EQ(keyboard->openDeviceCountForTesting(), 0u);
    EXPECT_EQ(marked->openDeviceCountForTesting(), 1u);
    EXPECT_EQ(maskTwo->openDeviceCountForTesting(), 0u);
    EXPECT_EQ(bridge->openDeviceCountForTesting(), 1u);
    EXPECT_FALSE(marked->isSeizedForTesting());
    EXPECT_EQ(driver.activeRemoteControlCount(), 2u);
}

TEST_F(RemoteDriverTest, ReceiverNeedsTenDistinctMappedUsages)
{
    ASSERT_TRUE(driver.startRemoteControl(RemoteModeExclusive));
    std::vector<HidElement> nine{{1, 0x86, 1},   {1, 0x89, 2},  {1, 0x8A, 3}, {1, 0x8B, 4},
                                 {1, 0x8C, 5},   {1, 0x8D, 6},  {6, 0x22, 7}, {0xC, 0x40, 8},
                                 {0xC, 0x41, 9}, {1, 0x86, 10}, {1, 0x87, 11}};
    auto tooFew = hid.attach("AppleIRController", {}, nine);
    EXPECT_THAT(delegate.log, ElementsAre("failed 8"));
    EXPECT_EQ(tooFew->openDeviceCountForTesting(), 0u);
    nine.push_back({0xC, 0xCD, 12});
    delegate.log.clear();
    hid.attach("AppleIRController", {}, nine);
    EXPECT_EQ(driver.activeRemoteControlCount(), 1u);
}

TEST_F(RemoteDriverTest, OpenFailureIsReportedAndLeavesOtherReceiversAlone)
{
    auto first = attachAppleIR();
    auto busy = attachAppleIR();
    busy->setOpenErrorForTesting(EBUSY);
    ASSERT_TRUE(driver.startRemoteControl(RemoteModeExclusive));
    EXPECT_EQ(driver.activeRemoteControlCount(), 1u);
    EXPECT_EQ(std::count(delegate.log.begin(), delegate.log.end(), "failed 3"), 1);
}

TEST_F(RemoteDriverTest, OnDemandAluminiumSupportIsAskedForOnlyWhenExclusive)
{
    PlistDictionary onDemand{{"AluminumRemoteSupportLevelOnDemand", PlistValue::integer(3)}};
    auto shared = hid.attach("AppleIRController", onDemand, appleIRElements());
    ASSERT_TRUE(driver.startRemoteControl(RemoteModeShared));
    EXPECT_THAT(shared->writtenPropertiesForTesting(), IsEmpty());
    EXPECT_EQ(driver.aluminiumRemoteSystemSupportLevel(), 0);
    driver.stopRemoteControl();

    ASSERT_TRUE(driver.startRemoteControl(RemoteModeExclusive));
    EXPECT_EQ(driver.aluminiumRemoteSystemSupportLevel(), 3);
    ASSERT_EQ(shared->writtenPropertiesForTesting().size(), 1u);
    EXPECT_EQ(shared->writtenPropertiesForTesting()[0].first, "EnableAluminumRemoteSupportForMe");
    EXPECT_EQ(*shared->writtenPropertiesForTesting()[0].second->objectForKey("pid")->asInteger(), ourPID);
    driver.stopRemoteControl();
    EXPECT_EQ(shared->writtenPropertiesForTesting().back().first, "DisableAluminumRemoteSupportForMe");
}

TEST_F(RemoteDriverTest, RemovalTearsTheReceiverDownAndReleasesItsButton)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({keyRecord(KEY_BACK, 1)});
    hid.remove(receiver);
    EXPECT_THAT(delegate.log, ElementsAre("press 0x3", "release 0x3", "released"));
    EXPECT_EQ(driver.activeRemoteControlCount(), 0u);
    EXPECT_EQ(receiver->openDeviceCountForTesting(), 0u);
    EXPECT_TRUE(driver.isStarted());

    // Attached again, it is opened again.
    auto again = attachAppleIR();
    EXPECT_EQ(driver.activeRemoteControlCount(), 1u);
}

TEST_F(RemoteDriverTest, RemovalDuringASimulatedHoldReleasesTheHoldOnly)
{
    auto receiver = startWithReceiver();
    receiver->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEUP, 1)});
    clock.advance(1);
    hid.remove(receiver);
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x10001", "release 0x10001"));

    // A press still held back was never seen, so nothing is released for it.
    auto second = attachAppleIR();
    delegate.log.clear();
    second->injectInputRecordsForTesting({keyRecord(KEY_VOLUMEDOWN, 1)});
    hid.remove(second);
    clock.advance(1);
    EXPECT_THAT(delegate.takeButtons(), IsEmpty());
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(RemoteDriverTest, DelegateStoppingTheDriverMidReadIsSafe)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    delegate.onEvent = [this](RemoteButtonCode button, bool isPressed) {
        if (button == RemoteButtonMenu && isPressed)
            driver.stopRemoteControl();
    };
    receiver->injectInputRecordsForTesting(
        {keyRecord(KEY_MENU, 1), keyRecord(KEY_MENU, 0), keyRecord(KEY_BACK, 1), keyRecord(KEY_BACK, 0)});
    EXPECT_THAT(delegate.log, ElementsAre("press 0x6", "release 0x6", "released"));
    EXPECT_FALSE(driver.isStarted());
}

TEST_F(RemoteDriverTest, FloodKeepsTheQueueBoundedAndEveryPressPaired)
{
    driver.setSimulateHoldEvents(false);
    auto receiver = startWithReceiver();
    const std::vector<uint16_t> keys{KEY_MENU, KEY_FORWARD, KEY_BACK, KEY_PLAYPAUSE};
    std::vector<input_event> second;
    for (int i = 0; i < 5000; ++i) {
        second.push_back(keyRecord(keys[i % keys.size()], 1));
        second.push_back(keyRecord(keys[i % keys.size()], 0));
    }
    // Read as the Linux backend does: all of one second in one go.
    receiver->injectInputRecordsForTesting(second);
    auto buttons = delegate.takeButtons();
    EXPECT_LE(receiver->maximumQueuedEventsForTesting(), 32u);
    ASSERT_EQ(buttons.size(), 10000u);
    for (size_t i = 0; i < buttons.size(); i += 2) {
        EXPECT_EQ(buttons[i].substr(0, 5), "press");
        ASSERT_EQ(buttons[i + 1], "release" + buttons[i].substr(5));
    }
    // A flood that ends with a button down still lets go of it when the receiver goes.
    receiver->injectInputRecordsForTesting({keyRecord(KEY_MENU, 1)});
    hid.remove(receiver);
    EXPECT_THAT(delegate.takeButtons(), ElementsAre("press 0x6", "release 0x6"));
}

TEST_F(RemoteDriverTest, StartRefusesNoneAndASecondStartWithoutAnnouncing)
{
    EXPECT_FALSE(driver.startRemoteControl(RemoteModeNone));
    EXPECT_TRUE(bus.posted().empty());
    ASSERT_TRUE(driver.startRemoteControl(RemoteModeShared));
    EXPECT_FALSE(driver.startRemoteControl(RemoteModeExclusive));
    EXPECT_EQ(driver.mode(), RemoteModeShared);
    EXPECT_EQ(statusActions(), std::vector<std::string>{"start"});
    driver.stopRemoteControl();
    driver.stopRemoteControl();
    EXPECT_EQ(statusActions(), (std::vector<std::string>{"start", "stop", "stop"}));
    EXPECT_EQ(*bus.posted()[1].userInfo.at("Mode")->asInteger(), RemoteModeShared);
    EXPECT_EQ(*bus.posted()[2].userInfo.at("Mode")->asInteger(), RemoteModeNone);
}

TEST_F(RemoteDriverTest, DeactivationReleasesTheReceiverAndActivationTakesItBackLater)
{
    auto receiver = startWithReceiver(RemoteModeExclusiveAuto);
    driver._appStatusChanged(RemoteDriver::ApplicationWillResignActive);
    EXPECT_FALSE(driver.isStarted());
    EXPECT_FALSE(receiver->isSeizedForTesting());
    EXPECT_THAT(delegate.log, ElementsAre("released"));

    driver._appStatusChanged(RemoteDriver::ApplicationDidBecomeActive);
    clock.advance(0.09);
    EXPECT_FALSE(driver.isStarted());
    clock.advance(0.01);
    EXPECT_TRUE(driver.isStarted());
    EXPECT_EQ(driver.mode(), RemoteModeExclusiveAuto);
    EXPECT_TRUE(receiver->isSeizedForTesting());

    // Becoming active again without having resigned does nothing.
    driver._appStatusChanged(RemoteDriver::ApplicationDidBecomeActive);
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(RemoteDriverTest, ResigningAgainBeforeTheRecoveryCancelsIt)
{
    startWithReceiver(RemoteModeExclusiveAuto);
    driver._appStatusChanged(RemoteDriver::ApplicationWillResignActive);
    driver._appStatusChanged(RemoteDriver::ApplicationDidBecomeActive);
    driver._appStatusChanged(RemoteDriver::ApplicationWillResignActive);
    clock.advance(1);
    EXPECT_FALSE(driver.isStarted());
    driver._appStatusChanged(RemoteDriver::ApplicationDidBecomeActive);
    clock.advance(0.1);
    EXPECT_TRUE(driver.isStarted());
}

TEST_F(RemoteDriverTest, OtherModesKeepTheReceiverWhenInactiveAndTerminationStops)
{
    startWithReceiver(RemoteModeExclusive);
    driver._appStatusChanged(RemoteDriver::ApplicationWillResignActive);
    EXPECT_TRUE(driver.isStarted());
    driver._appStatusChanged(RemoteDriver::ApplicationWillTerminate);
    EXPECT_FALSE(driver.isStarted());
    driver._appStatusChanged(RemoteDriver::ApplicationDidBecomeActive);
    clock.advance(1);
    EXPECT_FALSE(driver.isStarted());
}

TEST_F(RemoteDriverTest, BridgeIsRequiredOnlyOnTheTwoBrokenVersions)
{
    EXPECT_FALSE(RemoteDriver::isIRBridgeInstallationRequiredForRemoteMode(RemoteModeExclusiveAuto));
    EXPECT_FALSE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeExclusiveAuto, 0x1058, false));
    EXPECT_TRUE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeExclusiveAuto, 0x1060, false));
    EXPECT_TRUE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeExclusive, 0x1061, false));
    EXPECT_FALSE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeExclusive, 0x1061, true));
    EXPECT_FALSE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeShared, 0x1060, false));
    EXPECT_FALSE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeExclusive, 0x1062, false));
    EXPECT_FALSE(RemoteDriver::isIRBridgeInstallationRequired(RemoteModeExclusive, std::nullopt, false));
}

TEST_F(RemoteDriverTest, ConsoleChangeRestartsAnExclusiveClientOnce)
{
    auto users = [](int64_t securePID, int64_t uid) {
        return PlistValue::array(
            {PlistValue::dictionary({{"kCGSSessionSecureInputPID", PlistValue::integer(securePID)},
                                     {"kCGSSessionOnConsoleKey", PlistValue::boolean(true)},
                                     {"kCGSSessionUserIDKey", PlistValue::integer(uid)}})});
    };
    hid.setRootProperty("IOConsoleUsers", users(0, 1000));
    startWithReceiver(RemoteModeExclusive);
    bus.posted().clear();
    hid.changeRootState();
    EXPECT_TRUE(statusActions().empty());

    hid.setRootProperty("IOConsoleUsers", users(77, 1000));
    hid.changeRootState();
    EXPECT_EQ(statusActions(), (std::vector<std::string>{"stop", "start"}));
    EXPECT_EQ(driver.activeRemoteControlCount(), 1u);

    driver.stopRemoteControl();
    ASSERT_TRUE(driver.startRemoteControl(RemoteModeShared));
    bus.posted().clear();
    hid.setRootProperty("IOConsoleUsers", users(0, 1001));
    hid.changeRootState();
    EXPECT_TRUE(statusActions().empty());
}

TEST_F(RemoteDriverTest, DestroyingAStartedDriverLetsGoOfEverything)
{
    auto receiver = attachAppleIR();
    {
        RemoteDriver other(environment(ourPID + 1));
        ASSERT_TRUE(other.startRemoteControl(RemoteModeExclusive));
        EXPECT_TRUE(receiver->isSeizedForTesting());
        other.setExclusiveLockLendingEnabled(true);
    }
    EXPECT_FALSE(receiver->isSeizedForTesting());
    // Only this fixture's driver still observes.
    EXPECT_EQ(bus.observerCount(), 2u);
}
} // namespace
