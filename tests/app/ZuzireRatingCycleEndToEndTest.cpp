#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "support/LoggingRateItem.h"
#include "support/ProcessGroup.h"
#include "support/TemporaryConfigHome.h"
#include "support/WaitUntil.h"
#include "support/ZuzireProcess.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QUrl>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace {
// The controllers of a `tree` answer, by class.
QStringList controllersOf(const QString& treeLine)
{
    QStringList names;
    for (const QJsonValue& value : parseJsonLine(treeLine)["controllers"].toArray())
        names << value.toString();
    return names;
}

QStringList textsOf(const QString& treeLine)
{
    QStringList texts;
    for (const QJsonValue& value : parseJsonLine(treeLine)["texts"].toArray())
        texts << value.toString();
    return texts;
}

// Asks the running `process` for its tree until `accept` takes one; false when none came in time.
bool waitForTree(QProcess& process, const std::function<bool(const QString&)>& accept)
{
    return waitUntil([&] {
        process.write("wait 0.1\ntree\n");
        QString line;
        while (!line.startsWith('{')) {
            if (!process.canReadLine() && !process.waitForReadyRead(10000))
                return false;
            line = QString::fromUtf8(process.readLine());
        }
        return accept(line);
    });
}

// The real program, the real library tool and the real RateItem on a small library of the test's
// own: "Coast" with the photos 1 to 4, "Garden" with 5 and 6 and the photo 7, rated already.
// A stand-in for the desktop's opener records that the library was brought forward at the end.
class ZuzireRatingCycleEndToEndTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library.isValid() && tools.isValid());
        writeLibrary();
        QFile opener(tools.filePath("xdg-open"));
        ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\necho \"$@\" >> \"$(dirname -- \"$0\")/opened\"\n");
        opener.close();
        ASSERT_TRUE(opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_path = qgetenv("PATH");
        m_display = qgetenv("DISPLAY");
        qputenv("PATH", tools.path().toUtf8() + ":" + m_path);
        // The library tool brings the library forward only where a display exists; the program
        // itself stays offscreen.
        qputenv("DISPLAY", ":99");
    }

    void TearDown() override
    {
        qputenv("PATH", m_path);
        if (m_display.isEmpty())
            qunsetenv("DISPLAY");
        else
            qputenv("DISPLAY", m_display);
    }

    void writeLibrary()
    {
        PlistDictionary master;
        for (int id = 1; id <= 7; ++id) {
            const QString file = library.filePath(QStringLiteral("photo%1.png").arg(id));
            QImage image(60, 40, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(id * 40, 200, 200));
            ASSERT_TRUE(image.save(file));
            master[std::to_string(id)] =
                PlistValue::dictionary({{"GUID", PlistValue::string("G" + std::to_string(id))},
                                        {"MediaType", PlistValue::string("Image")},
                                        {"Rating", PlistValue::integer(id == 7 ? 3 : 0)},
                                        {"Aspect Ratio", PlistValue::real(1.5)},
                                        {"ImagePath", PlistValue::string(file.toStdString())},
                                        {"ThumbPath", PlistValue::string(file.toStdString())}});
        }
        const auto keys = [](std::initializer_list<const char*> ids) {
            PlistArray list;
            for (const char* id : ids)
                list.push_back(PlistValue::string(id));
            return PlistValue::array(list);
        };
        const PlistPtr albumData = PlistValue::dictionary(
            {{"Master Image List", PlistValue::dictionary(master)},
             {"List of Albums",
              PlistValue::array({PlistValue::dictionary({{"AlbumName", PlistValue::string("Coast")},
                                                         {"KeyList", keys({"1", "2", "3", "4"})}}),
                                 PlistValue::dictionary({{"AlbumName", PlistValue::string("Garden")},
                                                         {"KeyList", keys({"5", "6", "7"})}})})}});
        albumDataPath = library.filePath("AlbumData.xml");
        ASSERT_TRUE(PropertyListSerialization::writeFile(albumDataPath, albumData,
                                                         PropertyListSerialization::Format::Xml));
        const PlistPtr databases = PlistValue::array(
            {PlistValue::string(QUrl::fromLocalFile(albumDataPath).toString().toStdString())});
        ASSERT_TRUE(Preferences::setValue("iPhotoRecentDatabases", databases, Preferences::libraryDomain));
    }

    // Every photo's rating in the library file now.
    std::map<int, long long> ratingsInLibrary() const
    {
        std::map<int, long long> ratings;
        const PlistPtr tree = PropertyListSerialization::readFile(albumDataPath);
        const PlistPtr master = tree ? tree->objectForKey("Master Image List") : nullptr;
        for (int id = 1; id <= 7 && master; ++id) {
            const PlistPtr photo = master->objectForKey(std::to_string(id));
            const PlistPtr rating = photo ? photo->objectForKey("Rating") : nullptr;
            ratings[id] = rating && rating->asInteger() ? *rating->asInteger() : -1;
        }
        return ratings;
    }

    TemporaryConfigHome config;
    QTemporaryDir library;
    QTemporaryDir tools;
    QString albumDataPath;

private:
    QByteArray m_path;
    QByteArray m_display;
};
} // namespace

TEST_F(ZuzireRatingCycleEndToEndTest, RateAnAlbumThroughItsPassesThenLeaveTheNextHalfWay)
{
    // Two passes of three answers each: Down 1, passed over 2, Up 3 and on; then Down keeps its 3
    // and Up gives 5.
    const QString script =
        QStringLiteral("wait 2.5\ntree\n"
                       "key Return\nwait 0.3\ntree\nwait 2.5\ntree\n"
                       // Pass 1 of Coast at level 2: Up, Up, Right (passed over), Down.
                       "key Up\nkey Up\nkey Right\nkey Down\nwait 0.2\ntree\n"
                       "key Return\nwait 0.2\ntree\nwait 1.8\n"
                       // Pass 2 at level 4, the last: photo 1 Down, photo 2 Up.
                       "key Down\nkey Up\nwait 0.2\ntree\nkey Return\n"
                       // Back at the picker, reloaded: Coast is done.
                       "wait 2.5\ntree\n"
                       // Garden, pass 1: both Up; then Escape during the next title card leaves the run.
                       "key Return\nwait 2\nkey Up\nkey Up\nwait 0.2\nkey Return\nwait 0.3\nkey Escape\n"
                       "wait 2.5\ntree\nquit\n");
    const ProgramRun run = runZuzire(script, {"-NumberOfStages", "2"}, config.path());
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    // Standard output holds the answers alone; what the library tool says goes to standard error.
    QStringList trees;
    for (const QString& line : run.lines) {
        if (line.startsWith('{'))
            trees << line;
        else
            EXPECT_EQ(line.toStdString(), "ok");
    }
    EXPECT_TRUE(run.errors.contains("Photo 4 now has 1 star.")) << run.errors.toStdString();
    ASSERT_EQ(trees.size(), 8) << run.lines.join('\n').toStdString();

    EXPECT_EQ(controllersOf(trees[0]), QStringList({"RootController", "AlbumController"}));
    EXPECT_EQ(parseJsonLine(trees[0])["screen"].toObject()["albums"].toArray(),
              QJsonArray({"Coast", "Garden"}));
    // The title card, its captions, then the pass.
    EXPECT_EQ(controllersOf(trees[1]), QStringList({"RootController", "StageController"}));
    EXPECT_EQ(textsOf(trees[1]), QStringList({"★", "★★★☆☆"}));
    EXPECT_EQ(controllersOf(trees[2]).last(), "FlowController");
    EXPECT_EQ(controllersOf(trees[3]).last(), "InterflowController");
    EXPECT_TRUE(textsOf(trees[3]).contains("Please confirm.")) << trees[3].toStdString();
    EXPECT_EQ(controllersOf(trees[4]), QStringList({"RootController", "StageController"}));
    EXPECT_EQ(textsOf(trees[4]), QStringList({"★★★", "★★★★★"}));
    EXPECT_TRUE(textsOf(trees[5]).contains("Done. Please confirm.")) << trees[5].toStdString();
    EXPECT_EQ(controllersOf(trees[6]), QStringList({"RootController", "AlbumController"}));
    EXPECT_EQ(parseJsonLine(trees[6])["screen"].toObject()["albums"].toArray(), QJsonArray({"Garden"}));
    EXPECT_EQ(parseJsonLine(trees[6])["screen"].toObject()["photos"].toInt(), 2);
    // Garden's first pass was confirmed, so its photos are rated: nothing is left.
    EXPECT_EQ(textsOf(trees[7]), QStringList({"No photos need rating."}));

    const std::map<int, long long> expected{{1, 3}, {2, 5}, {3, 2}, {4, 1}, {5, 3}, {6, 3}, {7, 3}};
    EXPECT_EQ(ratingsInLibrary(), expected);
    // The library was brought forward after the last write.
    // The opener's line is complete once it ends in a newline (the file exists a moment before).
    QString opened;
    EXPECT_TRUE(waitUntil([&] {
        QFile file(tools.filePath("opened"));
        opened = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        return opened.endsWith('\n');
    }));
    EXPECT_EQ(opened.trimmed(), QDir(library.path()).absolutePath());
}

TEST_F(ZuzireRatingCycleEndToEndTest, AResizeThenQuitOnThePickerEndsCleanly)
{
    QProcess process;
    startZuzire(process, config.path());
    ASSERT_TRUE(waitForTree(process, [](const QString& tree) {
        return controllersOf(tree) == QStringList({"RootController", "AlbumController"});
    }));
    // The window's new size has reached no frame yet when the picker goes.
    process.write("resize 800 600\nquit\n");
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

TEST_F(ZuzireRatingCycleEndToEndTest, ASecondSignalStopsTheSlowHelperAndCountsTheRatingsLost)
{
    // Records its process group, then takes its time; sleep is a process of its own in that group.
    LoggingRateItem rateItem("cut -d' ' -f5 /proc/$$/stat >> \"$here/started\"\nsleep 60");
    ASSERT_TRUE(rateItem.isReady());
    QProcess process;
    startZuzire(process, config.path(), {"-NumberOfStages", "2"});
    // Coast's first pass of two: Up, Up, Right, Down, confirmed; its four ratings are queued.
    const auto showing = [](const QString& controller) {
        return [controller](const QString& tree) { return controllersOf(tree).endsWith(controller); };
    };
    ASSERT_TRUE(waitForTree(process, showing("AlbumController")));
    process.write("key Return\n");
    ASSERT_TRUE(waitForTree(process, showing("FlowController")));
    process.write("key Up\nkey Up\nkey Right\nkey Down\n");
    ASSERT_TRUE(waitForTree(process, showing("InterflowController")));
    process.write("key Return\n");
    ASSERT_TRUE(process.waitForBytesWritten(10000));
    QFile started(rateItem.filePath("started"));
    ASSERT_TRUE(waitUntil([&] { return started.exists() && started.size() > 0; }));
    ASSERT_TRUE(started.open(QIODevice::ReadOnly));
    const pid_t helperGroup = started.readAll().trimmed().toInt();

    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(waitForTree(process, [](const QString& tree) {
        return textsOf(tree).contains("Finishing work: please stand by.");
    }));
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(30000));

    EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains(" was stopped, as the program quit at once")) << errors.toStdString();
    EXPECT_TRUE(errors.contains("Quitting at once on a second signal: 4 queued ratings were not written"))
        << errors.toStdString();
    EXPECT_TRUE(waitUntil([&] { return !processGroupRuns(helperGroup); }));
    EXPECT_TRUE(rateItem.ratings().empty());
}
