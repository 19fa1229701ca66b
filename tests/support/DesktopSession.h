#pragma once

#include "support/ZuzireProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

// The real program on a real display server (X or Wayland), driven through its automation
// commands. Each display's fixture derives from this one and adds what only that display has.
class DesktopSession : public testing::Test {
protected:
    // Generous: a bound for what never comes, not for what comes slowly on a busy machine.
    static constexpr int limitMs = 15000;

    static bool waitFor(const std::function<bool()>& condition)
    {
        QElapsedTimer guard;
        guard.start();
        while (!condition()) {
            if (guard.elapsed() > limitMs)
                return false;
            QThread::msleep(30);
        }
        return true;
    }

    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(limitMs);
        }
    }

    // Starts the program on Qt's `platform` plugin, its settings in `configHome` (by default a
    // fresh folder).
    void launch(const QString& platform, const QStringList& arguments, const QString& configHome,
                QProcessEnvironment environment)
    {
        environment.insert("QT_QPA_PLATFORM", platform);
        environment.insert("XDG_CONFIG_HOME", configHome.isEmpty() ? folder.filePath("config") : configHome);
        program.setProcessEnvironment(environment);
        program.start(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire",
                      QStringList{"--automation"} + arguments);
        ASSERT_TRUE(program.waitForStarted(limitMs));
    }

    // A library of generated photos, so the first screen pushes the album picker once it has
    // loaded; the settings folder that names it goes in `config`.
    void makeAlbumLibrary(const QString& config)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const QString bin = qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/";
        for (const QStringList& command :
             {QStringList{"zuzire-demo-photos", folder.filePath("Photos")},
              QStringList{"zuzire-library", "import", "--library", folder.filePath("Library"),
                          folder.filePath("Photos/Coast")}}) {
            QProcess tool;
            tool.setProcessEnvironment(environment);
            tool.start(bin + command.first(), command.mid(1));
            ASSERT_TRUE(tool.waitForFinished(60000));
            ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        }
    }

    QString ask(const QString& command)
    {
        program.write((command + "\n").toUtf8());
        QElapsedTimer guard;
        guard.start();
        while (!program.canReadLine() && guard.elapsed() < limitMs)
            program.waitForReadyRead(100);
        return QString::fromUtf8(program.readLine()).trimmed();
    }

    QJsonObject tree() { return parseJsonLine(ask("tree")); }

    bool treeBecomes(const std::function<bool(const QJsonObject&)>& condition)
    {
        return waitFor([&] { return condition(tree()); });
    }

    int finish()
    {
        program.closeWriteChannel();
        EXPECT_TRUE(program.waitForFinished(limitMs));
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    }

    QTemporaryDir folder;
    QProcess program;
};
