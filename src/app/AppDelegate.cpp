#include "app/AppDelegate.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/Resources.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "rating/RootController.h"
#include "remote/RemoteDriver.h"
#include "ui/Cursor.h"
#include "ui/HostView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QWindowStateChangeEvent>

namespace {
// A short pause lets the program's window go before the library comes to the front.
QString activationScript(const QString& libraryTool)
{
    QString quoted = libraryTool;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QStringLiteral("sleep 0.05\n'%1' activate").arg(quoted);
}
} // namespace

QString AppDelegate::defaultLibraryTool()
{
    return Resources::executableDirectory() + QStringLiteral("/zuzire-library");
}

AppDelegate::Services AppDelegate::defaultServices(const QString& libraryTool)
{
    Services services;
    services.finishWork = [] { AlbumInfo::sharedAlbumInfo()->finishAtQuit(); };
    services.didRateItems = [] { return AlbumInfo::sharedAlbumInfo()->didRateItems(); };
    services.activateLibrary = [libraryTool] {
        QProcess::startDetached(QStringLiteral("/bin/sh"),
                                {QStringLiteral("-c"), activationScript(libraryTool)});
    };
    services.isIRBridgeInstallationRequired = [] {
        return RemoteDriver::isIRBridgeInstallationRequiredForRemoteMode(RemoteModeExclusiveAuto);
    };
    services.quitApplication = [] { QCoreApplication::quit(); };
    services.setMinimumLoadSeconds = [](double seconds) {
        return AlbumInfo::sharedAlbumInfo()->setMinimumReloadSeconds(seconds);
    };
    return services;
}

AppDelegate::AppDelegate(Services services)
    : m_services(std::move(services))
{
    ApplicationDelegate::setShared(this);
}

AppDelegate::~AppDelegate()
{
    if (m_finishThread.joinable())
        m_finishThread.join();
    if (m_cursorHiddenForFullScreen)
        Cursor::unhide();
    if (m_layerHost)
        m_layerHost->removeEventFilter(this);
    if (ApplicationDelegate::shared() == this)
        ApplicationDelegate::setShared(nullptr);
}

void AppDelegate::setLayerHost(HostView* hostView)
{
    if (m_layerHost)
        m_layerHost->removeEventFilter(this);
    m_layerHost = hostView;
    if (m_layerHost)
        m_layerHost->installEventFilter(this);
}

QList<QKeySequence> AppDelegate::menuShortcuts(QKeySequence::StandardKey standard,
                                               const QList<QKeySequence>& own)
{
    // The desktop's own binding may be one of ours (Ctrl+Q is the standard Quit under X11): a key
    // listed twice makes Qt call the shortcut ambiguous and do nothing, so each appears once.
    QList<QKeySequence> shortcuts = own;
    for (const QKeySequence& sequence : QKeySequence::keyBindings(standard)) {
        if (!sequence.isEmpty() && !shortcuts.contains(sequence))
            shortcuts.append(sequence);
    }
    return shortcuts;
}

void AppDelegate::addMenuCommands()
{
    // The window has no menu bar (it is the whole screen), so the menu's commands live on the
    // view as shortcuts. The keys of our own are those a Linux desktop program answers to
    // whatever the desktop's key scheme (X11's generic one binds no full-screen key at all).
    const struct {
        QString text;
        QList<QKeySequence> shortcuts;
        void (AppDelegate::*command)();
    } commands[] = {
        {QStringLiteral("Toggle Full Screen"),
         menuShortcuts(QKeySequence::FullScreen,
                       {QKeySequence(Qt::Key_F11), QKeySequence(Qt::CTRL | Qt::Key_F)}),
         &AppDelegate::toggleFullScreen},
        {QStringLiteral("Zuzire Help"), menuShortcuts(QKeySequence::HelpContents, {QKeySequence(Qt::Key_F1)}),
         &AppDelegate::showHelp},
        {QStringLiteral("Quit Zuzire"),
         menuShortcuts(QKeySequence::Quit, {QKeySequence(Qt::CTRL | Qt::Key_Q)}), &AppDelegate::terminate},
    };
    for (const auto& command : commands) {
        auto* action = new QAction(command.text, m_layerHost);
        action->setShortcuts(command.shortcuts);
        connect(action, &QAction::triggered, this, command.command);
        m_layerHost->addAction(action);
    }
}

void AppDelegate::awakeFromNib()
{
    addMenuCommands();
    applyMinimumLoadSeconds();
    m_rootController = std::make_shared<RootController>();
    m_rootController->holdReload();
    m_layerHost->pushController(m_rootController);
    if (m_services.isIRBridgeInstallationRequired()) {
        qWarning("IRBridge needs to be installed!");
        m_rootController->setStatus(-3);
    } else {
        m_remoteWanted = true;
    }
    m_firstFramePending = true;
    QTimer::singleShot(m_firstFrameLimitMs, this, &AppDelegate::afterFirstFrame);
}

void AppDelegate::afterFirstFrame()
{
    if (!m_firstFramePending)
        return;
    m_firstFramePending = false;
    // The album data first: it is read on the work queue, while the remote is set up here.
    if (m_rootController)
        m_rootController->releaseReload();
    if (m_remoteWanted && m_layerHost && !m_terminating)
        m_layerHost->setRemoteActive(true);
}

void AppDelegate::applyMinimumLoadSeconds()
{
    const PlistPtr value = UserDefaults::standard().objectForKey(minimumLoadSecondsKey);
    if (!value || !m_services.setMinimumLoadSeconds)
        return;
    const std::optional<double> seconds = value->asReal();
    if (!seconds || !m_services.setMinimumLoadSeconds(*seconds))
        qWarning("%s must be a number of seconds from 0 to %g; %s is ignored", minimumLoadSecondsKey,
                 AlbumInfo::longestMinimumReloadSeconds, value->description().c_str());
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (UserDefaults::standard().boolForKey("LaunchFullScreen"))
        toggleFullScreen();
}

void AppDelegate::toggleFullScreen()
{
    if (!m_layerHost)
        return;
    if (m_layerHost->isInFullScreenMode()) {
        m_layerHost->exitFullScreenMode();
        m_layerHost->activateWindow();
        m_layerHost->setFocus(Qt::OtherFocusReason);
    } else {
        m_layerHost->enterFullScreenMode();
    }
    followFullScreenWithCursor();
    // A window just shown or changed gets the keyboard only when the window manager activates it:
    // until then its focus says nothing, so the check waits for the activation.
    if (m_layerHost->isActiveWindow())
        checkFirstResponder();
    else
        m_firstResponderCheckPending = true;
}

void AppDelegate::checkFirstResponder()
{
    m_firstResponderCheckPending = false;
    if (m_layerHost && QApplication::focusWidget() != m_layerHost)
        qWarning("Not first responder!");
}

void AppDelegate::followFullScreenWithCursor()
{
    // The pointer is hidden exactly while the window is full screen, however full screen began
    // or ended (our toggle, the window manager's key, a minimise), so hides and unhides balance.
    const bool fullScreen = m_layerHost && m_layerHost->isInFullScreenMode() &&
                            !m_layerHost->windowState().testFlag(Qt::WindowMinimized);
    if (fullScreen == m_cursorHiddenForFullScreen)
        return;
    m_cursorHiddenForFullScreen = fullScreen;
    if (fullScreen)
        Cursor::hide();
    else
        Cursor::unhide();
}

void AppDelegate::applicationDidHide(bool wasFullScreen)
{
    if (!m_layerHost || !(wasFullScreen || m_layerHost->isInFullScreenMode()))
        return;
    QPointer<HostView> hostView = m_layerHost;
    RunLoop::performAfterDelay(0, [hostView] {
        if (!hostView)
            return;
        hostView->setWindowState((hostView->windowState() & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
        hostView->activateWindow();
    });
}

void AppDelegate::terminate()
{
    // A second request while the first waits for the work queue changes nothing.
    if (m_terminating)
        return;
    if (applicationShouldTerminate() == TerminateNow)
        replyToApplicationShouldTerminate(true);
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    m_terminating = true;
    if (m_layerHost) {
        m_layerHost->setRemoteActive(false);
        if (m_rootController && m_rootController->hostView() == m_layerHost)
            m_layerHost->popToController(m_rootController.get());
    }
    if (m_rootController)
        m_rootController->setStatus(1);
    m_finishThread = std::thread([this] { finishQueueAndTerminate(); });
    return TerminateLater;
}

void AppDelegate::finishQueueAndTerminate()
{
    m_services.finishWork();
    if (m_services.didRateItems())
        m_services.activateLibrary();
    QPointer<AppDelegate> self = this;
    RunLoop::postToMainThread([self] {
        if (self)
            self->replyToApplicationShouldTerminate(true);
    });
}

void AppDelegate::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (!shouldTerminate)
        return;
    m_replied = true;
    if (m_layerHost)
        m_layerHost->close();
    m_services.quitApplication();
}

void AppDelegate::showHelp()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(Resources::path(QStringLiteral("help.html"))));
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_layerHost)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Close && !m_replied) {
        // Closing the window quits, but only through the shutdown that waits for pending work.
        event->ignore();
        if (applicationShouldTerminateAfterLastWindowClosed())
            terminate();
        return true;
    }
    if (event->type() == QEvent::WindowStateChange) {
        followFullScreenWithCursor();
        if (m_layerHost->windowState().testFlag(Qt::WindowMinimized)) {
            // The window manager may drop the full-screen flag as it minimises the window.
            const auto* change = static_cast<QWindowStateChangeEvent*>(event);
            applicationDidHide(change->oldState().testFlag(Qt::WindowFullScreen));
        }
    }
    if (event->type() == QEvent::Paint && m_firstFramePending) {
        // The frame is flushed once the paint returns; the held work starts on the next turn.
        QTimer::singleShot(0, this, &AppDelegate::afterFirstFrame);
    }
    if (event->type() == QEvent::WindowActivate && m_firstResponderCheckPending) {
        // Focus moves to the view as part of the activation; look once that has happened.
        QPointer<AppDelegate> self = this;
        RunLoop::performAfterDelay(0, [self] {
            if (self && self->m_firstResponderCheckPending)
                self->checkFirstResponder();
        });
    }
    return QObject::eventFilter(watched, event);
}
