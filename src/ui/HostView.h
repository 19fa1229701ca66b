#pragma once

#include "platform/graphics/Layer.h"
#include "remote/RemoteDriver.h"
#include "remote/RemoteDriverDelegate.h"
#include "ui/Button.h"
#include "ui/Raroderavarav.h"
#include "ui/SwipeRecognizer.h"

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

// The window's one view: it paints its own layer tree and keeps the stack of screen controllers.
// Only the current controller's content layer is in the tree, sized to the view, with the
// overlays of all stacked controllers above it. It also turns every input into one of the six
// buttons for the current controller. Main thread only.
//
// The host layer's coordinates are the view's, in device-independent pixels, y up.
class HostView : public QWidget, public LayoutManager, public LayerTreeHost, public RemoteDriverDelegate {
    Q_OBJECT

public:
    explicit HostView(QWidget* parent = nullptr);
    ~HostView() override;

    // The root of the layer tree; the view is its layout manager.
    const LayerPtr& layer() const { return m_layer; }

    Raroderavarav* currentController() const;
    // The live stack, bottom first.
    const std::vector<ControllerPtr>& controllers() const;
    // The overlay of the lowest stacked controller that has one; content layers go below it.
    const LayerPtr& lowestOverlay() const { return m_lowestOverlay; }

    void pushController(ControllerPtr controller);
    ControllerPtr popController();
    // Pops until `controller` is current; the popped controllers, topmost first.
    std::vector<ControllerPtr> popToController(Raroderavarav* controller);
    std::vector<ControllerPtr> popToRootController();

    // The one place the stack's layers and appearance callbacks change; either may be null.
    void showController(Raroderavarav* newController, Raroderavarav* oldController);

    void layoutSublayersOfLayer(Layer& layer) override;
    void layerTreeNeedsDisplay() override;
    double devicePixelRatio() const override { return devicePixelRatioF(); }

    bool isInFullScreenMode() const;
    void enterFullScreenMode();
    void exitFullScreenMode();

    // Delivers one button to the current controller and plays its sound.
    void performButton(int button);
    // Called by a controller from inside a button operation to silence that press.
    void preventDefaultSound() { m_preventSound = true; }

    // One swipe: dy > 0 up, dy < 0 down, else dx > 0 left, dx < 0 right; vertical wins.
    void swipeWithEvent(double dx, double dy);

    bool isRemoteActive() const;
    void setRemoteActive(bool active);
    RemoteDriver& remote() { return m_remote; }

    const QImage& transitionPictureForTesting() const { return m_transitionPicture; }

    void remoteDriverEventWithButton(RemoteDriver& driver, RemoteButtonCode button, bool isPressed,
                                     const PlistPtr& attributes) override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void initializeRemote();
    void layOutHostLayer();
    void hidePointerUntilMouseMoves();
    // Keeps the picture on screen now, for the new screen to cross-fade from. `oldContent` is the
    // content layer about to be replaced. Called before the stack changes: painting the picture
    // may lay out the old screen's layers (a resize marks them), and a controller lays out only
    // while it is on the stack, so a popped one, already detached, would refuse.
    void keepPictureForTransition(const Layer* oldContent);
    // A copy of the frame last painted into the window's buffer, in device pixels (its device
    // pixel ratio set); null when that buffer holds no frame of the view at its present size.
    QImage shownFrame() const;
    // Whether `content`, a content layer of this view, is still fading in.
    bool isFadingIn(const Layer* content) const;
    // One frame: the picture being faded from (while `content` fades in over it) or black, then
    // the layer tree.
    void paintFrame(QPainter& painter, const Layer* content);
    // The responder actions the keyboard is decoded into.
    void performClick() { performButton(ButtonSelect); }
    void cancelOperation() { performButton(ButtonMenu); }
    // Return, Enter and line feed select; the deleting keys and the menu key go back.
    bool performKeyEquivalent(QKeyEvent* event);

    LayerPtr m_layer;
    std::optional<std::vector<ControllerPtr>> m_controllerStack;
    LayerPtr m_lowestOverlay;
    RemoteDriver m_remote;
    bool m_inSwap = false;
    bool m_preventSound = false;
    bool m_soundsRequested = false;
    SwipeRecognizer m_swipes;
    QTimer m_frameTimer;
    // The picture the current screen fades in over; null when no transition runs. View pixels, or
    // device pixels with the ratio set when copied from the window's buffer.
    QImage m_transitionPicture;
    // Whether any frame was painted since m_transitionPicture was kept.
    bool m_paintedSincePicture = false;
    // The view's size at its last frame painted into the window's buffer; empty before any.
    QSize m_bufferedFrameSize;
};
