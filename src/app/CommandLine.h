#pragma once

#include <QString>
#include <QStringList>
#include <span>

// The program's command line, read before anything else starts: --help and --version answer at
// once, --automation turns on the command reader, and every `-Key value` pair overrides a setting
// for this run. Qt's own options, such as `-platform offscreen`, are left to Qt. Anything else,
// an unknown key or a value the setting does not take, is a mistake, answered with the usage.
class CommandLine {
public:
    enum class Action { Run, ShowHelp, ShowVersion, Fail };

    // A setting `-Key value` may override: a number from minimum to maximum, or YES/NO when
    // isSwitch. The one list the check, its messages, the usage and the tests all read.
    struct Setting {
        const char* key;
        bool isSwitch;
        double minimum;
        double maximum;
        bool wholeNumber;
        const char* example;
        const char* usageLine;
    };
    static std::span<const Setting> settings();

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
