#include "library/AlbumInfo.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/FailureOf.h"
#include "support/ProcessGroup.h"
#include "support/WaitUntil.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

namespace {
using namespace std::chrono_literals;

PlistPtr photo(const std::string& key, const std::string& guid)
{
    return PlistValue::dictionary({{"qm_ItemKey", PlistValue::string(key)},
                                   {"GUID", PlistValue::string(guid)},
                                   {"MediaType", PlistValue::string("Image")}});
}

// One album "Album" of unrated photos 1 to `count`, GUIDs G1, G2, ...
PlistPtr library(int count)
{
    PlistDictionary master;
    PlistArray keys;
    for (int i = 1; i <= count; ++i) {
        const std::string key = std::to_string(i);
        master.emplace(key, PlistValue::dictionary({{"GUID", PlistValue::string("G" + key)},
                                                    {"MediaType", PlistValue::string("Image")},
                                                    {"Rating", PlistValue::integer(0)},
                                                    {"Caption", PlistValue::string("photo " + key)}}));
        keys.push_back(PlistValue::string(key));
    }
    return PlistValue::dictionary(
        {{"Master Image List", PlistValue::dictionary(std::move(master))},
         {"List of Albums",
          PlistValue::array({PlistValue::dictionary({{"AlbumName", PlistValue::string("Album")},
                                                     {"KeyList", PlistValue::array(std::move(keys))}})})}});
}

// The item keys of the unrated photos `albums` offers.
std::vector<std::string> unratedKeys(const PlistArray& albums)
{
    std::vector<std::string> keys;
    for (const PlistPtr& album : albums)
        for (const PlistPtr& item : *album->objectForKey("items")->asArray())
            keys.push_back(*item->objectForKey("qm_ItemKey")->asString());
    return keys;
}

// Writes library(count) into `folder` and makes it the current library; its album data file, or
// nothing when it could not be written.
QString makeCurrentLibrary(const QTemporaryDir& folder, int count)
{
    const QString file = folder.filePath("AlbumData.xml");
    const bool made =
        PropertyListSerialization::writeFile(file, library(count), PropertyListSerialization::Format::Xml) &&
        Preferences::setValue(
            "iPhotoRecentDatabases",
            PlistValue::array({PlistValue::string(QUrl::fromLocalFile(file).toString().toStdString())}),
            Preferences::libraryDomain);
    return made ? file : QString();
}

// A clock under which a reload never waits out its minimum.
AlbumInfoClock stillClock()
{
    AlbumInfoClock clock;
    clock.now = [] { return 0.0; };
    clock.sleepFor = [](double) {};
    return clock;
}

// Whatever the program logs while it lives, from any thread.
class LogCapture {
public:
    LogCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    std::vector<std::string> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        std::lock_guard lock(s_current->m_mutex);
        s_current->m_messages.push_back(message.toStdString());
    }

    static inline LogCapture* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// Blocks until `albumInfo`'s queue is empty, from a thread of its own as the quitting program
// does, and fails rather than hangs.
bool finishWithin(AlbumInfo& albumInfo, std::chrono::seconds limit)
{
    auto finished = std::async(std::launch::async, [&albumInfo] { albumInfo.finish(); });
    return finished.wait_for(limit) == std::future_status::ready;
}
} // namespace

// Puts a RateItem of the test's own in the resource folder: it records its arguments, its parent,
// its process, its interpreter and when it started and exited, then does `body`.
class AlbumInfoRatingTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_resources.isValid());
        m_previousResources = qgetenv("ZUZIRE_RESOURCE_DIR");
        qputenv("ZUZIRE_RESOURCE_DIR", m_resources.path().toUtf8());
    }
    void TearDown() override
    {
        qputenv("ZUZIRE_RESOURCE_DIR", m_previousResources);
        Preferences::setValue("iPhotoRecentDatabases", nullptr, Preferences::libraryDomain);
    }

    void installHelper(const QString& body, QFile::Permissions permissions = QFile::ReadOwner |
                                                                             QFile::WriteOwner |
                                                                             QFile::ExeOwner)
    {
        QFile file(helperPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // Its own interpreter line names bash, which says so; sh reading the file would not.
        file.write("#!/bin/bash\n"
                   "here=$(dirname -- \"$0\")\n"
                   "printf '%s\\n' \"$0\" \"$@\" > \"$here/arguments-$1\"\n"
                   "echo \"$PPID $$ ${BASH_VERSION:+own-interpreter}\" > \"$here/process-$1\"\n"
                   "echo \"start $1 $2 $(date +%s%N)\" >> \"$here/log\"\n" +
                   body.toUtf8() +
                   "\n"
                   "echo \"exit $1 $(date +%s%N)\" >> \"$here/log\"\n");
        file.close();
        ASSERT_TRUE(file.setPermissions(permissions));
    }

    QString helperPath() const { return m_resources.filePath("RateItem"); }

    // The lines the helpers logged: "start ID STARS NANOSECONDS" and "exit ID NANOSECONDS".
    std::vector<std::vector<std::string>> helperLog() const
    {
        QFile file(m_resources.filePath("log"));
        std::vector<std::vector<std::string>> lines;
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            std::vector<std::string> words;
            for (const QByteArray& word : line.split(' '))
                words.push_back(word.toStdString());
            lines.push_back(words);
        }
        return lines;
    }

    QStringList helperArguments(const QString& itemKey) const
    {
        QFile file(m_resources.filePath("arguments-" + itemKey));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    struct HelperProcess {
        pid_t parent = 0;
        pid_t own = 0;
        // Run by the interpreter its first line names, as a program started directly is.
        bool byItsOwnInterpreter = false;
    };
    HelperProcess helperProcess(const QString& itemKey) const
    {
        QFile file(m_resources.filePath("process-" + itemKey));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> words = file.readAll().trimmed().split(' ');
        return {pid_t(words.value(0).toInt()), pid_t(words.value(1).toInt()),
                words.value(2) == "own-interpreter"};
    }

    QTemporaryDir m_resources;
    QByteArray m_previousResources;
};

TEST_F(AlbumInfoRatingTest, QuickRatingsRunOneHelperAfterAnotherInCallOrder)
{
    installHelper("sleep 0.1");
    AlbumInfo albumInfo;
    albumInfo.applyRating(3, photo("11", "G11"));
    albumInfo.applyRating(1, photo("22", "G22"));
    albumInfo.applyRating(5, photo("33", "G33"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));

    const auto log = helperLog();
    ASSERT_EQ(log.size(), 6u);
    const std::vector<std::vector<std::string>> expected = {{"start", "11", "3"}, {"exit", "11"},
                                                            {"start", "22", "1"}, {"exit", "22"},
                                                            {"start", "33", "5"}, {"exit", "33"}};
    for (std::size_t i = 0; i < log.size(); ++i) {
        ASSERT_EQ(log[i].size(), expected[i].size() + 1) << i;
        EXPECT_TRUE(std::equal(expected[i].begin(), expected[i].end(), log[i].begin())) << i;
    }
    // Each starts only after the one before has exited.
    for (std::size_t i = 1; i < log.size(); ++i)
        EXPECT_LE(std::stoll(log[i - 1].back()), std::stoll(log[i].back())) << i;
    EXPECT_TRUE(albumInfo.didRateItems());
}

TEST_F(AlbumInfoRatingTest, TheHelperGetsTheIdentifierAndTheStarsAndNoShellBetween)
{
    installHelper("");
    AlbumInfo albumInfo;
    albumInfo.applyRating(2, photo("1234", "G1234"));
    // Written as the number it stands for, without leading zeros.
    albumInfo.applyRating(5, photo(" 0077 ", "G77"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));

    EXPECT_EQ(helperArguments("1234"), (QStringList{helperPath(), "1234", "2"}));
    EXPECT_EQ(helperArguments("77"), (QStringList{helperPath(), "77", "5"}));
    EXPECT_EQ(helperProcess("1234").parent, ::getpid());
    EXPECT_TRUE(helperProcess("1234").byItsOwnInterpreter);
}

TEST_F(AlbumInfoRatingTest, NoStarsOrNoIdentifierIsRefusedAndQueuesNothing)
{
    installHelper("");
    AlbumInfo albumInfo;
    EXPECT_EQ(failureOf([&] { albumInfo.applyRating(0, photo("5", "G5")); }), "Un-rating not supported.");
    for (const std::string key : {"0", "", "abc", "12abc", "-5", "+5", "1.5", "99999999999999999999999"}) {
        EXPECT_EQ(failureOf([&] { albumInfo.applyRating(3, photo(key, "G")); }),
                  "Item must have non-zero qm_ItemKey")
            << key;
    }
    EXPECT_EQ(failureOf([&] { albumInfo.applyRating(3, PlistValue::dictionary({})); }),
              "Item must have non-zero qm_ItemKey");
    EXPECT_EQ(failureOf([&] { albumInfo.applyRating(3, nullptr); }), "Item must have non-zero qm_ItemKey");
    EXPECT_EQ(albumInfo.workQueue().operationCount(), 0u);
    ASSERT_TRUE(finishWithin(albumInfo, 30s));
    EXPECT_TRUE(helperLog().empty());
    EXPECT_FALSE(albumInfo.didRateItems());
}

TEST_F(AlbumInfoRatingTest, AReloadRightAfterARatingIsAnnouncedAfterTheWriteWithoutThePhoto)
{
    QTemporaryDir libraryFolder;
    ASSERT_FALSE(makeCurrentLibrary(libraryFolder, 2).isEmpty());
    installHelper("sleep 0.2");

    auto albumInfo = std::make_shared<AlbumInfo>(stillClock());
    const PlistArray before = albumInfo->reload(nullptr).value_or(PlistArray{});
    ASSERT_EQ(unratedKeys(before), (std::vector<std::string>{"1", "2"}));
    const PlistPtr first = before.front()->objectForKey("items")->asArray()->front();

    albumInfo->applyRating(4, first);
    albumInfo->reload();

    Notification announced;
    std::size_t logLinesWhenAnnounced = 0;
    QEventLoop loop;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        AlbumInfo::didReloadNotification, albumInfo.get(), [&](const Notification& notification) {
            announced = notification;
            logLinesWhenAnnounced = helperLog().size();
            loop.quit();
        });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_EQ(logLinesWhenAnnounced, 2u) << "announced before the helper exited";
    const PlistPtr albums = announced.plistForKey(AlbumInfo::unratedAlbumsKey);
    ASSERT_TRUE(albums);
    EXPECT_EQ(unratedKeys(*albums->asArray()), (std::vector<std::string>{"2"}));
    albumInfo->finish();
}

TEST_F(AlbumInfoRatingTest, OnlyASuccessfulWriteCountsAsRated)
{
    // Photo 1 fails, photo 2 is written.
    installHelper("[ \"$1\" != 1 ] || exit 3");
    AlbumInfo albumInfo;
    EXPECT_FALSE(albumInfo.didRateItems());
    LogCapture log;
    albumInfo.applyRating(4, photo("1", "G1"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));
    EXPECT_FALSE(albumInfo.didRateItems());
    EXPECT_EQ(unratedKeys(albumInfo.findUnratedAlbums(library(2))), (std::vector<std::string>{"1", "2"}));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages().front(),
              "Could not rate photo 1 with 4 stars: " + helperPath().toStdString() + " exited with status 3");

    albumInfo.applyRating(2, photo("2", "G2"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));
    EXPECT_TRUE(albumInfo.didRateItems());
    EXPECT_EQ(unratedKeys(albumInfo.findUnratedAlbums(library(2))), (std::vector<std::string>{"1"}));
    EXPECT_EQ(log.messages().size(), 1u);
}

TEST_F(AlbumInfoRatingTest, AKilledOrUnstartableHelperIsNoWrite)
{
    LogCapture log;
    AlbumInfo albumInfo;
    installHelper("kill -9 $$");
    albumInfo.applyRating(5, photo("8", "G8"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));
    installHelper("", QFile::ReadOwner | QFile::WriteOwner);
    albumInfo.applyRating(1, photo("9", "G9"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));

    EXPECT_FALSE(albumInfo.didRateItems());
    EXPECT_EQ(unratedKeys(albumInfo.findUnratedAlbums(library(9))).size(), 9u);
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Could not rate photo 8 with 5 stars: " + helperPath().toStdString() +
                               " was killed by signal 9");
    EXPECT_EQ(messages[1].rfind("Could not rate photo 9 with 1 stars: " + helperPath().toStdString() +
                                    " could not start",
                                0),
              0u)
        << messages[1];
}

TEST_F(AlbumInfoRatingTest, AHelperThatHangsIsKilledAfterTheLimitAndTheNextWriteGoesOn)
{
    installHelper("[ \"$1\" != 7 ] || exec sleep 60");
    LogCapture log;
    AlbumInfo albumInfo;
    albumInfo.setRatingTimeLimitForTesting(300ms);
    albumInfo.applyRating(2, photo("7", "G7"));
    // Each write keeps the limit it was queued with; a loaded machine gets its time for this one.
    albumInfo.setRatingTimeLimitForTesting(RatingHelper::defaultTimeLimit);
    albumInfo.applyRating(3, photo("8", "G8"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));

    EXPECT_TRUE(albumInfo.didRateItems());
    EXPECT_EQ(unratedKeys(albumInfo.findUnratedAlbums(library(8))),
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7"}));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages().front(), "Could not rate photo 7 with 2 stars: " + helperPath().toStdString() +
                                          " did not finish within 0.3 s and was killed");
    // Gone, not left behind.
    const pid_t hung = helperProcess("7").own;
    ASSERT_GT(hung, 0);
    EXPECT_NE(::kill(hung, 0), 0);
}

TEST_F(AlbumInfoRatingTest, AtQuitAHelperThatTimesOutLeavesTheRatingsAfterItUnstarted)
{
    installHelper("exec sleep 60");
    LogCapture log;
    AlbumInfo albumInfo;
    albumInfo.setRatingTimeLimitForTesting(300ms);
    for (const char* key : {"7", "8", "9"})
        albumInfo.applyRating(2, photo(key, std::string("G") + key));
    auto finished = std::async(std::launch::async, [&albumInfo] { albumInfo.finishAtQuit(); });
    ASSERT_EQ(finished.wait_for(30s), std::future_status::ready);

    ASSERT_EQ(helperLog().size(), 1u);
    EXPECT_EQ(helperLog()[0][1], "7");
    const std::string notStarted = " with 2 stars: not started, as the program quits without it";
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{
                  "Could not rate photo 7 with 2 stars: " + helperPath().toStdString() +
                      " did not finish within 0.3 s and was killed",
                  "Could not rate photo 8" + notStarted, "Could not rate photo 9" + notStarted,
                  "A rating helper timed out while quitting: 2 queued ratings were not written"}));
}

TEST_F(AlbumInfoRatingTest, AbandoningStopsTheHelperWithWhatItStartedAndStartsNoOther)
{
    // bash runs sleep as a process of its own, in the helper's process group.
    installHelper("cut -d' ' -f5 /proc/$$/stat > \"$here/group\"\nsleep 60");
    LogCapture log;
    AlbumInfo albumInfo;
    for (const char* key : {"7", "8", "9"})
        albumInfo.applyRating(4, photo(key, std::string("G") + key));
    QFile groupFile(m_resources.filePath("group"));
    ASSERT_TRUE(waitUntil([&] { return groupFile.size() > 0; }));
    ASSERT_TRUE(groupFile.open(QIODevice::ReadOnly));
    const pid_t group = groupFile.readAll().trimmed().toInt();

    EXPECT_EQ(albumInfo.abandonRatings(), 3u);
    EXPECT_TRUE(waitUntil([&] { return !processGroupRuns(group); }));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));
    EXPECT_EQ(helperLog().size(), 1u);
    EXPECT_FALSE(albumInfo.didRateItems());
    ASSERT_FALSE(log.messages().empty());
    EXPECT_EQ(log.messages().front(), "Could not rate photo 7 with 4 stars: " + helperPath().toStdString() +
                                          " was stopped, as the program quit at once");
}

TEST_F(AlbumInfoRatingTest, AMissingHelperStartsNothingAndRatesNothing)
{
    EXPECT_EQ(failureOf([] { AlbumInfo::runScriptToApplyRating(3, 42); }), "Helper script not found");
    LogCapture log;
    AlbumInfo albumInfo;
    albumInfo.applyRating(3, photo("42", "G42"));
    ASSERT_TRUE(finishWithin(albumInfo, 30s));
    EXPECT_FALSE(albumInfo.didRateItems());
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_NE(log.messages().front().find("Helper script not found"), std::string::npos);
}

TEST_F(AlbumInfoRatingTest, FinishOnAnEmptyQueueReturnsAtOnce)
{
    AlbumInfo albumInfo;
    albumInfo.finish();
    EXPECT_TRUE(finishWithin(albumInfo, 10s));
    EXPECT_FALSE(albumInfo.didRateItems());
}

// The real script and the real library tool, on a library of its own.
TEST(AlbumInfoRatingEndToEndTest, TheRatingReachesTheLibraryFile)
{
    QTemporaryDir folder;
    const QString file = makeCurrentLibrary(folder, 3);
    ASSERT_FALSE(file.isEmpty());

    AlbumInfo albumInfo;
    const auto albums = albumInfo.reload(nullptr);
    ASSERT_TRUE(albums);
    const PlistArray& items = *albums->front()->objectForKey("items")->asArray();
    ASSERT_EQ(items.size(), 3u);
    LogCapture log;
    albumInfo.applyRating(4, items[1]);
    // An identifier the library does not hold: the tool refuses it.
    albumInfo.applyRating(2, photo("999", "G999"));
    ASSERT_TRUE(finishWithin(albumInfo, 60s));

    EXPECT_TRUE(albumInfo.didRateItems());
    const PlistPtr tree = AlbumInfo::readAlbumInfo(QUrl::fromLocalFile(file));
    ASSERT_TRUE(tree);
    const PlistPtr master = tree->objectForKey("Master Image List");
    EXPECT_EQ(master->objectForKey("2")->objectForKey("Rating")->asInteger(), 4);
    EXPECT_EQ(master->objectForKey("1")->objectForKey("Rating")->asInteger(), 0);
    EXPECT_EQ(master->objectForKey("3")->objectForKey("Rating")->asInteger(), 0);
    EXPECT_EQ(*master->objectForKey("2")->objectForKey("Caption")->asString(), "photo 2");
    EXPECT_EQ(unratedKeys(albumInfo.reload(nullptr).value_or(PlistArray{})),
              (std::vector<std::string>{"1", "3"}));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_NE(log.messages().front().find("Could not rate photo 999 with 2 stars"), std::string::npos);
    Preferences::setValue("iPhotoRecentDatabases", nullptr, Preferences::libraryDomain);
}
