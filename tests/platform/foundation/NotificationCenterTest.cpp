#include "platform/foundation/NotificationCenter.h"

#include "platform/foundation/InternalInconsistency.h"

#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

namespace {
const std::string reloadName = "AlbumInfoDidReload";

class NotificationCenterTest : public testing::Test {
protected:
    NotificationCenter m_center;
    std::vector<std::string> m_heard;

    ObserverToken listen(const std::string& label, std::string name, const void* object)
    {
        return m_center.addObserver(std::move(name), object,
                                    [this, label](const Notification&) { m_heard.push_back(label); });
    }
};
} // namespace

TEST_F(NotificationCenterTest, observersFilterByNameAndSender)
{
    const int albumInfo = 0;
    const int other = 0;
    auto anySender = listen("any", reloadName, nullptr);
    auto fromAlbumInfo = listen("albumInfo", reloadName, &albumInfo);
    auto everything = listen("everything", "", nullptr);

    m_center.post(reloadName, &albumInfo);
    EXPECT_EQ(m_heard, (std::vector<std::string>{"any", "albumInfo", "everything"}));
    m_heard.clear();
    m_center.post(reloadName, &other);
    EXPECT_EQ(m_heard, (std::vector<std::string>{"any", "everything"}));
    m_heard.clear();
    m_center.post("SomethingElse", &albumInfo);
    EXPECT_EQ(m_heard, (std::vector<std::string>{"everything"}));
}

TEST_F(NotificationCenterTest, userInfoCarriesAlbumsOrAnError)
{
    std::optional<std::string> albumName;
    std::optional<Error> failure;
    auto token = m_center.addObserver(reloadName, nullptr, [&](const Notification& notification) {
        if (const auto albums = notification.plistForKey("unratedAlbums"))
            albumName = *albums->asArray()->front()->objectForKey("name")->asString();
        if (const Error* error = notification.errorForKey("error"))
            failure = *error;
        EXPECT_EQ(notification.errorForKey("unratedAlbums"), nullptr);
        EXPECT_EQ(notification.plistForKey("error"), nullptr);
    });

    const auto album = PlistValue::dictionary({{"name", PlistValue::string("Holidays")}});
    m_center.post(reloadName, nullptr, {{"unratedAlbums", PlistValue::array({album})}});
    EXPECT_EQ(albumName, "Holidays");
    EXPECT_FALSE(failure);

    m_center.post(reloadName, nullptr,
                  {{"error", Error(Error::applicationDomain, 1, "No unrated photos found")}});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->domain(), Error::applicationDomain);
    EXPECT_EQ(failure->code(), 1);
}

TEST_F(NotificationCenterTest, aDestroyedOrRemovedTokenIsNeverCalled)
{
    auto kept = listen("kept", reloadName, nullptr);
    {
        auto scoped = listen("scoped", reloadName, nullptr);
        EXPECT_EQ(m_center.observerCount(), 2u);
    }
    auto removed = listen("removed", reloadName, nullptr);
    m_center.removeObserver(removed);
    EXPECT_FALSE(removed.isRegistered());
    m_center.removeObserver(removed);
    auto replaced = listen("replaced", reloadName, nullptr);
    replaced = listen("replacement", reloadName, nullptr);

    m_center.post(reloadName, nullptr);
    EXPECT_EQ(m_heard, (std::vector<std::string>{"kept", "replacement"}));
}

TEST_F(NotificationCenterTest, observersMayRemoveThemselvesAndOthersDuringAPost)
{
    ObserverToken later;
    ObserverToken self;
    auto first = m_center.addObserver(reloadName, nullptr, [&](const Notification&) {
        m_heard.push_back("first");
        later.remove();
    });
    self = m_center.addObserver(reloadName, nullptr, [&](const Notification&) {
        m_heard.push_back("self");
        self.remove();
    });
    later = listen("later", reloadName, nullptr);

    m_center.post(reloadName, nullptr);
    m_center.post(reloadName, nullptr);
    EXPECT_EQ(m_heard, (std::vector<std::string>{"first", "self", "first"}));
}

TEST_F(NotificationCenterTest, anObserverDestroyedByAnEarlierHandlerIsSkipped)
{
    struct Screen {
        ObserverToken token;
        std::vector<std::string>* heard;
    };
    auto screen = std::make_unique<Screen>();
    screen->heard = &m_heard;
    auto popper = m_center.addObserver(reloadName, nullptr, [&](const Notification&) { screen.reset(); });
    screen->token = m_center.addObserver(reloadName, nullptr, [raw = screen.get()](const Notification&) {
        raw->heard->push_back("destroyed screen");
    });
    m_center.post(reloadName, nullptr);
    EXPECT_TRUE(m_heard.empty());
}

TEST_F(NotificationCenterTest, observersAddedDuringAPostHearTheNextOne)
{
    ObserverToken added;
    auto adder = m_center.addObserver(reloadName, nullptr, [&](const Notification&) {
        if (!added.isRegistered())
            added = listen("added", reloadName, nullptr);
    });
    m_center.post(reloadName, nullptr);
    EXPECT_TRUE(m_heard.empty());
    m_center.post(reloadName, nullptr);
    EXPECT_EQ(m_heard, (std::vector<std::string>{"added"}));
}

TEST_F(NotificationCenterTest, aTokenOutlivingItsCentreIsHarmless)
{
    ObserverToken token;
    {
        NotificationCenter shortLived;
        token = shortLived.addObserver(reloadName, nullptr, [](const Notification&) {});
        EXPECT_TRUE(token.isRegistered());
    }
    EXPECT_FALSE(token.isRegistered());
    token.remove();
}

TEST_F(NotificationCenterTest, postingOffTheMainThreadIsAProgrammingError)
{
    bool threw = false;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            m_center.post(reloadName, nullptr);
        } catch (const InternalInconsistency& failure) {
            threw = failure.description() == "Main thread only!";
        }
    }));
    thread->start();
    thread->wait();
    EXPECT_TRUE(threw);
}
