#include "support/ZuzireProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ZuzireEndToEndTest, ShowsTheRootScreenResizesTogglesAndQuits)
{
    QTemporaryDir output;
    const QString shot = output.filePath("root.png");
    const ProgramRun run =
        runZuzire("tree\nresize 800 600\nscreenshot " + shot + "\nfullscreen\ntree\nfullscreen\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.lines.size(), 7) << run.lines.join('\n').toStdString();

    const QJsonObject first = parseJsonLine(run.lines[0]);
    EXPECT_EQ(first["controllers"].toArray().at(0).toString(), "RootController");
    EXPECT_EQ(first["texts"].toArray().at(0).toString(), "Zuzire: loading.");
    EXPECT_FALSE(first["fullScreen"].toBool());
    EXPECT_EQ(run.lines[1], "ok");
    EXPECT_EQ(run.lines[2], "ok " + shot);
    EXPECT_TRUE(parseJsonLine(run.lines[4])["fullScreen"].toBool());
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
    EXPECT_TRUE(parseJsonLine(run.lines[1])["fullScreen"].toBool());
}

TEST(ZuzireEndToEndTest, TerminationSignalTakesTheQuitPath)
{
    QTemporaryDir config;
    QProcess process;
    startZuzire(process, config.path());
    process.write("tree\n");
    ASSERT_TRUE(process.waitForReadyRead(10000));
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST(ZuzireEndToEndTest, AutomationRefusesValuesOutOfRange)
{
    const ProgramRun run = runZuzire(
        "wait inf\nwait nan\nwait 1e10\nwait -1\nresize 100000 100000\nresize 800 -5\nwait 0\ntree\n");
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_EQ(run.lines.size(), 8) << run.lines.join('\n').toStdString();
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(run.lines[i].startsWith("error: ")) << run.lines[i].toStdString();
    EXPECT_EQ(run.lines[6], "ok");
    EXPECT_EQ(parseJsonLine(run.lines[7])["size"].toObject()["width"].toInt(), 960);
}

namespace {
// Runs the program with `arguments` and no automation, as a user types it.
ProgramRun runCommand(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire", arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    return environment;
}
} // namespace

TEST(ZuzireEndToEndTest, HelpAndVersionPrintAndNeedNoDisplay)
{
    const ProgramRun help = runCommand({"--help"}, withoutDisplay());
    EXPECT_EQ(help.exitCode, 0);
    ASSERT_FALSE(help.lines.isEmpty());
    EXPECT_EQ(help.lines[0], "Usage: zuzire [--automation] [-Key value ...]");
    EXPECT_TRUE(help.lines.join('\n').contains("--version"));

    const ProgramRun version = runCommand({"--version"}, withoutDisplay());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.lines, QStringList{"zuzire " ZUZIRE_VERSION});
}

TEST(ZuzireEndToEndTest, AnUnknownOptionIsAnErrorWithTheUsage)
{
    const ProgramRun run = runCommand({"--frobnicate"}, withoutDisplay());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.lines.isEmpty());
    EXPECT_TRUE(run.errors.startsWith("zuzire: unknown option --frobnicate\n")) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("Usage: zuzire"));
}

TEST(ZuzireEndToEndTest, NoDisplayIsOneLineAndAnExitNotAnAbort)
{
    const ProgramRun run = runCommand({}, withoutDisplay());
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = run.errors.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << run.errors.toStdString();
    EXPECT_TRUE(lines[0].contains("no display")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("xvfb-run"));

    QProcessEnvironment unreachable = withoutDisplay();
    unreachable.insert("DISPLAY", ":987");
    const ProgramRun gone = runCommand({"-LaunchFullScreen", "YES"}, unreachable);
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_TRUE(gone.errors.contains("cannot open the display \":987\"")) << gone.errors.toStdString();
}

TEST(ZuzireEndToEndTest, TheMetadataLibraryIsNotLoadedWithTheProgram)
{
    // It is needed only for some RAW files' previews, and loading it would delay the first frame.
    QTemporaryDir config;
    QProcess process;
    startZuzire(process, config.path());
    process.write("wait 0.3\ntree\n");
    // Both answers: the first frame is up and what follows it (sounds, reload) has started.
    QByteArray answers;
    while (answers.count('\n') < 2 && process.waitForReadyRead(10000))
        answers += process.readAllStandardOutput();
    ASSERT_EQ(answers.count('\n'), 2) << answers.constData();
    QFile maps(QStringLiteral("/proc/%1/maps").arg(process.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("/bin/zuzire"));
    EXPECT_FALSE(mapped.contains("libexiv2"));
    process.write("quit\n");
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(10000));
}
