#include "app/CommandLine.h"

#include "library/AlbumInfo.h"

namespace {
using Setting = CommandLine::Setting;

const Setting knownSettings[] = {
    {"LaunchFullScreen", true, 0, 0, false, "YES",
     "  -LaunchFullScreen YES   start full screen, for this run (YES or NO)\n"},
    {"NumberOfStages", false, 1, 4, true, "2",
     "  -NumberOfStages N       rating passes for each album, 1 to 4, for this run\n"},
    {"MinimumLoadSeconds", false, 0, AlbumInfo::longestMinimumReloadSeconds, false, "0",
     "  -MinimumLoadSeconds S   show the loading status at least S seconds (0 to 10; 1)\n"},
};

// Qt's own single-dash options that take no value, and those that take the next word (or
// `=value`, as `-style=fusion`); Qt reads them from the command line itself.
const QStringList qtFlags = {"-reverse",     "-sync", "-nograb",     "-dograb",
                             "-widgetcount", "-cmap", "-testability"};
const QStringList qtOptionsWithValue = {"-platform",
                                        "-platformpluginpath",
                                        "-platformtheme",
                                        "-plugin",
                                        "-qwindowgeometry",
                                        "-qwindowicon",
                                        "-qwindowtitle",
                                        "-geometry",
                                        "-title",
                                        "-icon",
                                        "-session",
                                        "-display",
                                        "-name",
                                        "-visual",
                                        "-style",
                                        "-stylesheet",
                                        "-qmljsdebugger"};

bool isQtOptionWithInlineValue(const QString& argument)
{
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    return equals > 0 && qtOptionsWithValue.contains(argument.left(equals));
}

const Setting* findSetting(const QString& key, Qt::CaseSensitivity sensitivity)
{
    for (const Setting& setting : knownSettings)
        if (key.compare(QLatin1String(setting.key), sensitivity) == 0)
            return &setting;
    return nullptr;
}

QString accepted(const Setting& setting)
{
    if (setting.isSwitch)
        return QStringLiteral("YES or NO");
    return QStringLiteral("%1 from %2 to %3")
        .arg(setting.wholeNumber ? QStringLiteral("a whole number") : QStringLiteral("a number"))
        .arg(setting.minimum)
        .arg(setting.maximum);
}

// What the argument domain reads as a boolean; any other word would quietly count as NO.
bool isAcceptedValue(const Setting& setting, const QString& value)
{
    if (setting.isSwitch)
        return QStringList{"YES", "NO", "true", "false"}.contains(value);
    bool ok = false;
    // Spaces would make the argument domain keep the value as text, which the setting ignores.
    const double number = setting.wholeNumber ? value.toLongLong(&ok, 10) : value.toDouble(&ok);
    return ok && value == value.trimmed() && number >= setting.minimum && number <= setting.maximum;
}

QString unknownKey(const QString& argument)
{
    if (const Setting* near = findSetting(argument.mid(1), Qt::CaseInsensitive))
        return QStringLiteral("unknown option %1; did you mean -%2?").arg(argument, QLatin1String(near->key));
    QStringList keys;
    for (const Setting& setting : knownSettings)
        keys << QLatin1Char('-') + QLatin1String(setting.key);
    return QStringLiteral("unknown option %1; the settings are %2")
        .arg(argument, keys.join(QStringLiteral(", ")));
}

// Empty when `argument` at `i` is a setting or Qt option used rightly; `i` then moves past its value.
QString singleDashProblem(const QStringList& arguments, qsizetype& i)
{
    const QString& argument = arguments[i];
    if (qtFlags.contains(argument) || isQtOptionWithInlineValue(argument))
        return {};
    const Setting* setting = findSetting(argument.mid(1), Qt::CaseSensitive);
    if (!setting && !qtOptionsWithValue.contains(argument))
        return unknownKey(argument);
    if (i + 1 >= arguments.size()) {
        if (!setting)
            return QStringLiteral("%1 needs a value").arg(argument);
        return QStringLiteral("%1 needs a value, as in %1 %2").arg(argument, QLatin1String(setting->example));
    }
    const QString& value = arguments[++i];
    if (setting && !isAcceptedValue(*setting, value))
        return QStringLiteral("%1 takes %2, not \"%3\"").arg(argument, accepted(*setting), value);
    return {};
}
} // namespace

std::span<const CommandLine::Setting> CommandLine::settings()
{
    return knownSettings;
}

CommandLine CommandLine::parse(const QStringList& arguments)
{
    CommandLine commandLine;
    auto fail = [&commandLine](const QString& error) {
        commandLine.m_action = Action::Fail;
        commandLine.m_error = error;
        return commandLine;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            commandLine.m_action = Action::ShowHelp;
            return commandLine;
        }
        if (argument == QLatin1String("--version")) {
            commandLine.m_action = Action::ShowVersion;
            return commandLine;
        }
        if (argument == QLatin1String("--automation")) {
            commandLine.m_automation = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        } else if (argument.size() < 2 || !argument.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unexpected argument \"%1\"").arg(argument));
        } else if (const QString problem = singleDashProblem(arguments, i); !problem.isEmpty()) {
            return fail(problem);
        }
    }
    return commandLine;
}

QString CommandLine::usage()
{
    QString settingLines;
    for (const Setting& setting : knownSettings)
        settingLines += QLatin1String(setting.usageLine);
    return QStringLiteral(
               "Usage: zuzire [--automation] [-Key value ...]\n"
               "Rates the photos of your library, one large photo at a time, with six buttons: the arrow\n"
               "keys, Return and Escape, a touchpad's swipes or an infrared remote.\n"
               "\n"
               "  --automation            also read commands on standard input, one a line (tree,\n"
               "                          screenshot PATH, resize W H, fullscreen, press BUTTON,\n"
               "                          key NAME, wait SECONDS, quit)\n") +
           settingLines +
           QStringLiteral(
               "  --help                  show this text and exit\n"
               "  --version               show the version and exit\n"
               "\n"
               "Keys: arrows move, Return selects, Escape goes back (and quits on the first screen),\n"
               "F11 toggles full screen, F1 opens the help page, Ctrl+Q quits.\n"
               "Photos: zuzire-library import FOLDER... makes a library of your own photo folders.\n"
               "Qt's own options (-platform, -style, -qwindowgeometry, ...) work as usual.\n"
               "Settings: ~/.config/zuzire/com.quillmoss.lumendeck.plist.\n");
}

QString CommandLine::version()
{
    return QStringLiteral("zuzire " ZUZIRE_VERSION "\n");
}
