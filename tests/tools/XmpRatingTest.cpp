#include "tools/library/XmpRating.h"

#include "platform/foundation/AtomicFile.h"
#include "support/XmpTestFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {
using Naming = XmpRating::Naming;

class XmpRatingTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString path(const QString& name) const { return m_folder.filePath(name); }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray bytesOf(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }

    // The operations of the edit history, in order.
    static QStringList historyOf(const QByteArray& sidecar)
    {
        QStringList operations;
        static const QRegularExpression operation(QStringLiteral("darktable:operation=\"([a-z]+)\""));
        for (auto match = operation.globalMatch(QString::fromUtf8(sidecar)); match.hasNext();)
            operations << match.next().captured(1);
        return operations;
    }

    QTemporaryDir m_folder;
};
} // namespace

TEST_F(XmpRatingTest, SidecarNamesKeepOrReplaceTheExtension)
{
    EXPECT_EQ(XmpRating::sidecarPath("/p/IMG_0001.JPG", Naming::WholeName), "/p/IMG_0001.JPG.xmp");
    EXPECT_EQ(XmpRating::sidecarPath("/p/IMG_0001.JPG", Naming::BaseName), "/p/IMG_0001.xmp");
    EXPECT_EQ(XmpRating::sidecarPath("/p/a.b.nef", Naming::BaseName), "/p/a.b.xmp");
    EXPECT_EQ(XmpRating::sidecarPath("/p/noextension", Naming::BaseName), "/p/noextension.xmp");
    EXPECT_EQ(XmpRating::sidecarPath("/p/.hidden", Naming::BaseName), "/p/.hidden.xmp");
}

TEST_F(XmpRatingTest, AMissingSidecarIsCreatedInEitherNaming)
{
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    write("IMG_0002.JPG", XmpTestFiles::jpeg());
    Error error;
    ASSERT_TRUE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 4, &error))
        << error.localizedDescription();
    ASSERT_TRUE(XmpRating::writeSidecar(path("IMG_0002.JPG"), Naming::BaseName, -1, &error))
        << error.localizedDescription();

    EXPECT_TRUE(bytesOf("IMG_0001.JPG.xmp").contains("xmp:Rating=\"4\""));
    EXPECT_TRUE(bytesOf("IMG_0002.xmp").contains("xmp:Rating=\"-1\""));
    EXPECT_FALSE(QFile::exists(path("IMG_0001.xmp")));
    // Either naming is read, the one asked for first.
    EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::BaseName), 4);
    EXPECT_EQ(XmpRating::read(path("IMG_0002.JPG"), Naming::WholeName), -1);
    write("IMG_0002.JPG.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"2\"\n"));
    EXPECT_EQ(XmpRating::read(path("IMG_0002.JPG"), Naming::WholeName), 2);
    EXPECT_EQ(XmpRating::read(path("IMG_0002.JPG"), Naming::BaseName), -1);
}

TEST_F(XmpRatingTest, AnEditHistoryAndEveryOtherPropertySurvive)
{
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    const QByteArray before = XmpTestFiles::darktableSidecar();
    write("IMG_0001.JPG.xmp", before);
    ASSERT_TRUE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 5));
    // Only the rating's text changed.
    QByteArray expected = before;
    expected.replace("xmp:Rating=\"1\"", "xmp:Rating=\"5\"");
    EXPECT_EQ(bytesOf("IMG_0001.JPG.xmp"), expected);
    EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 5);

    // Without a rating to change, the same properties are written anew, the history in its order.
    write("IMG_0001.JPG.xmp", XmpTestFiles::darktableSidecar(""));
    ASSERT_TRUE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 3));
    const QByteArray rewritten = bytesOf("IMG_0001.JPG.xmp");
    EXPECT_EQ(historyOf(rewritten), QStringList({"exposure", "colorbalancergb", "sharpen"}));
    for (const char* kept : {"darktable:history_end=\"3\"", "darktable:multi_name=\"basic colorfulness\"",
                             "darktable:params=\"gz04eJxjYGiwZ2BgcGAAAQAOEAFx\"", "<rdf:li>harbour</rdf:li>",
                             "xmpMM:DerivedFrom=\"IMG_0001.JPG\"", "darktable:masks_history"})
        EXPECT_TRUE(rewritten.contains(kept)) << kept << "\n" << rewritten.constData();
    EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 3);
}

TEST_F(XmpRatingTest, AMalformedOrReadOnlySidecarIsAnErrorAndLeftAsItWas)
{
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    // Broken XML, and other programs' XML that mentions the RDF namespace and even a rating.
    const QByteArray rdf = "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'";
    const QByteArray rated = "<rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='3'/>";
    for (const QByteArray& broken :
         {QByteArray("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\""
                     "http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Descr"),
          QByteArray("not XMP at all\n"), "<notes " + rdf + "><rdf:RDF>" + rated + "</rdf:RDF></notes>",
          "<html><body><p>" + rdf + "</p><rdf:RDF " + rdf + ">" + rated + "</rdf:RDF></body></html>",
          "<x:xmpmeta xmlns:x='adobe:ns:meta/'><notes/><rdf:RDF " + rdf + ">" + rated +
              "</rdf:RDF></x:xmpmeta>",
          "<x:xmpmeta xmlns:x='adobe:ns:meta/'><x:other " + rdf + ">" + rated + "</x:other></x:xmpmeta>",
          "<rdf:RDF " + rdf + ">" + rated + "<rdf:Seq/></rdf:RDF>",
          "<x:xmpmeta xmlns:x='other:ns/'><rdf:RDF " + rdf + ">" + rated + "</rdf:RDF></x:xmpmeta>",
          "<rdf:RDF xmlns:rdf='other:ns/'>" + rated + "</rdf:RDF>"}) {
        write("IMG_0001.JPG.xmp", broken);
        Error error;
        EXPECT_FALSE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 2, &error));
        EXPECT_EQ(error.localizedDescription(), "the sidecar " + path("IMG_0001.JPG.xmp").toStdString() +
                                                    " is no valid XMP; it is left as it is");
        EXPECT_EQ(bytesOf("IMG_0001.JPG.xmp"), broken) << broken.constData();
        // Reading goes on to the photo's own metadata and says why.
        QString problem;
        EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName, &problem), XmpRating::none);
        EXPECT_TRUE(problem.contains("is no valid XMP")) << problem.toStdString();
    }

    const QByteArray sidecar = XmpTestFiles::darktableSidecar();
    write("IMG_0001.JPG.xmp", sidecar);
    ASSERT_TRUE(QFile::setPermissions(path("IMG_0001.JPG.xmp"), QFile::ReadOwner | QFile::ReadGroup));
    Error error;
    EXPECT_FALSE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 2, &error));
    EXPECT_EQ(error.localizedDescription(),
              "the sidecar " + path("IMG_0001.JPG.xmp").toStdString() + " is read-only; it is left as it is");
    EXPECT_EQ(bytesOf("IMG_0001.JPG.xmp"), sidecar);
    EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 1);

    // A write that fails half-way leaves the old sidecar.
    ASSERT_TRUE(QFile::setPermissions(path("IMG_0001.JPG.xmp"), QFile::ReadOwner | QFile::WriteOwner));
    AtomicFile::setFaultForTesting(AtomicFile::Fault{AtomicFile::Step::Sync, ENOSPC});
    EXPECT_FALSE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 2, &error));
    AtomicFile::setFaultForTesting(std::nullopt);
    EXPECT_NE(error.failureReason().find(path("IMG_0001.JPG.xmp").toStdString()), std::string::npos);
    EXPECT_EQ(bytesOf("IMG_0001.JPG.xmp"), sidecar);
}

// Files a rating must not change: a read-only photo, as a read-only sidecar is, and links that
// lead out of the photo's folder, where the rating would overwrite somebody else's file.
TEST_F(XmpRatingTest, FilesThatAreNotThePhotosOwnToWriteAreLeftAsTheyAre)
{
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("notes.txt"));
    const QByteArray notes("somebody else's notes\n");
    struct Case {
        const char* name;
        bool intoPhoto;
        std::function<void()> prepare;
        std::string message;
    };
    const std::string sidecar = path("IMG_0001.JPG.xmp").toStdString();
    const std::string photo = path("IMG_0001.JPG").toStdString();
    const Case cases[] = {
        {"read-only photo", true,
         [&] {
             ASSERT_TRUE(QFile::setPermissions(path("IMG_0001.JPG"), QFile::ReadOwner | QFile::ReadGroup));
         },
         "the photo " + photo + " is read-only; it is left as it is"},
        {"sidecar linked out", false, [&] { ASSERT_TRUE(QFile::link(outside, path("IMG_0001.JPG.xmp"))); },
         "the sidecar " + sidecar + " is a symbolic link to " + outside.toStdString() +
             ", outside the photo\u2019s folder; it is left as it is"},
        {"sidecar linked to nothing outside", false,
         [&] {
             ASSERT_TRUE(
                 QFile::link(elsewhere.filePath(QStringLiteral("new.xmp")), path("IMG_0001.JPG.xmp")));
         },
         "the sidecar " + sidecar + " is a symbolic link to " +
             elsewhere.filePath(QStringLiteral("new.xmp")).toStdString() +
             ", outside the photo\u2019s folder; it is left as it is"},
        {"photo linked out", true,
         [&] {
             ASSERT_TRUE(QFile::remove(path("IMG_0001.JPG")));
             ASSERT_TRUE(QFile::copy(outside, elsewhere.filePath(QStringLiteral("IMG.JPG"))));
             ASSERT_TRUE(QFile::link(elsewhere.filePath(QStringLiteral("IMG.JPG")), path("IMG_0001.JPG")));
         },
         "the photo " + photo + " is a symbolic link to " +
             elsewhere.filePath(QStringLiteral("IMG.JPG")).toStdString() +
             ", outside the photo\u2019s folder; it is left as it is"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        for (const QString& name : QDir(m_folder.path()).entryList(QDir::Files | QDir::System | QDir::Hidden))
            QFile::remove(path(name));
        write("IMG_0001.JPG", XmpTestFiles::jpeg());
        {
            QFile file(outside);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(notes) == notes.size());
        }
        each.prepare();
        Error error;
        EXPECT_FALSE(each.intoPhoto
                         ? XmpRating::writeIntoPhoto(path("IMG_0001.JPG"), 4, &error)
                         : XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 4, &error));
        EXPECT_EQ(error.localizedDescription(), each.message);
        EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden).size(),
                  QFile::exists(elsewhere.filePath(QStringLiteral("IMG.JPG"))) ? 2 : 1);
        QFile kept(outside);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), notes);
    }
    ASSERT_TRUE(QFile::setPermissions(path("IMG_0001.JPG"), QFile::ReadOwner | QFile::WriteOwner));

    // A link that stays in the photo's folder is written through, as before.
    for (const QString& name : QDir(m_folder.path()).entryList(QDir::Files | QDir::System | QDir::Hidden))
        QFile::remove(path(name));
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    write("shared.xmp", XmpTestFiles::darktableSidecar());
    ASSERT_TRUE(QFile::link(path("shared.xmp"), path("IMG_0001.JPG.xmp")));
    Error error;
    ASSERT_TRUE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 4, &error))
        << error.localizedDescription();
    EXPECT_TRUE(QFileInfo(path("IMG_0001.JPG.xmp")).isSymLink());
    EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 4);
}

TEST_F(XmpRatingTest, EveryFormOfTheRatingIsEditedInPlace)
{
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    const QByteArray meta = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
    const QByteArray end = "</rdf:RDF></x:xmpmeta>";
    const QByteArray xap = " xmlns:xap='http://ns.adobe.com/xap/1.0/'";
    const QByteArray xmp = " xmlns:xmp='http://ns.adobe.com/xap/1.0/'";
    const QByteArray history = "<dt:history xmlns:dt='http://darktable.sf.net/'><rdf:Seq><rdf:li "
                               "xmp:Rating='1'/></rdf:Seq></dt:history>";
    struct Case {
        QByteArray before, after; // empty `after`: written anew
    } cases[] = {
        {meta + "<rdf:Description" + xap + " xap:Rating='2'/>" + end,
         meta + "<rdf:Description" + xap + " xap:Rating='4'/>" + end},
        {meta + "<rdf:Description" + xmp + "><xmp:Rating>2</xmp:Rating></rdf:Description>" + end,
         meta + "<rdf:Description" + xmp + "><xmp:Rating>4</xmp:Rating></rdf:Description>" + end},
        {meta + "<rdf:Description" + xmp + "><xmp:Rating rdf:datatype='x' xml:lang='en'>2</xmp:Rating>" +
             "</rdf:Description>" + end,
         meta + "<rdf:Description" + xmp + "><xmp:Rating rdf:datatype='x' xml:lang='en'>4</xmp:Rating>" +
             "</rdf:Description>" + end},
        // The one rating of the packet, not a field of a structure that has one.
        {"<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description" + xmp +
             " xmp:Rating='-1'>" + history + "</rdf:Description></rdf:RDF>",
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description" + xmp +
             " xmp:Rating='4'>" + history + "</rdf:Description></rdf:RDF>"},
        {meta + "<rdf:Description" + xmp + ">" + history + "</rdf:Description>" + end,
         meta + "<rdf:Description" + xmp + " xmp:Rating=\"4\">" + history + "</rdf:Description>" + end},
        {meta + "<rdf:Description rdf:about=''/>" + end,
         meta +
             "<rdf:Description rdf:about='' xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>" +
             end},
        {meta + "<rdf:Description rdf:about='' xmlns:xmp='http://example.com/other/' xmp:Label='Red'/>" + end,
         meta +
             "<rdf:Description rdf:about='' xmlns:xmp='http://example.com/other/' xmp:Label='Red' "
             "xmlns:xap=\"http://ns.adobe.com/xap/1.0/\" xap:Rating=\"4\"/>" +
             end},
        // Forms left to the metadata library.
        {meta + "<rdf:Description" + xmp + "><xmp:Rating><![CDATA[2]]></xmp:Rating></rdf:Description>" + end,
         {}},
        {meta + "<rdf:Description" + xmp +
             " xmlns:xmp2='http://ns.adobe.com/xap/1.0/' xmp:Rating='2' "
             "xmp:Label='Red'/>" +
             end,
         {}},
    };
    for (const Case& each : cases) {
        write("IMG_0001.JPG.xmp", each.before);
        Error error;
        EXPECT_TRUE(XmpRating::writeSidecar(path("IMG_0001.JPG"), Naming::WholeName, 4, &error))
            << each.before.constData() << ": " << error.localizedDescription();
        if (!each.after.isEmpty()) {
            EXPECT_EQ(bytesOf("IMG_0001.JPG.xmp"), each.after);
        }
        EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 4) << each.before.constData();
    }
}

TEST_F(XmpRatingTest, ASidecarChangedAfterItsWriteWasPreparedIsPreparedAgain)
{
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    write("IMG_0001.JPG.xmp", XmpTestFiles::darktableSidecar());
    const auto prepared = XmpRating::prepareSidecar(path("IMG_0001.JPG"), Naming::WholeName, 4);
    // Another program adds a keyword meanwhile, the size unchanged.
    QByteArray changed = XmpTestFiles::darktableSidecar();
    changed.replace("harbour", "lantern");
    write("IMG_0001.JPG.xmp", changed);
    ASSERT_TRUE(XmpRating::writePrepared(prepared));
    EXPECT_EQ(bytesOf("IMG_0001.JPG.xmp"), changed.replace("xmp:Rating=\"1\"", "xmp:Rating=\"4\""));
}

// What a sidecar held when the write was prepared, as if it had changed since in a way its file,
// size and times do not show: its bytes tell where it had changed shortly before it was seen, and
// are not read again where its times lie far enough before that.
TEST_F(XmpRatingTest, APreparedSidecarIsReadAgainOnlyWhereItsTimesCannotTellAChange)
{
    write("IMG_0001.JPG", XmpTestFiles::jpeg());
    const QByteArray sidecar = XmpTestFiles::darktableSidecar();
    const struct {
        const char* name;
        int64_t seenAfterChange; // nanoseconds
        const char* keyword;
    } cases[] = {{"changed just before", 0, "harbour"}, {"changed long before", int64_t(3) << 30, "lantern"}};
    for (const auto& each : cases) {
        write("IMG_0001.JPG.xmp", sidecar);
        auto prepared = XmpRating::prepareSidecar(path("IMG_0001.JPG"), Naming::WholeName, 4);
        ASSERT_TRUE(prepared.old && prepared.edit);
        prepared.old->replace("harbour", "lantern");
        if (each.seenAfterChange)
            prepared.seenAt = prepared.seen.changed + each.seenAfterChange;
        ASSERT_TRUE(XmpRating::writePrepared(prepared));
        EXPECT_TRUE(bytesOf("IMG_0001.JPG.xmp").contains(each.keyword)) << each.name;
        EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 4) << each.name;
    }
}

TEST_F(XmpRatingTest, ARatingIsReadFromTheSidecarElseThePhotosXmpElseItsExif)
{
    for (const int stars : {1, 2, 3, 4, 5}) {
        write("exif.jpg", XmpTestFiles::jpegWithExifRating(stars));
        EXPECT_EQ(XmpRating::read(path("exif.jpg"), Naming::WholeName), stars);
    }
    for (const int rating : {-1, 1, 5}) {
        write("xmp.jpg", XmpTestFiles::jpegWithXmpRating(rating));
        EXPECT_EQ(XmpRating::read(path("xmp.jpg"), Naming::WholeName), rating);
    }
    write("plain.jpg", XmpTestFiles::jpeg());
    EXPECT_EQ(XmpRating::read(path("plain.jpg"), Naming::WholeName), XmpRating::none);
    write("movie.mov", "no image at all");
    EXPECT_EQ(XmpRating::read(path("movie.mov"), Naming::WholeName), XmpRating::none);

    // The sidecar comes first; one without a rating leaves the photo's own.
    write("xmp.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"3\"\n"));
    EXPECT_EQ(XmpRating::read(path("xmp.jpg"), Naming::WholeName), 3);
    write("xmp.jpg.xmp", XmpTestFiles::darktableSidecar(""));
    EXPECT_EQ(XmpRating::read(path("xmp.jpg"), Naming::WholeName), 5);
    // Out of range is no rating.
    write("xmp.jpg.xmp", XmpTestFiles::darktableSidecar("   xmp:Rating=\"9\"\n"));
    EXPECT_EQ(XmpRating::read(path("xmp.jpg"), Naming::WholeName), XmpRating::none);
}

TEST_F(XmpRatingTest, ARatingWrittenIntoThePhotoLeavesItsPixels)
{
    write("IMG_0001.JPG", XmpTestFiles::jpegWithExifRating(1));
    const QImage before(path("IMG_0001.JPG"));
    ASSERT_FALSE(before.isNull());
    const QByteArray bytesBefore = bytesOf("IMG_0001.JPG");

    Error error;
    ASSERT_TRUE(XmpRating::writeIntoPhoto(path("IMG_0001.JPG"), 4, &error)) << error.localizedDescription();
    EXPECT_NE(bytesOf("IMG_0001.JPG"), bytesBefore);
    EXPECT_EQ(QImage(path("IMG_0001.JPG")), before);
    EXPECT_EQ(XmpRating::read(path("IMG_0001.JPG"), Naming::WholeName), 4);
    // Into the photo only: no sidecar appears.
    EXPECT_FALSE(QFile::exists(path("IMG_0001.JPG.xmp")));

    // A format whose metadata cannot be written is an error and keeps the file.
    QImage bitmap(8, 8, QImage::Format_RGB32);
    bitmap.fill(Qt::blue);
    ASSERT_TRUE(bitmap.save(path("photo.bmp")));
    const QByteArray bmp = bytesOf("photo.bmp");
    EXPECT_FALSE(XmpRating::writeIntoPhoto(path("photo.bmp"), 4, &error));
    EXPECT_NE(error.localizedDescription().find(path("photo.bmp").toStdString()), std::string::npos);
    EXPECT_EQ(bytesOf("photo.bmp"), bmp);
}

TEST_F(XmpRatingTest, AChangeElsewhereSinceTheLastImportWins)
{
    // ours, seen at the last import, outside now -> kept
    EXPECT_EQ(XmpRating::reconciled(0, 0, 3), 3);   // rated elsewhere before the first import
    EXPECT_EQ(XmpRating::reconciled(0, 0, -1), -1); // rejected elsewhere
    EXPECT_EQ(XmpRating::reconciled(4, 3, 3), 4);   // ours changed, the sidecar not: ours
    EXPECT_EQ(XmpRating::reconciled(4, 4, 2), 2);   // changed elsewhere after our rating
    EXPECT_EQ(XmpRating::reconciled(4, 3, 2), 2);   // both changed: elsewhere wins
    EXPECT_EQ(XmpRating::reconciled(4, 3, 0), 4);   // a rating removed elsewhere never removes ours
}
