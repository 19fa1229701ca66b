#include "app/AppDelegate.h"
#include "app/Automation.h"
#include "app/CommandLine.h"
#include "app/DisplayCheck.h"
#include "app/FirstFrameReport.h"
#include "app/QuitSignals.h"
#include "app/WindowIcon.h"
#include "library/AlbumInfo.h"
#include "platform/foundation/MemoryAllocator.h"
#include "platform/foundation/Resources.h"
#include "platform/ipc/DistributedNotificationCenter.h"
#include "platform/ipc/SessionBus.h"
#include "ui/HostView.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {
QStringList rawArguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}
} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts: peak memory must not depend on the order photo loads end in.
    MemoryAllocator::useFixedThresholds();
    // Also before any thread: a desktop without a session bus gets none left behind by us.
    SessionBus::useOnlyARunningBus();
    // Answered before Qt starts, so they work with no display at all.
    const QStringList arguments = rawArguments(argc, argv);
    const CommandLine commandLine = CommandLine::parse(arguments);
    switch (commandLine.action()) {
    case CommandLine::Action::ShowHelp:
        print(stdout, CommandLine::usage());
        return 0;
    case CommandLine::Action::ShowVersion:
        print(stdout, CommandLine::version());
        return 0;
    case CommandLine::Action::Fail:
        print(stderr, QStringLiteral("zuzire: %1\n\n").arg(commandLine.error()) + CommandLine::usage());
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    const qsizetype platformIndex = arguments.indexOf(QStringLiteral("-platform"));
    const QString platform = platformIndex >= 0 ? arguments.value(platformIndex + 1) : QString();
    const QString displayProblem = DisplayCheck::problem(platform, QProcessEnvironment::systemEnvironment());
    if (!displayProblem.isEmpty()) {
        print(stderr, displayProblem + QLatin1Char('\n'));
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zuzire"));
    QApplication::setApplicationVersion(QStringLiteral(ZUZIRE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("zuzire"));
    QApplication::setWindowIcon(WindowIcon::fromPngFile(Resources::path(QStringLiteral("zuzire.png"))));
    // The delegate decides when the last window's closing ends the process.
    QApplication::setQuitOnLastWindowClosed(false);
    // Meanwhile the window is built: the remote needs the bus only once it is made.
    DistributedNotificationCenter::connectInBackground();

    HostView hostView;
    AppDelegate delegate;
    delegate.setLayerHost(&hostView);
    delegate.awakeFromNib();
    FirstFrameReport::installIfRequested(&hostView);
    hostView.show();
    QuitSignals quitSignals({[&delegate] { delegate.terminate(); },
                             [] { return AlbumInfo::sharedAlbumInfo()->abandonRatings(); },
                             QuitSignals::defaultExitNow()});
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });

    std::unique_ptr<Automation> automation;
    if (commandLine.isAutomation()) {
        automation = std::make_unique<Automation>(delegate, hostView, [](const QString& line) {
            std::fputs(line.toUtf8().constData(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });
        automation->start(STDIN_FILENO);
    }
    return QApplication::exec();
}
