#include "tools/library/DemoPhotoGenerator.h"

#include <QGuiApplication>
#include <cstdio>

#ifndef ZUZIRE_VERSION
#define ZUZIRE_VERSION "0"
#endif

namespace {
const char* const usage = "usage: zuzire-demo-photos FOLDER\n"
                          "\n"
                          "Writes folders of demo photos into FOLDER (created when missing): landscape,\n"
                          "portrait, square and panoramic photos, photos stored turned with an EXIF\n"
                          "orientation, and a movie. Import them with: zuzire-library import FOLDER/*\n"
                          "\n"
                          "  -h, --help  show this help\n"
                          "  --version   show the version\n";
}

int main(int argc, char** argv)
{
    // Drawing needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::fputs("zuzire-demo-photos " ZUZIRE_VERSION "\n", stdout);
        return 0;
    }
    if (arguments.value(0) == QStringLiteral("--"))
        arguments.removeFirst();
    else if (arguments.value(0).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "zuzire-demo-photos: unknown option: %s\n%s", qPrintable(arguments.at(0)),
                     usage);
        return 2;
    }
    if (arguments.size() != 1) {
        std::fputs(usage, stderr);
        return 2;
    }
    Error error;
    if (!DemoPhotoGenerator::generate(arguments.at(0), &error)) {
        std::fprintf(stderr, "zuzire-demo-photos: %s%s%s%s\n", error.localizedDescription().c_str(),
                     error.failureReason().empty() ? "" : " (", error.failureReason().c_str(),
                     error.failureReason().empty() ? "" : ")");
        return 1;
    }
    return 0;
}
