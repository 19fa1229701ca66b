#include "app/WindowIcon.h"

#include "platform/foundation/Resources.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The icon is read without Qt's image reader; Qt's reader, an independent decoder, is the judge.
TEST(WindowIconTest, ReadsTheProgramsIconAsQtsOwnReaderDoes)
{
    const QString path = Resources::path(QStringLiteral("zuzire.png"));
    const QImage ours = WindowIcon::readPng(path);
    const QImage qts = QImage(path).convertToFormat(QImage::Format_RGBA8888);
    ASSERT_FALSE(qts.isNull());
    ASSERT_EQ(ours.size(), QSize(128, 128));
    EXPECT_EQ(ours.format(), QImage::Format_RGBA8888);
    EXPECT_TRUE(ours == qts);

    const QIcon icon = WindowIcon::fromPngFile(path);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(128, 128)});
}

TEST(WindowIconTest, KeepsEveryPixelsColourAndTransparency)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Two rows of three: opaque red, green and blue; half-transparent white, clear, opaque grey.
    QImage written(3, 2, QImage::Format_RGBA8888);
    const QRgb pixels[] = {qRgba(255, 0, 0, 255),     qRgba(0, 255, 0, 255), qRgba(0, 0, 255, 255),
                           qRgba(255, 255, 255, 128), qRgba(0, 0, 0, 0),     qRgba(80, 80, 80, 255)};
    for (int i = 0; i < 6; ++i)
        written.setPixel(i % 3, i / 3, pixels[i]);
    const QString path = folder.filePath(QStringLiteral("icon.png"));
    ASSERT_TRUE(written.save(path, "PNG"));

    const QImage read = WindowIcon::readPng(path);
    ASSERT_EQ(read.size(), QSize(3, 2));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(read.pixel(i % 3, i / 3), pixels[i]) << "pixel " << i;
}

TEST(WindowIconTest, AMissingOrBrokenFileGivesNoIcon)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString missing = folder.filePath(QStringLiteral("missing.png"));
    EXPECT_TRUE(WindowIcon::readPng(missing).isNull());
    EXPECT_TRUE(WindowIcon::fromPngFile(missing).isNull());

    // A PNG signature followed by nonsense, and a file cut off in the middle of its pixels.
    const QString broken = folder.filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray nonsense("\x89PNG\r\n\x1a\n nonsense after the signature");
    ASSERT_EQ(file.write(nonsense), nonsense.size());
    file.close();
    EXPECT_TRUE(WindowIcon::readPng(broken).isNull());

    QFile icon(Resources::path(QStringLiteral("zuzire.png")));
    ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
    const QByteArray whole = icon.readAll();
    ASSERT_GT(whole.size(), 200);
    const QString cut = folder.filePath(QStringLiteral("cut.png"));
    QFile cutFile(cut);
    ASSERT_TRUE(cutFile.open(QIODevice::WriteOnly));
    ASSERT_EQ(cutFile.write(whole.left(whole.size() / 2)), whole.size() / 2);
    cutFile.close();
    EXPECT_TRUE(WindowIcon::readPng(cut).isNull());
    EXPECT_TRUE(WindowIcon::fromPngFile(cut).isNull());
}
