#include "platform/foundation/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(RegularFileTest, AFailureSaysWhatWasFoundWithoutChangingItsWords)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString pipe = folder.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString small = folder.filePath("small");
    QFile file(small);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("twelve bytes") == 12);
    file.close();

    using Failure = RegularFile::Failure;
    const auto causeOfReading = [](const QString& path, qint64 limit = RegularFile::maximumSize) {
        Error error;
        EXPECT_FALSE(RegularFile::read(path, &error, {}, limit)) << path.toStdString();
        return std::pair(RegularFile::causeOf(error), error.localizedDescription());
    };
    const auto [fifo, fifoWords] = causeOfReading(pipe);
    ASSERT_TRUE(fifo);
    EXPECT_EQ(fifo->failure, Failure::Fifo);
    EXPECT_EQ(fifoWords,
              "The file \u201cpipe\u201d couldn\u2019t be opened because it is a named pipe (FIFO), not "
              "a regular file.");
    EXPECT_EQ(causeOfReading(folder.path()).first->failure, Failure::Folder);
    EXPECT_EQ(causeOfReading("/dev/zero").first->failure, Failure::Device);
    EXPECT_EQ(causeOfReading(small, 4).first->failure, Failure::TooLarge);
    const auto [missing, missingWords] = causeOfReading(folder.filePath("missing"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->failure, Failure::Open);
    EXPECT_EQ(missing->code, ENOENT);
    EXPECT_EQ(missingWords,
              "The file \u201cmissing\u201d couldn\u2019t be opened because there is no such file.");

    // Errors of other origins carry no cause.
    EXPECT_FALSE(RegularFile::causeOf(Error(Error::cocoaDomain, Error::fileReadUnknownError, "other")));
}

// Compared a piece at a time: a difference in any piece, at either side of a piece's edge or in
// the last byte, and a file longer or shorter by one byte, are told.
TEST(RegularFileTest, AFileHoldsExactlyTheBytesItWasWrittenWith)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("bytes");
    QByteArray written(qsizetype(600) << 10, '\0');
    for (qsizetype at = 0; at < written.size(); ++at)
        written[at] = char(at * 7 % 251);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(written) == written.size());
    file.close();

    const qsizetype piece = qsizetype(256) << 10;
    const auto flipped = [&](qsizetype at) {
        QByteArray other = written;
        other[at] = char(other.at(at) ^ 1);
        return other;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
        bool held;
    };
    const Case cases[] = {
        {"the same", written, true},
        {"first byte", flipped(0), false},
        {"before a piece's edge", flipped(piece - 1), false},
        {"after a piece's edge", flipped(piece), false},
        {"last byte", flipped(written.size() - 1), false},
        {"one byte longer", written + 'x', false},
        {"one byte shorter", written.chopped(1), false},
        {"nothing", QByteArray(), false},
    };
    for (const Case& each : cases)
        EXPECT_EQ(RegularFile::holds(path, each.bytes), each.held) << each.name;

    const QString empty = folder.filePath("empty");
    QFile emptyFile(empty);
    ASSERT_TRUE(emptyFile.open(QIODevice::WriteOnly));
    emptyFile.close();
    EXPECT_TRUE(RegularFile::holds(empty, QByteArray()));
    EXPECT_FALSE(RegularFile::holds(empty, "x"));
    EXPECT_FALSE(RegularFile::holds(folder.filePath("missing"), QByteArray()));
}
