#include "app/CommandLine.h"

namespace {
// Qt's own single-dash options that take no value; every other single-dash word takes the next.
const QStringList qtFlags = {"-reverse",     "-sync", "-nograb",     "-dograb",
                             "-widgetcount", "-cmap", "-testability"};
} // namespace

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
        } else if (!qtFlags.contains(argument)) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value, as in %1 YES").arg(argument));
            ++i;
        }
    }
    return commandLine;
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: zuzire [--automation] [-Key value ...]\n"
        "Rates the photos of your library, one large photo at a time, with six buttons: the arrow\n"
        "keys, Return and Escape, a touchpad's swipes or an infrared remote.\n"
        "\n"
        "  --automation            also read commands on standard input, one a line (tree,\n"
        "                          screenshot PATH, resize W H, fullscreen, press BUTTON,\n"
        "                          key NAME, wait SECONDS, quit)\n"
        "  -LaunchFullScreen YES   start full screen, for this run\n"
        "  -NumberOfStages N       rating passes for each album, 1 to 4, for this run\n"
        "  -MinimumLoadSeconds S   show the loading status at least S seconds (0 to 10; 1)\n"
        "  --help                  show this text and exit\n"
        "  --version               show the version and exit\n"
        "\n"
        "Keys: arrows move, Return selects, Escape goes back (and quits on the first screen),\n"
        "F11 toggles full screen, F1 opens the help page, Ctrl+Q quits.\n"
        "Photos: zuzire-library import FOLDER... makes a library of your own photo folders.\n"
        "Settings: ~/.config/zuzire/com.quillmoss.lumendeck.plist.\n");
}

QString CommandLine::version()
{
    return QStringLiteral("zuzire " ZUZIRE_VERSION "\n");
}
