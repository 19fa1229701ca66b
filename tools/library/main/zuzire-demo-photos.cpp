#include "tools/library/DemoPhotoGenerator.h"

#include <QGuiApplication>
#include <cstdio>

// zuzire-demo-photos FOLDER: writes the demo photo folders into FOLDER.
int main(int argc, char** argv)
{
    // Drawing needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::fputs("usage: zuzire-demo-photos FOLDER\n", stderr);
        return 2;
    }
    Error error;
    if (!DemoPhotoGenerator::generate(arguments.at(1), &error)) {
        std::fprintf(stderr, "zuzire-demo-photos: %s\n", error.localizedDescription().c_str());
        return 1;
    }
    return 0;
}
