#include "ui/HostView.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/graphics/LayerPainter.h"
#include "platform/graphics/ScopedTransaction.h"
#include "platform/graphics/Transaction.h"
#include "platform/ipc/UserActivity.h"
#include "support/QMSFX.h"
#include "ui/Cursor.h"

#include <QApplication>
#include <QBackingStore>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QNativeGestureEvent>
#include <QPaintEngine>
#include <QPainter>

namespace {
constexpr int frameIntervalMs = 16;
constexpr QSize defaultWindowSize(960, 720);
} // namespace

HostView::HostView(QWidget* parent)
    : QWidget(parent)
{
    m_layer = Layer::create();
    m_layer->setLayoutManager(this);
    m_layer->setTreeHost(this);
    m_controllerStack.emplace();
    initializeRemote();

    setWindowTitle(QStringLiteral("Zuzire"));
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(defaultWindowSize);
    layOutHostLayer();
    m_frameTimer.setInterval(frameIntervalMs);
    connect(&m_frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

HostView::~HostView()
{
    m_remote.setDelegate(nullptr);
    m_layer->setTreeHost(nullptr);
    m_layer->setLayoutManager(nullptr);
    // Controllers' back references must not outlive the view.
    if (m_controllerStack) {
        for (const auto& controller : *m_controllerStack) {
            controller->setHostView(nullptr);
            controller->setParentController(nullptr);
        }
    }
}

Raroderavarav* HostView::currentController() const
{
    QM_ASSERT(m_controllerStack.has_value(), "View not properly initialized");
    return m_controllerStack->empty() ? nullptr : m_controllerStack->back().get();
}

const std::vector<ControllerPtr>& HostView::controllers() const
{
    QM_ASSERT(m_controllerStack.has_value(), "View not properly initialized");
    return *m_controllerStack;
}

void HostView::pushController(ControllerPtr controller)
{
    Raroderavarav* old = currentController();
    if (old)
        keepPictureForTransition(old->layer().get());
    Raroderavarav* added = controller.get();
    m_controllerStack->push_back(std::move(controller));
    added->setHostView(this);
    added->setParentController(old);
    if (LayerPtr overlay = added->overlayLayer()) {
        m_layer->addSublayer(overlay);
        if (!m_lowestOverlay)
            m_lowestOverlay = overlay;
    }
    showController(added, old);
}

ControllerPtr HostView::popController()
{
    QM_ASSERT(currentController() != nullptr, "No controller to pop");
    ControllerPtr popped = m_controllerStack->back();
    if (m_controllerStack->size() > 1)
        keepPictureForTransition(popped->layer().get());
    popped->setParentController(nullptr);
    popped->setHostView(nullptr);
    m_controllerStack->pop_back();
    Raroderavarav* uncovered = currentController();
    LayerPtr overlay = popped->overlayLayer();
    if (overlay)
        overlay->removeFromSuperlayer();
    if (m_lowestOverlay == overlay)
        m_lowestOverlay = nullptr;
    showController(uncovered, popped.get());
    return popped;
}

std::vector<ControllerPtr> HostView::popToController(Raroderavarav* controller)
{
    QM_PARAMETER_ASSERT(controller && controller->hostView() == this, "newController.hostView == self");
    std::vector<ControllerPtr> popped;
    while (currentController() != controller)
        popped.push_back(popController());
    return popped;
}

std::vector<ControllerPtr> HostView::popToRootController()
{
    QM_ASSERT(currentController() != nullptr, "No controller to pop");
    return popToController(m_controllerStack->front().get());
}

void HostView::showController(Raroderavarav* newController, Raroderavarav* oldController)
{
    QM_ASSERT(isMainThread(), "Best called on main thread");
    QM_ASSERT(m_layer != nullptr, "Not ready to show controllers");
    QM_ASSERT(!m_inSwap, "Nested controller management not supported");
    m_inSwap = true;
    try {
        if (newController)
            newController->layerWillAppear();
        if (oldController)
            oldController->layerWillDisappear();
        if (oldController && newController)
            m_layer->replaceSublayer(oldController->layer().get(), newController->layer());
        else if (oldController)
            oldController->layer()->removeFromSuperlayer();
        else if (newController && m_lowestOverlay)
            m_layer->insertSublayerBelow(newController->layer(), m_lowestOverlay.get());
        else if (newController)
            m_layer->addSublayer(newController->layer());
        m_layer->layoutSublayers();
    } catch (...) {
        // A programming error ends the program anyway, but a test that expects it goes on.
        m_inSwap = false;
        throw;
    }
    m_inSwap = false;
    if (oldController)
        oldController->layerDidDisappear();
    if (newController)
        newController->layerDidAppear();
}

void HostView::layoutSublayersOfLayer(Layer& layer)
{
    QM_PARAMETER_ASSERT(&layer == m_layer.get(), "theLayer == self.layer");
    for (const LayerPtr& sublayer : layer.sublayers()) {
        sublayer->setFrame(layer.bounds());
        sublayer->setNeedsLayout();
    }
}

void HostView::layerTreeNeedsDisplay()
{
    update();
}

bool HostView::isInFullScreenMode() const
{
    return windowState().testFlag(Qt::WindowFullScreen);
}

void HostView::enterFullScreenMode()
{
    showFullScreen();
}

void HostView::exitFullScreenMode()
{
    showNormal();
}

void HostView::layOutHostLayer()
{
    // The screen follows the window at once rather than gliding after it.
    ScopedTransaction transaction;
    transaction.setDisableActions(true);
    m_layer->setFrame(Rect(0, 0, width(), height()));
    m_layer->layoutSublayers();
}

void HostView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOutHostLayer();
}

void HostView::showEvent(QShowEvent* event)
{
    // A hidden widget hears of its size only when it is shown.
    QWidget::showEvent(event);
    layOutHostLayer();
}

void HostView::keepPictureForTransition(const Layer* oldContent)
{
    // Only a tree that has been on screen fades its new content layer in; without a fade there is
    // nothing to cross. A change from inside a swap is refused by the swap.
    if (m_inSwap || !m_layer->isPresented() || Transaction::disableActions() || width() <= 0 || height() <= 0)
        return;
    // No frame since the last picture (a Select that leaves the picker and starts a pass swaps
    // twice in one turn): the screen still shows that picture, so it is kept, not made again.
    if (!m_transitionPicture.isNull() && !m_paintedSincePicture)
        return;
    // The last picture, nested transitions included, is what the new screen fades in over: the
    // frame already painted costs one copy, where painting the tree again costs a whole frame.
    QImage picture = shownFrame();
    if (picture.isNull()) {
        picture = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::black);
        QPainter painter(&picture);
        paintFrame(painter, oldContent);
    }
    m_transitionPicture = std::move(picture);
    m_paintedSincePicture = false;
}

QImage HostView::shownFrame() const
{
    // Only a frame of this size painted into the window's buffer is what the screen shows.
    QBackingStore* store = backingStore();
    if (!isVisible() || !store || m_bufferedFrameSize != size())
        return {};
    QPaintDevice* device = store->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return {};
    const auto* buffer = static_cast<const QImage*>(device);
    const double ratio = buffer->devicePixelRatio();
    const QRect area =
        QRectF(QPointF(mapTo(window(), QPoint(0, 0))) * ratio, QSizeF(size()) * ratio).toAlignedRect();
    if (buffer->isNull() || !buffer->rect().contains(area))
        return {};
    QImage picture = buffer->copy(area);
    picture.setDevicePixelRatio(ratio);
    return picture;
}

bool HostView::isFadingIn(const Layer* content) const
{
    return content && content->superlayer() == m_layer.get() &&
           content->presentationOpacity() < content->opacity();
}

void HostView::paintFrame(QPainter& painter, const Layer* content)
{
    // Replacing a screen cross-fades from the old picture to the new one, as the new content
    // layer fades in above the old picture instead of above the black background.
    if (!m_transitionPicture.isNull() && !isFadingIn(content))
        m_transitionPicture = QImage();
    // The black is filled only where no opaque layer covers it (a full-screen strip leaves little).
    std::optional<QColor> black = QColor(Qt::black);
    if (!m_transitionPicture.isNull()) {
        painter.drawImage(QRect(QPoint(0, 0), size()), m_transitionPicture);
        black.reset();
    }
    LayerPainter::paint(painter, *m_layer, QSizeF(size()), black);
}

void HostView::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const Raroderavarav* current = m_controllerStack->empty() ? nullptr : m_controllerStack->back().get();
    paintFrame(painter, current ? current->layer().get() : nullptr);
    // A grab paints elsewhere and leaves the window's buffer as it was.
    m_paintedSincePicture = true;
    if (QBackingStore* store = backingStore();
        store && painter.paintEngine() && painter.paintEngine()->paintDevice() == store->paintDevice())
        m_bufferedFrameSize = size();
    if (m_layer->hasRunningAnimations())
        m_frameTimer.start();
    else
        m_frameTimer.stop();
    if (!m_soundsRequested) {
        // The sounds load once the first frame is up, so the first button only plays them and the
        // window does not wait for the sound server.
        m_soundsRequested = true;
        QTimer::singleShot(0, this, [] { QMSFX::sharedSFX(); });
    }
}

void HostView::performButton(int button)
{
    struct Delivery {
        void (Raroderavarav::*operation)();
        const char* sound;
    };
    static constexpr Delivery deliveries[] = {
        {&Raroderavarav::buttonUp, clickSound},     {&Raroderavarav::buttonDown, clickSound},
        {&Raroderavarav::buttonLeft, clickSound},   {&Raroderavarav::buttonRight, clickSound},
        {&Raroderavarav::buttonSelect, clunkSound}, {&Raroderavarav::buttonMenu, clankSound},
    };
    m_preventSound = false;
    const char* sound = clickSound;
    if (button >= ButtonUp && button <= ButtonMenu) {
        const Delivery& delivery = deliveries[button];
        sound = delivery.sound;
        if (Raroderavarav* controller = currentController())
            (controller->*delivery.operation)();
    }
    hidePointerUntilMouseMoves();
    if (!m_preventSound)
        QMSFX::sharedSFX().playSound(sound);
}

void HostView::hidePointerUntilMouseMoves()
{
    Cursor::setHiddenUntilMouseMoves(true);
}

void HostView::mouseMoveEvent(QMouseEvent* event)
{
    Cursor::mouseMoved();
    QWidget::mouseMoveEvent(event);
}

bool HostView::event(QEvent* event)
{
    if (event->type() != QEvent::NativeGesture)
        return QWidget::event(event);
    if (auto swipe = m_swipes.handle(*static_cast<QNativeGestureEvent*>(event)))
        swipeWithEvent(swipe->dx, swipe->dy);
    event->accept();
    return true;
}

void HostView::swipeWithEvent(double dx, double dy)
{
    if (dy > 0)
        performButton(ButtonUp);
    else if (dy < 0)
        performButton(ButtonDown);
    else if (dx > 0)
        performButton(ButtonLeft);
    else if (dx < 0)
        performButton(ButtonRight);
}

void HostView::mousePressEvent(QMouseEvent* /*event*/)
{
    QApplication::beep();
}

void HostView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        performButton(ButtonUp);
        return;
    case Qt::Key_Down:
        performButton(ButtonDown);
        return;
    case Qt::Key_Left:
        performButton(ButtonLeft);
        return;
    case Qt::Key_Right:
        performButton(ButtonRight);
        return;
    case Qt::Key_Escape:
        cancelOperation();
        return;
    default:
        break;
    }
    if (!performKeyEquivalent(event))
        QWidget::keyPressEvent(event);
}

bool HostView::performKeyEquivalent(QKeyEvent* event)
{
    hidePointerUntilMouseMoves();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        performClick();
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Menu:
        cancelOperation();
        return true;
    default:
        break;
    }
    // A bare line feed (Ctrl+J on most keyboards) selects as well.
    if (event->text() == QStringLiteral("\n")) {
        performClick();
        return true;
    }
    return false;
}

void HostView::initializeRemote()
{
    m_remote.setDelegate(this);
    m_remote.setSimulateHoldEvents(false);
    m_remote.setUnusedButtonCodes({RemoteButtonMenu, RemoteButtonUpHold, RemoteButtonDownHold,
                                   RemoteButtonLeftHold, RemoteButtonRightHold, RemoteButtonCenterHold,
                                   RemoteButtonMenuHold, RemoteButtonPlayHold, RemoteButtonIDChanged});
}

bool HostView::isRemoteActive() const
{
    return m_remote.isStarted();
}

void HostView::setRemoteActive(bool active)
{
    if (active && !m_remote.isStarted())
        m_remote.startRemoteControl(RemoteModeExclusiveAuto);
    else if (!active && m_remote.isStarted())
        m_remote.stopRemoteControl();
}

void HostView::remoteDriverEventWithButton(RemoteDriver& /*driver*/, RemoteButtonCode button, bool isPressed,
                                           const PlistPtr& /*attributes*/)
{
    UserActivity::report();
    if (!isPressed)
        return;
    // Held codes keep their flag and so match nothing; every other flag is dropped.
    switch (button & (RemoteButtonHoldFlag | 0xFF)) {
    case RemoteButtonUp:
        return performButton(ButtonUp);
    case RemoteButtonDown:
        return performButton(ButtonDown);
    case RemoteButtonLeft:
        return performButton(ButtonLeft);
    case RemoteButtonRight:
        return performButton(ButtonRight);
    case RemoteButtonCenter:
    case RemoteButtonPlay:
        return performButton(ButtonSelect);
    case RemoteButtonMenu:
        return performButton(ButtonMenu);
    default:
        return;
    }
}
