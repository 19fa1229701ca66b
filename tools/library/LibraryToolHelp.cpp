#include "tools/library/LibraryToolHelp.h"

#include <QStringList>

namespace {
struct CommandHelp {
    const char* name;
    const char* arguments;
    const char* text;
};

const CommandHelp commands[] = {
    {"import", "[--recursive] [--library FOLDER] [--sidecar-naming whole|base] PHOTO-FOLDER...",
     "Build or update a library from folders of photos, one album per folder, and make it the\n"
     "library Zuzire shows. Importing a folder again keeps its photos' identifiers and\n"
     "ratings, adds new photos and drops those whose files are gone. A folder that holds no\n"
     "photos makes no album; an import that makes none fails and leaves the library as it was.\n"
     "Import takes a rating other programs gave a photo (its sidecar's, else the photo's own XMP\n"
     "or EXIF rating; -1, rejected, counts as rated); on a re-import, a rating changed elsewhere\n"
     "since the last import or rating wins.\n"},
    {"list", "[--photos] [--tsv] [--library FOLDER]",
     "The current library's albums, each with how many of its photos still need rating.\n"},
    {"rate", "[--library FOLDER] [--sidecar-naming whole|base] [--rating-in-photo] ID STARS",
     "Give the photo with identifier ID (see list --photos) STARS stars, 1 to 5, in the\n"
     "current library. Zuzire runs this for every rating it writes. The rating also goes to\n"
     "the photo's XMP sidecar (xmp:Rating), which is created when it is missing and keeps every\n"
     "other property, so other photo programs see it; the sidecar is written first.\n"},
    {"activate", "[--library FOLDER]",
     "Show the current library's folder on the desktop; does nothing without a desktop.\n"},
};

struct OptionHelp {
    const char* commands; // those that take it, space-separated
    const char* text;
};

const OptionHelp options[] = {
    {"import", "  -r, --recursive   every folder below that holds photos becomes an album of its own too\n"},
    {"list", "  --photos          also list every photo: identifier, stars, type and file\n"},
    {"list", "  --tsv             tab-separated columns without padding or header, for scripts\n"},
    {"import list rate activate",
     "  --library FOLDER  the library folder to use instead of the current one; import makes it\n"
     "                    the current one (default: the current library's folder, else\n"
     "                    ~/.local/share/zuzire/Library)\n"},
    {"import rate",
     "  --sidecar-naming whole|base\n"
     "                    the sidecar of IMG_0001.JPG is IMG_0001.JPG.xmp (whole, the default) or\n"
     "                    IMG_0001.xmp (base); import reads either, this one first\n"},
    {"rate", "  --rating-in-photo also write the rating into the photo file itself (its image data\n"
             "                    stays as it is)\n"},
};

const char* const settingsNote =
    "\n"
    "The current library is the first one registered in ~/.config/zuzire/com.apple.iApps.plist.\n"
    "The settings SidecarNaming (whole or base) and RatingInPhoto (YES or NO) in\n"
    "~/.config/zuzire/com.quillmoss.lumendeck.plist apply when the options are not given.\n";

QString usageLine(const CommandHelp& command)
{
    return QStringLiteral("zuzire-library %1 %2\n")
        .arg(QLatin1String(command.name), QLatin1String(command.arguments));
}

QString indented(const char* text, const QString& indent)
{
    QString lines = indent + QString::fromUtf8(text);
    lines.replace(QLatin1Char('\n'), QLatin1Char('\n') + indent);
    return lines.chopped(indent.size());
}

QString optionsOf(const QString& command)
{
    QString text;
    for (const OptionHelp& option : options)
        if (command.isEmpty() ||
            QString::fromLatin1(option.commands).split(QLatin1Char(' ')).contains(command))
            text += QLatin1String(option.text);
    return text;
}
} // namespace

QString LibraryToolHelp::whole()
{
    QString text =
        QStringLiteral("usage: zuzire-library COMMAND [OPTIONS] [ARGUMENTS]\n"
                       "\n"
                       "Builds the photo libraries Zuzire shows, and writes the ratings given in it.\n"
                       "Try 'zuzire-library COMMAND --help' for one command.\n"
                       "\n"
                       "Commands:\n");
    for (const CommandHelp& command : commands)
        text +=
            QStringLiteral("  %1 %2\n").arg(QLatin1String(command.name), QLatin1String(command.arguments)) +
            indented(command.text, QStringLiteral("      "));
    return text + QStringLiteral("\nOptions (anywhere on the line):\n") + optionsOf({}) +
           QStringLiteral("  -h, --help        show this help\n"
                          "  --version         show the version\n") +
           QLatin1String(settingsNote);
}

std::optional<QString> LibraryToolHelp::ofCommand(const QString& command)
{
    for (const CommandHelp& help : commands)
        if (command == QLatin1String(help.name))
            return QStringLiteral("usage: ") + usageLine(help) + QLatin1Char('\n') +
                   QString::fromUtf8(help.text) + QStringLiteral("\nOptions (anywhere on the line):\n") +
                   optionsOf(command) + QStringLiteral("  -h, --help        show this help\n") +
                   QLatin1String(settingsNote);
    return std::nullopt;
}

QString LibraryToolHelp::synopsis()
{
    QString text;
    for (const CommandHelp& command : commands)
        text += (text.isEmpty() ? QStringLiteral("usage: ") : QStringLiteral("       ")) + usageLine(command);
    return text + QStringLiteral("Try 'zuzire-library --help' for more.\n");
}
