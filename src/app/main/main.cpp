#include "app/AppDelegate.h"
#include "app/Automation.h"
#include "app/QuitSignals.h"
#include "ui/HostView.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zuzire"));
    QApplication::setDesktopFileName(QStringLiteral("zuzire"));
    // The delegate decides when the last window's closing ends the process.
    QApplication::setQuitOnLastWindowClosed(false);

    HostView hostView;
    AppDelegate delegate;
    delegate.setLayerHost(&hostView);
    delegate.awakeFromNib();
    hostView.show();
    QuitSignals quitSignals([&delegate] { delegate.terminate(); });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });

    std::unique_ptr<Automation> automation;
    if (QApplication::arguments().contains(QStringLiteral("--automation"))) {
        automation = std::make_unique<Automation>(delegate, hostView, [](const QString& line) {
            std::fputs(line.toUtf8().constData(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });
        automation->start(STDIN_FILENO);
    }
    return QApplication::exec();
}
