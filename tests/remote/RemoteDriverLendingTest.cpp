#include "platform/ipc/DBusNotificationCenter.h"
#include "support/PrivateSessionBus.h"
#include "support/RecordingRemoteDelegate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {
constexpr int64_t holderPID = 100;
constexpr int64_t newcomerPID = 200;

RemoteDriverEnvironment environmentOf(SimulatedHidBackend& hid, DistributedNotificationCenter& bus,
                                      ManualRemoteScheduler& clock, int64_t pid)
{
    RemoteDriverEnvironment environment;
    environment.hid = &hid;
    environment.notifications = &bus;
    environment.scheduler = &clock;
    environment.processIdentifier = pid;
    environment.observeApplication = false;
    return environment;
}

// A holder with lending on and a newcomer, two programs on one bus sharing one receiver.
class RemoteDriverLendingTest : public testing::Test {
protected:
    RemoteDriverLendingTest()
    {
        holder.setDelegate(&holderDelegate);
        newcomer.setDelegate(&newcomerDelegate);
        holder.setExclusiveLockLendingEnabled(true);
    }

    std::vector<std::string> statuses()
    {
        std::vector<std::string> seen;
        for (const auto& n : bus.posted()) {
            if (n.name != "com.irbridge.status")
                continue;
            std::string line = n.object + " " + *n.userInfo.at("Action")->asString();
            if (auto returnTo = n.userInfo.find("ReturnToPID"); returnTo != n.userInfo.end())
                line += " return to " + std::to_string(*returnTo->second->asInteger());
            seen.push_back(line);
        }
        return seen;
    }

    SimulatedHidBackend hid;
    LoopbackNotificationCenter bus;
    ManualRemoteScheduler clock;
    std::shared_ptr<SimulatedHidService> receiver = hid.attach("AppleIRController", {}, appleIRElements());
    RecordingRemoteDelegate holderDelegate;
    RecordingRemoteDelegate newcomerDelegate;
    RemoteDriver holder{environmentOf(hid, bus, clock, holderPID)};
    RemoteDriver newcomer{environmentOf(hid, bus, clock, newcomerPID)};
};

TEST_F(RemoteDriverLendingTest, HolderLendsToANewcomerAndGetsItBackWhenItStops)
{
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive)); // starts though the receiver is held
    EXPECT_EQ(newcomer.activeRemoteControlCount(), 0u);
    bus.deliver();
    EXPECT_FALSE(holder.isStarted());
    EXPECT_EQ(newcomer.activeRemoteControlCount(), 1u);

    newcomer.stopRemoteControl();
    bus.deliver();
    EXPECT_TRUE(holder.isStarted());
    EXPECT_EQ(holder.mode(), RemoteModeExclusive);
    EXPECT_EQ(holder.activeRemoteControlCount(), 1u);
    EXPECT_THAT(statuses(), testing::ElementsAre("100 start", "200 start", "100 stop", "200 stop",
                                                 "200 start", "200 stop return to 100", "100 start"));
    const auto& retry = bus.posted()[3];
    EXPECT_EQ(retry.name, "com.irbridge.retry");
    EXPECT_EQ(retry.object, "200");
    EXPECT_EQ(*retry.userInfo.at("PID")->asInteger(), holderPID);
}

TEST_F(RemoteDriverLendingTest, DecliningNewcomerHandsTheReceiverStraightBack)
{
    newcomerDelegate.retry = false;
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive));
    bus.deliver();
    EXPECT_TRUE(holder.isStarted());
    EXPECT_EQ(holder.activeRemoteControlCount(), 1u);
    EXPECT_EQ(newcomer.activeRemoteControlCount(), 0u);
    EXPECT_THAT(statuses(), testing::Contains("200 noneed return to 100"));
    // The newcomer's own later statuses do not name the holder.
    newcomer.stopRemoteControl();
    EXPECT_EQ(statuses().back(), "200 stop");
}

TEST_F(RemoteDriverLendingTest, SharedNewcomerReleasesTheHolderAtOnce)
{
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeShared));
    bus.deliver();
    EXPECT_TRUE(holder.isStarted());
    EXPECT_TRUE(receiver->isSeizedForTesting());
    EXPECT_TRUE(newcomer.isStarted());
    EXPECT_EQ(newcomer.mode(), RemoteModeShared);
}

TEST_F(RemoteDriverLendingTest, DelegateThatHandlesTheReturnDecidesItself)
{
    holderDelegate.handleReleased = true;
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive));
    bus.deliver();
    newcomer.stopRemoteControl();
    bus.deliver();
    EXPECT_FALSE(holder.isStarted());
    EXPECT_THAT(holderDelegate.log, testing::Contains("lock returned"));
}

TEST_F(RemoteDriverLendingTest, AutoModeAndARefusingDelegateNeverLend)
{
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusiveAuto));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive));
    bus.deliver();
    EXPECT_TRUE(holder.isStarted());
    holder.stopRemoteControl();
    newcomer.stopRemoteControl();

    holderDelegate.lend = false;
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive));
    bus.deliver();
    EXPECT_TRUE(holder.isStarted());
    EXPECT_EQ(holder.activeRemoteControlCount(), 1u);
}

TEST_F(RemoteDriverLendingTest, TurningLendingOffForgetsTheLoan)
{
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive));
    bus.deliver();
    holder.setExclusiveLockLendingEnabled(false);
    newcomer.stopRemoteControl();
    bus.deliver();
    EXPECT_FALSE(holder.isStarted());
}

TEST_F(RemoteDriverLendingTest, PingIsAnsweredEvenWhenStopped)
{
    bus.deliverNow({"com.irbridge.ping", "anyone", {}});
    ASSERT_EQ(bus.posted().size(), 2u); // one answer from each driver
    const auto& answer = bus.posted()[0].userInfo;
    EXPECT_EQ(*answer.at("Action")->asString(), "update");
    EXPECT_EQ(*answer.at("Mode")->asInteger(), 0);
    EXPECT_EQ(*answer.at("RemoteControlCount")->asInteger(), 0);
    EXPECT_EQ(*answer.at("RemoteDriverVersion")->asInteger(), 1);
    EXPECT_EQ(*answer.at("CFBundleIdentifier")->asString(), "com.quillmoss.lumendeck");
    EXPECT_EQ(answer.at("UnusedButtonCodes")->description(), "()");
    EXPECT_FALSE(answer.contains("ReturnToPID"));
}

TEST_F(RemoteDriverLendingTest, RetryReachesOnlyItsAddresseeAndOnlyWhenStarted)
{
    bus.deliverNow({"com.irbridge.retry", "200", {{"PID", PlistValue::integer(100)}}});
    EXPECT_TRUE(bus.posted().empty());
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    bus.posted().clear();
    bus.deliverNow({"com.irbridge.retry", "200", {{"PID", PlistValue::integer(7)}}});
    EXPECT_TRUE(bus.posted().empty());
}

TEST_F(RemoteDriverLendingTest, MalformedAndForeignNotificationsAreIgnored)
{
    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    bus.posted().clear();
    const std::vector<DistributedNotification> junk{
        {"com.irbridge.status", "9", {}},
        {"com.irbridge.status", "9", {{"Action", PlistValue::integer(3)}, {"PID", PlistValue::integer(9)}}},
        {"com.irbridge.status",
         "9",
         {{"Action", PlistValue::string("start")}, {"PID", PlistValue::string("9")}}},
        {"com.irbridge.status", "9", {{"Action", PlistValue::string("start")}}},
        {"com.irbridge.status",
         "100",
         {{"Action", PlistValue::string("start")}, {"PID", PlistValue::integer(100)}}},
        {"com.irbridge.status",
         "9",
         {{"Action", PlistValue::string("warp")}, {"PID", PlistValue::integer(9)}}},
        {"", "", {}},
        {"org.example.other", "200", {{"Action", PlistValue::string("start")}}},
    };
    for (const auto& notification : junk)
        bus.deliverNow(notification);
    EXPECT_TRUE(holder.isStarted());
    EXPECT_EQ(holder.activeRemoteControlCount(), 1u);
    EXPECT_TRUE(bus.posted().empty());

    // A retry without the lender's ID still restarts, but names nobody to return to.
    bus.deliverNow({"com.irbridge.retry", "100", {}});
    holder.stopRemoteControl();
    EXPECT_EQ(statuses().back(), "100 stop");
}

// The same exchange between two programs' drivers over a real, private session bus.
TEST(RemoteDriverLendingOverDBusTest, HolderLendsAndTakesBack)
{
    PrivateSessionBus session;
    if (!session.isRunning())
        GTEST_SKIP() << "No private session bus: " << session.skipReason();
    SimulatedHidBackend hid;
    ManualRemoteScheduler clock;
    auto receiver = hid.attach("AppleIRController", {}, appleIRElements());
    QDBusConnection holderConnection = session.connect();
    QDBusConnection newcomerConnection = session.connect();
    DBusNotificationCenter holderBus(holderConnection);
    DBusNotificationCenter newcomerBus(newcomerConnection);
    RemoteDriver holder(environmentOf(hid, holderBus, clock, holderPID));
    RemoteDriver newcomer(environmentOf(hid, newcomerBus, clock, newcomerPID));
    holder.setExclusiveLockLendingEnabled(true);
    ASSERT_TRUE(PrivateSessionBus::sync(holderConnection));
    ASSERT_TRUE(PrivateSessionBus::sync(newcomerConnection));

    ASSERT_TRUE(holder.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(newcomer.startRemoteControl(RemoteModeExclusive));
    ASSERT_TRUE(PrivateSessionBus::waitFor([&] { return newcomer.activeRemoteControlCount() == 1; }));
    EXPECT_FALSE(holder.isStarted());

    newcomer.stopRemoteControl();
    ASSERT_TRUE(PrivateSessionBus::waitFor([&] { return holder.activeRemoteControlCount() == 1; }));
    EXPECT_EQ(holder.mode(), RemoteModeExclusive);
    EXPECT_TRUE(receiver->isSeizedForTesting());
}
} // namespace
