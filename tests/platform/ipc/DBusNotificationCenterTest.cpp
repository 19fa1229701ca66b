#include "platform/ipc/DBusNotificationCenter.h"

#include "support/PrivateSessionBus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {
class DBusNotificationCenterTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!bus.isRunning())
            GTEST_SKIP() << "No private session bus: " << bus.skipReason();
    }

    // Sends a raw signal on the notifications' interface, as a careless or hostile peer might.
    void sendRaw(QDBusConnection connection, const QVariantList& arguments)
    {
        QDBusMessage message =
            QDBusMessage::createSignal(QString::fromLatin1(DBusNotificationCenter::path),
                                       QString::fromLatin1(DBusNotificationCenter::interface),
                                       QString::fromLatin1(DBusNotificationCenter::member));
        message.setArguments(arguments);
        connection.send(message);
    }

    PrivateSessionBus bus;
};

TEST_F(DBusNotificationCenterTest, NotificationsArriveWithTheirNestedDictionaries)
{
    DBusNotificationCenter sender(bus.connect());
    QDBusConnection receiverConnection = bus.connect();
    DBusNotificationCenter receiver(receiverConnection);
    std::vector<DistributedNotification> heard;
    auto registration = receiver.addObserver("com.irbridge.status", "",
                                             [&](const DistributedNotification& n) { heard.push_back(n); });
    ASSERT_TRUE(registration.isRegistered());
    ASSERT_TRUE(PrivateSessionBus::sync(receiverConnection));

    PlistDictionary info{
        {"PID", PlistValue::integer(4242)},
        {"Action", PlistValue::string("start")},
        {"Flag", PlistValue::boolean(true)},
        {"UnusedButtonCodes", PlistValue::array({PlistValue::integer(6), PlistValue::integer(65537)})},
        {"Empty", PlistValue::array({})},
        {"Nested",
         PlistValue::dictionary({{"Inner", PlistValue::dictionary({{"Deep", PlistValue::real(0.5)}})},
                                 {"List", PlistValue::array({PlistValue::string("x")})}})},
    };
    sender.post({"com.irbridge.status", "4242", info});
    ASSERT_TRUE(PrivateSessionBus::waitFor([&] { return !heard.empty(); }));
    EXPECT_EQ(heard[0].object, "4242");
    EXPECT_EQ(PlistValue::dictionary(heard[0].userInfo)->description(),
              PlistValue::dictionary(info)->description());
}

TEST_F(DBusNotificationCenterTest, ObserversSeeOnlyTheirNameAndObject)
{
    DBusNotificationCenter center(bus.connect());
    std::vector<std::string> heard;
    auto mine = center.addObserver("com.irbridge.retry", "42",
                                   [&](const auto& n) { heard.push_back("mine " + n.object); });
    auto any = center.addObserver("com.irbridge.retry", "",
                                  [&](const auto& n) { heard.push_back("any " + n.object); });
    auto done = center.addObserver("done", "", [&](const auto&) { heard.push_back("done"); });
    center.post({"com.irbridge.retry", "43", {}});
    center.post({"com.irbridge.other", "42", {}});
    center.post({"com.irbridge.retry", "42", {}});
    center.post({"done", "", {}});
    ASSERT_TRUE(PrivateSessionBus::waitFor([&] { return !heard.empty() && heard.back() == "done"; }));
    // Observers of one signal hear it in no set order.
    EXPECT_THAT(heard, testing::UnorderedElementsAre("any 43", "mine 42", "any 42", "done"));
    EXPECT_EQ(heard.back(), "done");

    any.release();
    heard.clear();
    center.post({"com.irbridge.retry", "42", {}});
    center.post({"done", "", {}});
    ASSERT_TRUE(PrivateSessionBus::waitFor([&] { return !heard.empty() && heard.back() == "done"; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"mine 42", "done"}));
}

TEST_F(DBusNotificationCenterTest, MalformedSignalsAreIgnored)
{
    QDBusConnection peer = bus.connect();
    QDBusConnection connection = bus.connect();
    DBusNotificationCenter center(connection);
    std::vector<DistributedNotification> heard;
    auto registration =
        center.addObserver("com.irbridge.ping", "", [&](const auto& n) { heard.push_back(n); });
    ASSERT_TRUE(PrivateSessionBus::sync(connection));
    sendRaw(peer, {QStringLiteral("com.irbridge.ping")});
    sendRaw(peer, {QStringLiteral("com.irbridge.ping"), 7, QVariantMap{}});
    sendRaw(peer,
            {QStringLiteral("com.irbridge.ping"), QStringLiteral(""), QStringLiteral("not a dictionary")});
    sendRaw(peer,
            {QStringLiteral("com.irbridge.ping"), QStringLiteral(""),
             QVariantMap{{QStringLiteral("odd"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/x")))},
                         {QStringLiteral("PID"), 5}}});
    ASSERT_TRUE(PrivateSessionBus::waitFor([&] { return !heard.empty(); }));
    ASSERT_EQ(heard.size(), 1u);
    // The last one has the right shape; what has no property-list form is left out.
    EXPECT_EQ(PlistValue::dictionary(heard[0].userInfo)->description(), "{ PID = 5; }");
}

TEST(DBusNotificationCenterWithoutBusTest, PostsAndObservesNothing)
{
    DBusNotificationCenter center(QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/zuzire-bus"), QStringLiteral("none")));
    EXPECT_FALSE(center.isConnected());
    auto registration = center.addObserver("com.irbridge.ping", "", [](const auto&) { FAIL(); });
    EXPECT_FALSE(registration.isRegistered());
    center.post({"com.irbridge.ping", "", {}});
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}
} // namespace
