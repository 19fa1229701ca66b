#include "support/TemporaryConfigHome.h"
#include "support/XmpTestFiles.h"
#include "support/ZuzireProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {
// The real library tool imports a generated folder of JPEGs, the real program rates them in one
// pass, and ExifTool, which shares no code with us, reads the sidecars the ratings went to.
class ZuzireSidecarEndToEndTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
        if (m_exiftool.isEmpty())
            GTEST_SKIP() << "exiftool is missing: install libimage-exiftool-perl (scripts/setup.sh) to check "
                            "the sidecars with an independent reader";
        ASSERT_TRUE(m_folder.isValid());
        QDir().mkpath(path("Photos"));
        for (int i = 1; i <= 4; ++i)
            write(QStringLiteral("Photos/IMG_000%1.JPG").arg(i), XmpTestFiles::jpeg(60 + i, 40));
        // Edited elsewhere, not yet rated: its history must outlive the rating.
        write("Photos/IMG_0002.JPG.xmp", XmpTestFiles::darktableSidecar(""));
    }

    QString path(const QString& relative) const { return m_folder.filePath(relative); }

    void write(const QString& relative, const QByteArray& bytes) const
    {
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", m_config.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        return environment;
    }

    // Runs a program to its end; its standard output.
    QByteArray runProcess(const QString& program, const QStringList& arguments, int* status) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
        *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        const QByteArray errors = process.readAllStandardError();
        if (*status != 0)
            ADD_FAILURE() << program.toStdString() << ": " << errors.constData();
        return process.readAllStandardOutput();
    }

    // ExifTool's reading of a file's XMP, structures kept whole, values as numbers where they are.
    QJsonObject exiftool(const QString& file) const
    {
        int status = 0;
        const QByteArray json = runProcess(m_exiftool, {"-j", "-struct", "-n", "-XMP:all", file}, &status);
        return QJsonDocument::fromJson(json).array().at(0).toObject();
    }

    TemporaryConfigHome m_config;
    QTemporaryDir m_folder;
    QString m_exiftool;
};
} // namespace

TEST_F(ZuzireSidecarEndToEndTest, ExifToolReadsEveryRatingOfAPassFromTheSidecars)
{
    const QJsonObject editedBefore = exiftool(path("Photos/IMG_0002.JPG.xmp"));
    ASSERT_EQ(editedBefore["History"].toArray().size(), 3);
    int status = 0;
    runProcess(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire-library",
               {"import", "--library", path("Library"), path("Photos")}, &status);
    ASSERT_EQ(status, 0);

    // One pass: Up, Down, Up, Down, then confirm.
    const ProgramRun run = runZuzire(QStringLiteral("wait 2.5\nkey Return\nwait 2.5\n"
                                                    "key Up\nkey Down\nkey Up\nkey Down\nwait 0.3\n"
                                                    "key Return\nwait 2.5\ntree\nquit\n"),
                                     {"-NumberOfStages", "1"}, m_config.path());
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    std::map<std::string, int> ratings;
    for (int i = 1; i <= 4; ++i) {
        const QString sidecar = path(QStringLiteral("Photos/IMG_000%1.JPG.xmp").arg(i));
        ASSERT_TRUE(QFile::exists(sidecar)) << sidecar.toStdString() << "\n"
                                            << run.lines.join('\n').toStdString();
        ratings[QFileInfo(sidecar).fileName().toStdString()] = exiftool(sidecar)["Rating"].toInt(-99);
    }
    const std::map<std::string, int> expected{
        {"IMG_0001.JPG.xmp", 4}, {"IMG_0002.JPG.xmp", 2}, {"IMG_0003.JPG.xmp", 4}, {"IMG_0004.JPG.xmp", 2}};
    EXPECT_EQ(ratings, expected);
    // The library agrees.
    const QByteArray listed =
        runProcess(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire-library",
                   {"list", "--photos", "--tsv", "--library", path("Library")}, &status);
    std::map<std::string, int> inLibrary;
    for (const QByteArray& line : listed.split('\n')) {
        const QList<QByteArray> columns = line.split('\t');
        if (columns.size() == 5)
            inLibrary[QFileInfo(QString::fromUtf8(columns[4])).fileName().toStdString() + ".xmp"] =
                columns[2].toInt();
    }
    EXPECT_EQ(inLibrary, expected);

    // The edited photo's sidecar holds all it held, and the rating besides.
    QJsonObject editedAfter = exiftool(path("Photos/IMG_0002.JPG.xmp"));
    editedAfter.remove("Rating");
    EXPECT_EQ(editedAfter, editedBefore) << QJsonDocument(editedAfter).toJson().constData()
                                         << QJsonDocument(editedBefore).toJson().constData();
}
