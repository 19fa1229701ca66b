#include "tools/library/PhotoRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/AlbumDataRatingEditor.h"
#include "tools/library/ContentDigest.h"
#include "tools/library/ValidationStamp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {
// A library of `photos` unrated photos, keys 1 to `photos`, laid out as libraries write them.
QByteArray libraryXml(int photos)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                     "\t<key>Master Image List</key>\n\t<dict>\n";
    for (int id = 1; id <= photos; ++id) {
        const QByteArray n = QByteArray::number(id);
        xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Caption</key>\n\t\t\t<string>IMG_" + n +
               " &amp; more</string>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n"
               "\t\t\t<key>ImagePath</key>\n\t\t\t<string>/photos/IMG_" +
               n + ".JPG</string>\n\t\t</dict>\n";
    }
    return xml + "\t</dict>\n</dict>\n</plist>\n";
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// In memory where the system offers it: these tests are about locking and atomic replacement, and
// a disk's flushes would make hundreds of writes take minutes on a busy machine.
QString temporaryBase()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? QStringLiteral("/dev/shm/PhotoRatingTest-XXXXXX") : QString();
}

class PhotoRatingTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        m_path = m_folder.filePath("AlbumData.xml");
    }

    // The real tool, as the program's rating script starts it.
    std::unique_ptr<QProcess> startRate(int id, int stars) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", m_folder.filePath("config"));
        // Leak checking at exit costs each of many processes more than its work.
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        process->setProcessEnvironment(environment);
        process->start(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire-library",
                       {"rate", QString::number(id), QString::number(stars), "--library", m_folder.path()});
        return process;
    }

    // The rating in a process of its own, which exits 0 when it was written.
    pid_t forkRate(int id, int stars) const
    {
        const pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(PhotoRating::apply(m_path, std::to_string(id), stars) ? 0 : 1);
        EXPECT_GT(pid, 0);
        return pid;
    }

    // The exit status, or -1 when the process was killed.
    static int exitStatusOf(pid_t pid)
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0)
            if (errno != EINTR)
                return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int64_t ratingOf(const PlistPtr& tree, int id) const
    {
        const PlistPtr rating =
            tree->objectForKey("Master Image List")->objectForKey(std::to_string(id))->objectForKey("Rating");
        return rating && rating->asInteger() ? *rating->asInteger() : -1;
    }

    QTemporaryDir m_folder{temporaryBase()};
    QString m_path;
};
} // namespace

TEST_F(PhotoRatingTest, ConcurrentRatingsAllArrive)
{
    constexpr int photos = 200;
    writeBytes(m_path, libraryXml(photos));
    // Each writer is a process of its own, as the rating script makes it; forked rather than started
    // afresh so that two hundred of them fit in a test's time.
    std::vector<pid_t> writers;
    for (int id = 1; id <= photos; ++id)
        writers.push_back(forkRate(id, 1 + id % 5));
    // A few through the real command line, too.
    std::vector<std::unique_ptr<QProcess>> tools;
    for (int id = 1; id <= 3; ++id)
        tools.push_back(startRate(id, 1 + id % 5));
    for (size_t i = 0; i < writers.size(); ++i)
        EXPECT_EQ(exitStatusOf(writers[i]), 0) << "photo " << i + 1;
    for (size_t i = 0; i < tools.size(); ++i) {
        QProcess& process = *tools[i];
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const int stars = 1 + int(i + 1) % 5;
        EXPECT_EQ(process.readAllStandardOutput().toStdString(),
                  "Photo " + std::to_string(i + 1) + " now has " + std::to_string(stars) + " stars.\n");
    }
    Error error;
    const PlistPtr tree = PropertyListSerialization::readFile(m_path, &error);
    ASSERT_TRUE(tree) << error.description();
    for (int id = 1; id <= photos; ++id)
        EXPECT_EQ(ratingOf(tree, id), 1 + id % 5) << "photo " << id;
}

TEST_F(PhotoRatingTest, KilledRatingsLeaveAReadableFileWithEveryConfirmedRating)
{
    constexpr int runs = 30;
    writeBytes(m_path, libraryXml(500));
    // The first rating checks the whole file; the runs that follow are timed by one uninterrupted
    // write, so the kills spread over start-up, reading, writing and renaming on any machine.
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(exitStatusOf(forkRate(500, 1)), 0);
    timer.restart();
    ASSERT_EQ(exitStatusOf(forkRate(499, 1)), 0);
    auto window = quint32(std::max<qint64>(2, timer.nsecsElapsed() / 1000 * 3 / 2)); // microseconds
    std::map<int, int> confirmed{{500, 1}, {499, 1}};
    int killed = 0;
    // On a loaded machine one timed write says little about the next: the window narrows while
    // every write finishes and widens while every one is killed, so both kinds keep happening.
    for (int run = 1; run <= runs || (run <= 10 * runs && (killed == 0 || confirmed.size() <= 2)); ++run) {
        const int stars = 1 + run % 5;
        const pid_t writer = forkRate(run, stars);
        QThread::usleep(QRandomGenerator::global()->bounded(window));
        ::kill(writer, SIGKILL);
        if (exitStatusOf(writer) == 0) {
            confirmed[run] = stars;
            window = std::max<quint32>(2, window * 4 / 5);
        } else {
            ++killed;
            window = window * 5 / 4 + 1;
        }

        Error error;
        const PlistPtr tree = PropertyListSerialization::readFile(m_path, &error);
        ASSERT_TRUE(tree) << "after run " << run << ": " << error.description();
        for (const auto& [id, rating] : confirmed)
            ASSERT_EQ(ratingOf(tree, id), rating) << "photo " << id << " after run " << run;
    }
    // Both kinds of run happened, or the test proved little.
    EXPECT_GT(killed, 0);
    EXPECT_GT(confirmed.size(), 2u);
}

TEST_F(PhotoRatingTest, AFileChangedBehindTheStampIsCheckedInFullAgain)
{
    writeBytes(m_path, libraryXml(3));
    ASSERT_TRUE(PhotoRating::apply(m_path, "1", 4));
    ASSERT_TRUE(ValidationStamp::matches(m_path, contents(m_path)));

    // Another program leaves a broken file: the program would refuse it, so rate does too.
    QByteArray broken = contents(m_path);
    broken.replace("</plist>", "</plist><unclosed>");
    broken.replace("<string>IMG_1 &amp; more", "<string>IMG_1 &amp more");
    writeBytes(m_path, broken);
    Error error;
    EXPECT_FALSE(PhotoRating::apply(m_path, "2", 3, &error));
    EXPECT_EQ(error.code(), Error::fileReadCorruptFileError);
    EXPECT_TRUE(
        error.localizedDescription().starts_with(m_path.toStdString() + " is no valid album data file"))
        << error.localizedDescription();
    EXPECT_EQ(contents(m_path), broken);
    // Checked while the new file was written: that one is gone again.
    EXPECT_EQ(QDir(m_folder.path()).entryList(QDir::Files | QDir::Hidden).join(' '), ".lock AlbumData.xml");
    // The verdict comes first, also where the photo is missing.
    EXPECT_FALSE(PhotoRating::apply(m_path, "9", 3, &error));
    EXPECT_TRUE(
        error.localizedDescription().starts_with(m_path.toStdString() + " is no valid album data file"))
        << error.localizedDescription();
}

TEST_F(PhotoRatingTest, AChangeOfTheSameSizeFarFromTheRatingIsCheckedInFullAgain)
{
    // Several blocks of the stamp's digest, the change in the last.
    writeBytes(m_path, libraryXml(12000));
    ASSERT_GT(QFileInfo(m_path).size(), 2 * ContentDigest::blockSize);
    ASSERT_TRUE(PhotoRating::apply(m_path, "1", 4));
    QByteArray broken = contents(m_path);
    const qsizetype last = broken.lastIndexOf("<integer>0</integer>");
    broken.replace(last, 20, "<integer>x</integer>");
    writeBytes(m_path, broken);
    Error error;
    EXPECT_FALSE(PhotoRating::apply(m_path, "2", 3, &error));
    EXPECT_NE(error.localizedDescription().find("Malformed integer"), std::string::npos)
        << error.localizedDescription();
    EXPECT_EQ(contents(m_path), broken);
}

TEST_F(PhotoRatingTest, RatingsAfterTheFirstKeepTheStampTrueAndFindTheirPhotos)
{
    QByteArray xml = libraryXml(3000);
    // Photo 2500 has no rating yet, so one change moves everything after it.
    const QByteArray unrated = "IMG_2500 &amp; more</string>\n";
    xml.replace(unrated + "\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n", unrated);
    ASSERT_EQ(xml.count("<integer>0</integer>"), 2999);
    writeBytes(m_path, xml);
    const std::vector<std::pair<int, int>> ratings = {{10, 1}, {2500, 5}, {2999, 2}, {10, 3}, {1, 4}};
    for (const auto& [id, stars] : ratings) {
        Error error;
        ASSERT_TRUE(PhotoRating::apply(m_path, std::to_string(id), stars, &error)) << error.description();
        const auto stamp = ValidationStamp::recorded(m_path);
        ASSERT_TRUE(stamp);
        EXPECT_TRUE(stamp->describes(ContentDigest(contents(m_path)))) << "after photo " << id;
        EXPECT_TRUE(stamp->note.startsWith("photos ")) << stamp->note.constData();
    }
    EXPECT_FALSE(PhotoRating::apply(m_path, "3001", 1));
    Error error;
    const PlistPtr tree = PropertyListSerialization::readFile(m_path, &error);
    ASSERT_TRUE(tree) << error.description();
    for (const auto& [id, stars] : std::map<int, int>{{1, 4}, {10, 3}, {2500, 5}, {2999, 2}, {11, 0}})
        EXPECT_EQ(ratingOf(tree, id), stars) << "photo " << id;
}

TEST_F(PhotoRatingTest, AFailedWriteLeavesTheOldFileAndSaysWhich)
{
    const QByteArray original = libraryXml(3);
    writeBytes(m_path, original);
    for (const AtomicFile::Step step :
         {AtomicFile::Step::Open, AtomicFile::Step::Write, AtomicFile::Step::Sync, AtomicFile::Step::Close,
          AtomicFile::Step::Rename}) {
        AtomicFile::setFaultForTesting(AtomicFile::Fault{step, ENOSPC});
        Error error;
        EXPECT_FALSE(PhotoRating::apply(m_path, "2", 5, &error));
        AtomicFile::setFaultForTesting(std::nullopt);
        EXPECT_EQ(contents(m_path), original);
        EXPECT_EQ(error.code(), AtomicFile::writeOutOfSpaceError);
        EXPECT_NE(error.failureReason().find(m_path.toStdString()), std::string::npos)
            << error.failureReason();
    }
    // Nothing is left behind but the old file and the lock.
    EXPECT_EQ(QDir(m_folder.path()).entryList(QDir::Files | QDir::Hidden).join(' '), ".lock AlbumData.xml");
}

// A first rating reads the file once; a fault the program's reader refuses must still refuse it,
// however far after the photo it stands, and leave the file as it was.
TEST_F(PhotoRatingTest, TheFirstRatingRefusesAFaultLateInTheFile)
{
    QByteArray broken = libraryXml(300);
    broken.replace("\t</dict>\n</dict>\n</plist>",
                   "\t</dict>\n\t<key>List of Albums</key>\n\t<array><integer>twelve</integer></array>\n"
                   "</dict>\n</plist>");
    writeBytes(m_path, broken);
    for (const std::string key : {"1", "300", "301"}) {
        Error error;
        EXPECT_FALSE(PhotoRating::apply(m_path, key, 3, &error)) << key;
        EXPECT_TRUE(
            error.localizedDescription().starts_with(m_path.toStdString() + " is no valid album data file"))
            << error.localizedDescription();
        EXPECT_NE(error.localizedDescription().find("Malformed integer"), std::string::npos)
            << error.localizedDescription();
        EXPECT_EQ(contents(m_path), broken);
        EXPECT_FALSE(ValidationStamp::recorded(m_path)) << "a refused file is no checked one";
        EXPECT_EQ(QDir(m_folder.path()).entryList(QDir::Files | QDir::Hidden).join(' '),
                  ".lock AlbumData.xml");
    }
}

// Files the program reads in spellings a quick look could be misled by are rated where the
// program's reader sees the photo, the first time and every time after, byte for byte as a walk
// of the whole file would change them.
TEST_F(PhotoRatingTest, UnusualButSoundFilesAreRatedWhereTheProgramSeesThePhoto)
{
    const QByteArray entry7 = "\t\t<key>7</key>\n\t\t<dict>\n\t\t\t<key>Caption</key>\n\t\t\t<string>IMG_7";
    const std::vector<std::pair<QByteArray, QByteArray>> variants = {
        // The photo's key in a comment before its entry: where a plain search finds it first.
        {"\t\t<key>2</key>",
         "<!-- <key>7</key><dict><key>Rating</key><integer>0</integer></dict> -->\t\t<key>2</key>"},
        // Listed twice: both entries take the rating.
        {"\t\t<key>2</key>",
         entry7 + "</string>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n\t\t</dict>\n"
                  "\t\t<key>2</key>"},
        // Its key spelled with a character reference; a processing instruction the streaming
        // reader leaves to the one reader.
        {"\t\t<key>7</key>", "\t\t<key>&#55;</key>"},
        {"\t\t<key>2</key>", "<?note?>\t\t<key>2</key>"},
        // Plain, the photo without a rating yet: the rating grows the file.
        {"IMG_7 &amp; more</string>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n",
         "IMG_7 &amp; more</string>\n"},
    };
    for (const auto& [before, after] : variants) {
        QByteArray original = libraryXml(9);
        ASSERT_EQ(original.count(before), 1);
        original.replace(before, after);
        writeBytes(m_path, original);
        ValidationStamp::forget(m_path);
        for (const int stars : {4, 2}) {
            const QByteArray old = contents(m_path);
            Error error;
            ASSERT_TRUE(PhotoRating::apply(m_path, "7", stars, &error))
                << after.constData() << ": " << error.localizedDescription();
            const auto walked = AlbumDataRatingEditor::withRating(old, "7", stars);
            ASSERT_EQ(walked.outcome, AlbumDataRatingEditor::Outcome::Changed);
            EXPECT_EQ(contents(m_path).toStdString(), walked.bytes.toStdString()) << after.constData();
            const PlistPtr tree = PropertyListSerialization::readFile(m_path, &error);
            ASSERT_TRUE(tree) << error.description();
            EXPECT_EQ(ratingOf(tree, 7), stars) << after.constData();
            EXPECT_TRUE(ValidationStamp::matches(m_path, contents(m_path))) << after.constData();
            EXPECT_TRUE(contents(m_path).contains(after.left(20))) << after.constData();
        }
    }
}

// What must stand before the library (the sidecar) is told the photo's file while the library's
// new file is written; the library is replaced only afterwards, and records the rating as seen
// elsewhere only when it was written there. On a first rating and on one after it, both answers,
// whether the photo's file is there or gone (the answer is guessed from it, and may be the other).
TEST_F(PhotoRatingTest, ThePhotoIsToldBeforeTheLibraryIsReplacedAndItsRecordFollowsTheAnswer)
{
    const QString present = m_folder.filePath("IMG_2500.JPG");
    writeBytes(present, "not decoded");
    for (const auto& [first, reached, there] :
         std::vector<std::tuple<bool, bool, bool>>{{true, true, false},
                                                   {true, false, false},
                                                   {false, true, false},
                                                   {false, false, false},
                                                   {true, true, true},
                                                   {true, false, true},
                                                   {false, true, true},
                                                   {false, false, true}}) {
        const QString photoPath = there ? present : QStringLiteral("/photos/IMG_2500.JPG");
        writeBytes(m_path, libraryXml(3000).replace("/photos/IMG_2500.JPG", QFile::encodeName(photoPath)));
        ValidationStamp::forget(m_path);
        if (!first) {
            ASSERT_TRUE(PhotoRating::apply(m_path, "1", 1));
        }
        const QByteArray old = contents(m_path);
        QStringList told;
        bool libraryStillOld = false;
        const auto tell = [&](const QString& photo) {
            told << photo;
            libraryStillOld = contents(m_path) == old;
            return reached;
        };
        Error error;
        ASSERT_TRUE(PhotoRating::apply(m_path, "2500", 3, &error, tell)) << error.description();
        EXPECT_EQ(told, QStringList{photoPath}) << first << reached << there;
        EXPECT_TRUE(libraryStillOld) << first << reached;
        const PlistPtr tree = PropertyListSerialization::readFile(m_path, &error);
        ASSERT_TRUE(tree) << error.description();
        EXPECT_EQ(ratingOf(tree, 2500), 3);
        const PlistPtr seen =
            tree->objectForKey("Master Image List")->objectForKey("2500")->objectForKey("RatingElsewhere");
        EXPECT_EQ(seen && seen->asInteger() ? *seen->asInteger() : -1, reached ? 3 : -1)
            << first << reached << there;
        EXPECT_TRUE(ValidationStamp::matches(m_path, contents(m_path))) << first << reached << there;
    }
}

// A binary album data file is rated as an XML one is, and stays binary; what it records as seen
// elsewhere follows the photo's answer alike.
TEST_F(PhotoRatingTest, BothFormatsAreRatedAndKeepTheirFormat)
{
    using Format = PropertyListSerialization::Format;
    for (const Format format : {Format::Xml, Format::Binary}) {
        const PlistPtr library = PropertyListSerialization::fromData(libraryXml(3));
        writeBytes(m_path, PropertyListSerialization::toData(library, format));
        for (const auto& [stars, reached] : std::vector<std::pair<int, bool>>{{4, true}, {2, false}}) {
            QStringList told;
            const auto tell = [&](const QString& photo) {
                told << photo;
                return reached;
            };
            Error error;
            ASSERT_TRUE(PhotoRating::apply(m_path, "2", stars, &error, tell)) << error.description();
            EXPECT_EQ(told, QStringList{"/photos/IMG_2.JPG"});
            EXPECT_EQ(contents(m_path).startsWith("bplist00"), format == Format::Binary);
            const PlistPtr tree = PropertyListSerialization::readFile(m_path, &error);
            ASSERT_TRUE(tree) << error.description();
            const PlistPtr entry = tree->objectForKey("Master Image List")->objectForKey("2");
            EXPECT_EQ(ratingOf(tree, 2), stars);
            EXPECT_TRUE(PlistValue::equal(entry->objectForKey("RatingElsewhere"), PlistValue::integer(4)))
                << stars;
            EXPECT_EQ(*entry->objectForKey("Caption")->asString(), "IMG_2 & more");
            EXPECT_EQ(ratingOf(tree, 3), 0);
        }
    }
}

// Contents the program would not read are refused as it would refuse them, whatever their format,
// and a photo the file does not hold is named: the file stays as it was.
TEST_F(PhotoRatingTest, BothFormatsRefuseAlikeAndLeaveTheFile)
{
    using Format = PropertyListSerialization::Format;
    const PlistPtr library = PropertyListSerialization::fromData(libraryXml(3));
    const std::string path = m_path.toStdString();
    struct Case {
        PlistPtr contents;
        std::string key;
        std::string message; // the start of it
        bool truncated = false;
    };
    const std::vector<Case> cases = {
        {library, "9", "no photo 9 in " + path},
        {PlistValue::array({library}), "2", path + " is no album data file: its root is no dictionary"},
        {library, "2", path + " is no valid album data file: ", true},
    };
    for (const Format format : {Format::Xml, Format::Binary}) {
        for (const Case& test : cases) {
            QByteArray bytes = PropertyListSerialization::toData(test.contents, format);
            if (test.truncated)
                bytes.chop(bytes.size() / 3);
            writeBytes(m_path, bytes);
            bool told = false;
            Error error;
            EXPECT_FALSE(
                PhotoRating::apply(m_path, test.key, 3, &error, [&](const QString&) { return told = true; }));
            EXPECT_TRUE(error.localizedDescription().starts_with(test.message))
                << error.localizedDescription();
            // An XML file cut short after the photo's entry still tells the photo, so its rating
            // is not lost; a binary one cut short cannot be read at all.
            if (!test.truncated) {
                EXPECT_FALSE(told) << test.message;
            }
            EXPECT_EQ(contents(m_path), bytes) << test.message;
            EXPECT_EQ(QDir(m_folder.path()).entryList(QDir::Files | QDir::Hidden).join(' '),
                      ".lock AlbumData.xml");
        }
    }
}

// libplist ends a text at a NUL character: a binary file holding one would lose the rest of that
// text when written again, so it is refused and stays as it was.
TEST_F(PhotoRatingTest, ABinaryFileWithATextHoldingNulIsRefused)
{
    QByteArray bytes = PropertyListSerialization::toData(PropertyListSerialization::fromData(libraryXml(3)),
                                                         PropertyListSerialization::Format::Binary);
    ASSERT_EQ(bytes.count("/photos/IMG_3.JPG"), 1);
    QByteArray withNul("/photos/IMG_3.JPG");
    withNul[13] = '\0';
    bytes.replace("/photos/IMG_3.JPG", withNul);
    writeBytes(m_path, bytes);
    Error error;
    EXPECT_FALSE(PhotoRating::apply(m_path, "2", 3, &error));
    EXPECT_NE(error.localizedDescription().find("NUL character"), std::string::npos)
        << error.localizedDescription();
    EXPECT_EQ(contents(m_path), bytes);
}
