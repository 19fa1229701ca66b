#include "library/QMStringFeatures.h"

#include <cstring>
#include <gtest/gtest.h>

TEST(QMStringFeaturesTest, LastPathComponent)
{
    EXPECT_EQ(qm_lastPathComponent(QUrl("file:///Photos/IMG_0001.JPG")), "IMG_0001.JPG");
    EXPECT_EQ(qm_lastPathComponent(QUrl("file:///Photos/2009//")), "2009");
    EXPECT_EQ(qm_lastPathComponent(QUrl("file:///")), "/");
    EXPECT_EQ(qm_lastPathComponent(QUrl("file:///My%20Photos")), "My Photos");
}

TEST(QMStringFeaturesTest, DeletingLastPathComponent)
{
    EXPECT_EQ(qm_URLByDeletingLastPathComponent(QUrl("file:///Photos/IMG_0001.JPG")), QUrl("file:///Photos"));
    EXPECT_EQ(qm_URLByDeletingLastPathComponent(QUrl("file:///Photos/2009/")), QUrl("file:///Photos"));
    EXPECT_EQ(qm_URLByDeletingLastPathComponent(QUrl("file:///Photos")), QUrl("file:///"));
    EXPECT_EQ(qm_URLByDeletingLastPathComponent(QUrl("file:///")), QUrl("file:///"));
    // Only scheme, host and path are carried over.
    EXPECT_EQ(qm_URLByDeletingLastPathComponent(QUrl("file://localhost/Photos/a.jpg")),
              QUrl("file://localhost/Photos"));
    EXPECT_EQ(qm_URLByDeletingLastPathComponent(QUrl("http://user@host:8080/a/b?query#part")),
              QUrl("http://host/a"));
}

TEST(QMStringFeaturesTest, AppendingPathComponentPutsExactlyOneSlash)
{
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///"), "x").path(), "/x");
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///Photos/"), "x"), QUrl("file:///Photos/x"));
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///Photos"), "x"), QUrl("file:///Photos/x"));
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///Photos//"), "/x/"), QUrl("file:///Photos/x"));
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///Photos/"), ""), QUrl("file:///Photos"));
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///"), ""), QUrl("file:///"));
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("file:///My Photos"), "a b.jpg").toLocalFile(),
              "/My Photos/a b.jpg");
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("http://user@host:8080/a?query#part"), "b"),
              QUrl("http://host/a/b"));
    EXPECT_EQ(qm_URLByAppendingPathComponent(QUrl("http://host"), "b"), QUrl("http://host/b"));
}

TEST(QMStringFeaturesTest, FileSystemRepresentationIsZeroTerminatedUtf8)
{
    const QByteArray path =
        qm_fileSystemRepresentation(QUrl::fromLocalFile(QString::fromUtf8("/Fotos/Ärger 1.jpg")));
    EXPECT_EQ(path, QByteArray("/Fotos/\xc3\x84rger 1.jpg"));
    EXPECT_EQ(std::strlen(path.constData()), std::size_t(path.size()));
}
