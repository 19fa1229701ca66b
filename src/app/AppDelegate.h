#pragma once

#include "ui/ApplicationDelegate.h"
#include "ui/HostView.h"

#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

class RootController;

// Owns the screen: puts the root controller on the host view, switches the remote on and off,
// toggles full-screen presentation and runs the orderly shutdown that lets pending rating work
// finish before the process ends. Main thread only, except finishQueueAndTerminate().
class AppDelegate : public QObject, public ApplicationDelegate {
    Q_OBJECT

public:
    // What start-up and shutdown reach beyond the screen; tests replace them with fakes.
    struct Services {
        // Blocks until every queued rating has been written, or given up on at quit. Called off
        // the main thread.
        std::function<void()> finishWork;
        // Whether any photo was rated since start. Called off the main thread.
        std::function<bool()> didRateItems;
        // Brings the photo library to the front; must not wait. Called off the main thread.
        std::function<void()> activateLibrary;
        std::function<bool()> isIRBridgeInstallationRequired;
        // Lets the application end once the shutdown has finished. Called on the main thread.
        std::function<void()> quitApplication;
        // Sets the shortest time the loading status shows, in seconds; false when out of range.
        // Called on the main thread before the first reload. May be empty.
        std::function<bool(double)> setMinimumLoadSeconds;
    };
    // `libraryTool` is the library service's program, run to bring the library to the front.
    static Services defaultServices(const QString& libraryTool = defaultLibraryTool());
    // zuzire-library beside the program's own executable.
    static QString defaultLibraryTool();

    enum TerminateReply { TerminateCancel = 0, TerminateNow = 1, TerminateLater = 2 };

    explicit AppDelegate(Services services = defaultServices());
    ~AppDelegate() override;

    HostView* layerHost() const { return m_layerHost; }
    void setLayerHost(HostView* hostView);
    RootController* rootController() const { return m_rootController.get(); }

    bool isTerminating() const override { return m_terminating; }
    void setTerminating(bool terminating) { m_terminating = terminating; }
    // True once the shutdown has finished and the application may end.
    bool hasRepliedToTermination() const { return m_replied; }

    // Puts the root controller on the view. The album data is read and the remote started once
    // the view's first frame is painted (both take a while that the first frame need not wait for),
    // or after firstFrameLimitMs when no frame comes (a window shown minimised), but never once the
    // shutdown has begun.
    void awakeFromNib();
    void applicationDidFinishLaunching();
    void toggleFullScreen() override;
    // A minimised window comes back on the next turn of the event loop while it is full screen.
    void applicationDidHide(bool wasFullScreen = false);
    void terminate() override;
    TerminateReply applicationShouldTerminate();
    void finishQueueAndTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    void showHelp();

    // The keys of one menu command: ours first, then the desktop's standard ones, each once.
    static QList<QKeySequence> menuShortcuts(QKeySequence::StandardKey standard,
                                             const QList<QKeySequence>& own);

    // The longest the work held for the first frame waits for it, in milliseconds.
    static constexpr int firstFrameLimitMs = 1000;
    void setFirstFrameLimitForTesting(int milliseconds) { m_firstFrameLimitMs = milliseconds; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The user default that sets how long the loading status shows at least, in seconds.
    static constexpr const char* minimumLoadSecondsKey = "MinimumLoadSeconds";

private:
    void addMenuCommands();
    void applyMinimumLoadSeconds();
    void followFullScreenWithCursor();
    void checkFirstResponder();
    void afterFirstFrame();
    void replyToApplicationShouldTerminate(bool shouldTerminate);

    Services m_services;
    QPointer<HostView> m_layerHost; // non-owning: the window owns its view
    std::shared_ptr<RootController> m_rootController;
    bool m_terminating = false;
    bool m_replied = false;
    bool m_cursorHiddenForFullScreen = false;
    bool m_firstResponderCheckPending = false;
    bool m_firstFramePending = false;
    bool m_remoteWanted = false;
    int m_firstFrameLimitMs = firstFrameLimitMs;
    std::thread m_finishThread;
};
