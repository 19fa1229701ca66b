#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Runs the real program, as the end-to-end tests drive it.
struct ProgramRun {
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

// Starts the real program in automation mode on the offscreen platform with its own
// configuration folder.
inline void startZuzire(QProcess& process, const QString& configHome, const QStringList& arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", configHome);
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("ZUZIRE_BINARY_DIR") + "/bin/zuzire",
                  QStringList{"--automation"} + arguments);
    EXPECT_TRUE(process.waitForStarted(10000));
}

// Runs the program to its end, feeding it `script`. Settings and the library preference come from
// `configHome`, by default an empty one.
inline ProgramRun runZuzire(const QString& script, const QStringList& arguments = {},
                            const QString& configHome = {})
{
    QTemporaryDir emptyConfig;
    QProcess process;
    startZuzire(process, configHome.isEmpty() ? emptyConfig.path() : configHome, arguments);
    process.write(script.toUtf8());
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000));
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline QJsonObject parseJsonLine(const QString& line)
{
    return QJsonDocument::fromJson(line.toUtf8()).object();
}
