#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct ProgramRun {
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

// Starts the real program in automation mode on the offscreen platform with its own
// configuration folder.
void startZuzire(QProcess& process, const QTemporaryDir& config, const QStringList& arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", config.path());
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire",
                  QStringList{"--automation"} + arguments);
    EXPECT_TRUE(process.waitForStarted(10000));
}

// Runs the program to its end, feeding it `script`.
ProgramRun runZuzire(const QString& script, const QStringList& arguments = {})
{
    QTemporaryDir config;
    QProcess process;
    startZuzire(process, config, arguments);
    process.write(script.toUtf8());
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000));
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QJsonObject parse(const QString& line)
{
    return QJsonDocument::fromJson(line.toUtf8()).object();
}
} // namespace

TEST(ZuzireEndToEndTest, ShowsTheRootScreenResizesTogglesAndQuits)
{
    QTemporaryDir output;
    const QString shot = output.filePath("root.png");
    const ProgramRun run =
        runZuzire("tree\nresize 800 600\nscreenshot " + shot + "\nfullscreen\ntree\nfullscreen\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.lines.size(), 7) << run.lines.join('\n').toStdString();

    const QJsonObject first = parse(run.lines[0]);
    EXPECT_EQ(first["controllers"].toArray().at(0).toString(), "RootController");
    EXPECT_EQ(first["texts"].toArray().at(0).toString(), "Zuzire: loading.");
    EXPECT_FALSE(first["fullScreen"].toBool());
    EXPECT_EQ(run.lines[1], "ok");
    EXPECT_EQ(run.lines[2], "ok " + shot);
    EXPECT_TRUE(parse(run.lines[4])["fullScreen"].toBool());
    EXPECT_EQ(run.lines[6], "ok");

    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(800, 600));
    // The root screen is white behind its one line of text.
    EXPECT_EQ(image.pixelColor(10, 10), QColor(Qt::white));
}

TEST(ZuzireEndToEndTest, EndOfInputQuitsAndMistakesAreAnswered)
{
    const ProgramRun run = runZuzire("frobnicate\nresize 0 10\npress Sideways\nwait\n");
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.lines.size(), 4);
    for (const QString& line : run.lines)
        EXPECT_TRUE(line.startsWith("error: ")) << line.toStdString();
}

TEST(ZuzireEndToEndTest, LaunchFullScreenFromTheCommandLine)
{
    const ProgramRun run = runZuzire("wait 0.1\ntree\n", {"-LaunchFullScreen", "YES"});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.lines.size(), 2);
    EXPECT_TRUE(parse(run.lines[1])["fullScreen"].toBool());
}

TEST(ZuzireEndToEndTest, TerminationSignalTakesTheQuitPath)
{
    QTemporaryDir config;
    QProcess process;
    startZuzire(process, config);
    process.write("tree\n");
    ASSERT_TRUE(process.waitForReadyRead(10000));
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}
