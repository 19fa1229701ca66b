#pragma once

#include <QString>
#include <QStringList>

// The program's command line, read before anything else starts: --help and --version answer at
// once, --automation turns on the command reader, and every `-Key value` pair overrides a default
// for this run (Qt's own options, such as `-platform offscreen`, have the same shape and are left
// to Qt). Anything else is a mistake, answered with the usage.
class CommandLine {
public:
    enum class Action { Run, ShowHelp, ShowVersion, Fail };

    // `arguments` without the program's name.
    static CommandLine parse(const QStringList& arguments);

    Action action() const { return m_action; }
    bool isAutomation() const { return m_automation; }
    // What went wrong, one line, when action() is Fail.
    const QString& error() const { return m_error; }

    static QString usage();
    static QString version();

private:
    Action m_action = Action::Run;
    bool m_automation = false;
    QString m_error;
};
