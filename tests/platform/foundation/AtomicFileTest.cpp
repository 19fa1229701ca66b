#include "platform/foundation/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class AtomicFileTest : public ::testing::Test {
protected:
    void TearDown() override { AtomicFile::setFaultForTesting(std::nullopt); }

    QStringList entries() const
    {
        return QDir(m_folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_folder;
    QString m_path = m_folder.filePath(QStringLiteral("AlbumData.xml"));
};

TEST_F(AtomicFileTest, ReplacesContentsAndKeepsPermissions)
{
    put(m_path, "old contents");
    ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), 0640), 0);
    ASSERT_TRUE(AtomicFile::write(m_path, "new"));
    EXPECT_EQ(contentsOf(m_path), "new");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(m_path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("AlbumData.xml")});
}

TEST_F(AtomicFileTest, CreatesAMissingFile)
{
    ASSERT_TRUE(AtomicFile::write(m_path, QByteArray(100000, 'x')));
    EXPECT_EQ(contentsOf(m_path), QByteArray(100000, 'x'));
}

TEST_F(AtomicFileTest, ReplacesTheTargetOfALinkAndKeepsTheLink)
{
    const QString target = m_folder.filePath(QStringLiteral("real.xml"));
    put(target, "old");
    ASSERT_TRUE(QFile::link(target, m_path));
    ASSERT_TRUE(AtomicFile::write(m_path, "new"));
    EXPECT_TRUE(QFileInfo(m_path).isSymLink());
    EXPECT_EQ(contentsOf(target), "new");
}

// Every step that can fail leaves the old file whole and no temporary file behind.
TEST_F(AtomicFileTest, AFailureAtAnyStepBeforeTheRenameKeepsTheOldFile)
{
    using Step = AtomicFile::Step;
    for (const Step step : {Step::Open, Step::Write, Step::Sync, Step::Close, Step::Rename}) {
        put(m_path, "old contents");
        AtomicFile::setFaultForTesting(AtomicFile::Fault{step, ENOSPC});
        Error error;
        EXPECT_FALSE(AtomicFile::write(m_path, "new contents", &error)) << int(step);
        EXPECT_EQ(contentsOf(m_path), "old contents") << int(step);
        EXPECT_EQ(entries(), QStringList{QStringLiteral("AlbumData.xml")}) << int(step);
        EXPECT_EQ(error.code(), AtomicFile::writeOutOfSpaceError) << int(step);
        EXPECT_NE(error.failureReason().find("AlbumData.xml"), std::string::npos) << error.failureReason();
    }
}

TEST_F(AtomicFileTest, AReplacementRefusedAtTheLastMomentKeepsTheOldFile)
{
    put(m_path, "old contents");
    QByteArray seen;
    const auto refuse = [&](Error* error) {
        // The new file is complete by now, beside the old one.
        for (const QString& entry : entries())
            if (entry != QStringLiteral("AlbumData.xml"))
                seen = contentsOf(m_folder.filePath(entry));
        *error = Error(Error::cocoaDomain, Error::fileReadCorruptFileError, "the old contents are unsound");
        return false;
    };
    Error error;
    EXPECT_FALSE(AtomicFile::write(m_path, "new contents", &error, refuse));
    EXPECT_EQ(seen, "new contents");
    EXPECT_EQ(error.localizedDescription(), "the old contents are unsound");
    EXPECT_EQ(contentsOf(m_path), "old contents");
    EXPECT_EQ(entries(), QStringList{QStringLiteral("AlbumData.xml")});

    EXPECT_TRUE(AtomicFile::write(m_path, "new contents", &error, [](Error*) { return true; }));
    EXPECT_EQ(contentsOf(m_path), "new contents");
}

TEST_F(AtomicFileTest, AFailedFolderFlushIsReported)
{
    AtomicFile::setFaultForTesting(AtomicFile::Fault{AtomicFile::Step::SyncFolder, EIO});
    Error error;
    EXPECT_FALSE(AtomicFile::write(m_path, "new", &error));
    EXPECT_EQ(error.code(), AtomicFile::writeUnknownError);
    EXPECT_NE(error.failureReason().find("flushing the folder"), std::string::npos);
}

TEST_F(AtomicFileTest, AFolderThatCannotBeWrittenIsAnErrorAndNothingChanges)
{
    const QString path = QStringLiteral("/proc/zuzire-cannot-exist/AlbumData.xml");
    Error error;
    EXPECT_FALSE(AtomicFile::write(path, "new", &error));
    EXPECT_EQ(error.domain(), Error::cocoaDomain);
    EXPECT_NE(error.failureReason().find("creating the new file"), std::string::npos);
}

TEST_F(AtomicFileTest, ANameAsLongAsTheFileSystemAllowsIsWritten)
{
    const QString longest = m_folder.filePath(QString(255, QLatin1Char('n')));
    Error error;
    ASSERT_TRUE(AtomicFile::write(longest, "new", &error)) << error.description();
    EXPECT_EQ(contentsOf(longest), "new");
    EXPECT_FALSE(AtomicFile::write(longest + QLatin1Char('n'), "new", &error));
    EXPECT_NE(error.failureReason().find("File name too long"), std::string::npos) << error.failureReason();
}

// What a writer killed before its rename left goes with the next write into that folder; nothing
// else does: not a new file of a writer still at work, nor a young one, nor other names.
TEST_F(AtomicFileTest, TemporaryFilesLeftByADeadWriterAreRemovedByTheNext)
{
    const auto age = [&](const QString& name, int seconds) {
        const timespec times[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(m_folder.filePath(name)).constData(), times, 0), 0);
    };
    const int old = AtomicFile::staleTemporarySeconds + 5;
    const QStringList stale{".zuzire-write-a1B2c3", ".zuzire-write-ZZZZZZ"};
    const QStringList kept{".zuzire-write-young1", ".zuzire-write-locked",  ".zuzire-write-abc",
                           ".zuzire-write-ab_cd!", ".AlbumData.xml.a1B2c3", "photo.jpg"};
    for (const QString& name : stale + kept) {
        put(m_folder.filePath(name), "left");
        if (name != QStringLiteral(".zuzire-write-young1"))
            age(name, old);
    }
    QFile locked(m_folder.filePath(QStringLiteral(".zuzire-write-locked")));
    ASSERT_TRUE(locked.open(QIODevice::ReadOnly));
    ASSERT_EQ(::flock(locked.handle(), LOCK_EX), 0);

    ASSERT_TRUE(AtomicFile::write(m_path, "new"));
    QStringList expected = kept + QStringList{QStringLiteral("AlbumData.xml")};
    QStringList left = entries();
    expected.sort();
    left.sort();
    EXPECT_EQ(left, expected);
}
} // namespace
