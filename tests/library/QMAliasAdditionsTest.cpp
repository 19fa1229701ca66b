#include "library/QMAliasAdditions.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

class QMAliasAdditionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        QDir(m_folder.path()).mkdir("photos");
        QDir(m_folder.path()).mkdir("aliases");
        m_image = m_folder.filePath("photos/IMG 0001.png");
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        ASSERT_TRUE(image.save(m_image));
    }

    QString path(const QString& relative) const { return m_folder.filePath(relative); }

    // `linkPath` (relative to the folder) leads to `target`, which is kept as written.
    void link(const QString& target, const QString& linkPath) const
    {
        ASSERT_EQ(
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path(linkPath)).constData()),
            0);
    }

    static QUrl canonicalUrl(const QString& file)
    {
        return QUrl::fromLocalFile(QFileInfo(file).canonicalFilePath());
    }

    QTemporaryDir m_folder;
    QString m_image;
};

TEST_F(QMAliasAdditionsTest, AFileThatIsNoAliasGivesItsOwnUrl)
{
    for (const QUrl& url :
         {QUrl::fromLocalFile(m_image), QUrl("file://localhost" + QUrl::fromLocalFile(m_image).path()),
          QUrl::fromLocalFile(path("photos"))}) {
        Error error;
        const auto resolved = qm_urlByResolvingAliasFile(url, &error);
        ASSERT_TRUE(resolved.has_value()) << url.toString().toStdString();
        EXPECT_EQ(*resolved, url);
        EXPECT_EQ(resolved->toString(), url.toString());
    }
}

TEST_F(QMAliasAdditionsTest, AChainOfLinksIsFollowedToTheImage)
{
    link(m_image, "aliases/first");
    // Relative targets are read from the link's own folder.
    link("first", "aliases/second");
    link("../aliases/second", "photos/third");

    for (const char* start : {"aliases/first", "aliases/second", "photos/third"}) {
        Error error;
        const auto resolved = qm_urlByResolvingAliasFile(QUrl::fromLocalFile(path(start)), &error);
        ASSERT_TRUE(resolved.has_value()) << start << ": " << error.description();
        EXPECT_EQ(*resolved, canonicalUrl(m_image));
    }
    const QUrl viaLocalhost("file://localhost" + QUrl::fromLocalFile(path("aliases/second")).path());
    EXPECT_EQ(qm_urlByResolvingAliasFile(viaLocalhost), canonicalUrl(m_image));
}

TEST_F(QMAliasAdditionsTest, AMissingFileGivesTheNoSuchFileError)
{
    const QUrl missing = QUrl::fromLocalFile(path("photos/gone.jpg"));
    Error error;
    EXPECT_FALSE(qm_urlByResolvingAliasFile(missing, &error).has_value());
    EXPECT_EQ(error.domain(), Error::posixDomain);
    EXPECT_EQ(error.code(), 2);
    EXPECT_EQ(error.url(), missing);

    EXPECT_FALSE(qm_urlByResolvingAliasFile(missing).has_value());

    const QUrl notAFile("https://example.org/photo.jpg");
    EXPECT_FALSE(qm_urlByResolvingAliasFile(notAFile, &error).has_value());
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_EQ(error.url(), notAFile);
}

TEST_F(QMAliasAdditionsTest, LoopsAndBrokenLinksFailWithTheirUrl)
{
    link(path("aliases/pong"), "aliases/ping");
    link("ping", "aliases/pong");
    link("self", "aliases/self");
    for (const char* start : {"aliases/ping", "aliases/self"}) {
        const QUrl url = QUrl::fromLocalFile(path(start));
        Error error;
        EXPECT_FALSE(qm_urlByResolvingAliasFile(url, &error).has_value());
        EXPECT_EQ(error.domain(), Error::posixDomain);
        EXPECT_EQ(error.code(), ELOOP);
        EXPECT_EQ(error.url(), url);
    }

    link("../photos/deleted.jpg", "aliases/broken");
    link("broken", "aliases/toBroken");
    for (const char* start : {"aliases/broken", "aliases/toBroken"}) {
        const QUrl url = QUrl::fromLocalFile(path(start));
        Error error;
        EXPECT_FALSE(qm_urlByResolvingAliasFile(url, &error).has_value());
        EXPECT_EQ(error.code(), ENOENT);
        EXPECT_EQ(error.url(), url);
        EXPECT_FALSE(error.localizedDescription().empty());
    }
}

// The path form answers as the URL form does, with the path as given when it is no link: names with
// characters a URL would encode (a space, '#', '%') come back unchanged.
TEST_F(QMAliasAdditionsTest, ThePathFormResolvesAndFailsAsTheUrlForm)
{
    const QString odd = path("photos/IMG #1 100%.png");
    ASSERT_TRUE(QFile::copy(m_image, odd));
    for (const QString& file : {m_image, odd}) {
        Error error;
        const auto resolved = qm_pathByResolvingAliasFile(file, &error);
        ASSERT_TRUE(resolved.has_value()) << error.description();
        EXPECT_EQ(*resolved, file);
    }
    link(odd, "aliases/first");
    link("first", "aliases/second");
    EXPECT_EQ(qm_pathByResolvingAliasFile(path("aliases/second")), QFileInfo(odd).canonicalFilePath());

    link("self", "aliases/self");
    link("../photos/deleted.jpg", "aliases/broken");
    const std::pair<const char*, int> failures[] = {
        {"photos/gone.jpg", ENOENT}, {"aliases/self", ELOOP}, {"aliases/broken", ENOENT}};
    for (const auto& [start, code] : failures) {
        Error error;
        EXPECT_FALSE(qm_pathByResolvingAliasFile(path(start), &error).has_value()) << start;
        EXPECT_EQ(error.domain(), Error::posixDomain);
        EXPECT_EQ(error.code(), code) << start;
        EXPECT_EQ(error.url(), QUrl::fromLocalFile(path(start)));
    }
    EXPECT_FALSE(qm_pathByResolvingAliasFile(QString()).has_value());
}
