#include "tools/library/RegularFileReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(RegularFileReaderTest, SaysInOneLineWhatStoppedTheRead)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString small = folder.filePath("small");
    QFile file(small);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("twelve bytes") == 12);
    file.close();
    EXPECT_EQ(RegularFileReader::read(small), QByteArray("twelve bytes"));

    Error error;
    EXPECT_FALSE(RegularFileReader::read(small, &error, 4));
    EXPECT_EQ(error.localizedDescription(),
              small.toStdString() + " is too large (12 bytes; at most 4 are read)");
    const QString missing = folder.filePath("missing");
    EXPECT_FALSE(RegularFileReader::read(missing, &error));
    EXPECT_EQ(error.localizedDescription(), missing.toStdString() + " does not exist");
    EXPECT_EQ(error.code(), Error::fileReadNoSuchFileError);
    EXPECT_FALSE(RegularFileReader::read("/dev/zero", &error));
    EXPECT_EQ(error.localizedDescription(), "/dev/zero is a device, not a regular file");
}
