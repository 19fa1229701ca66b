#include "support/ZuzireProcess.h"

#include <QDir>
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
