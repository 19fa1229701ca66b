#include "rating/RootController.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "rating/AlbumController.h"
#include "rating/StageController.h"
#include "support/QMKVOAdditions.h"
#include "ui/ApplicationDelegate.h"
#include "ui/HostView.h"
#include "ui/QMColorAdditions.h"
#include "ui/QMLayerAdditions.h"

#include <QDebug>
#include <algorithm>
#include <utility>

namespace {
// The screen is laid out on a virtual canvas of this size, scaled to the layer.
constexpr double canvasWidth = 800;
constexpr double canvasHeight = 600;
constexpr int defaultStages = 4;
} // namespace

RootController::RootController()
{
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    m_statusLayer = TextLayer::create();
    m_statusLayer->setForegroundColor(qm_CGColor(Color::white(0, 1)));
    m_statusLayer->setFont(QStringLiteral("Futura"));
    m_statusLayer->setAlignmentMode(TextLayer::AlignmentMode::Center);
    layer()->addSublayer(m_statusLayer);
    // How to make a library, beneath "No iPhoto library found!": a first run has none.
    m_hintLayer = TextLayer::create();
    m_hintLayer->setForegroundColor(qm_CGColor(Color::white(0.5, 1)));
    m_hintLayer->setAlignmentMode(TextLayer::AlignmentMode::Center);
    m_hintLayer->setHidden(true);
    layer()->addSublayer(m_hintLayer);
    layer()->setNeedsLayout();
    qm_addObserver<RootController>(*this, this, "status",
                                   KeyValueObservingOptions::New | KeyValueObservingOptions::Initial);
    m_reloadObservation = NotificationCenter::defaultCenter().addObserver(
        AlbumInfo::didReloadNotification, nullptr, [this](const Notification& n) { albumInfoDidLoad(n); });
}

RootController::~RootController() = default;

QString RootController::textForStatus(int32_t status)
{
    switch (status) {
    case 0:
        return QStringLiteral("Zuzire: loading.");
    case 1:
        return QStringLiteral("Finishing work: please stand by.");
    case -1:
        return QStringLiteral("No photos need rating.");
    case -2:
        return QStringLiteral("No iPhoto library found!");
    case -3:
        return QStringLiteral("Remote broken \u2014 Upgrade OS X");
    default:
        return {};
    }
}

int RootController::numberOfStages()
{
    const int64_t stages = UserDefaults::standard().integerForKey("NumberOfStages");
    return stages >= 1 && stages <= defaultStages ? static_cast<int>(stages) : defaultStages;
}

void RootController::setStatus(int32_t status)
{
    m_status = status;
    didChangeValueForKey("status");
}

std::any RootController::valueForKey(const std::string& key) const
{
    if (key == "status")
        return m_status;
    return Raroderavarav::valueForKey(key);
}

void RootController::observeValueForKeyPath(const std::string& keyPath, Observable* object,
                                            const KeyValueChange& change, const void* context)
{
    if (context != QMKVOObservationContext) {
        Raroderavarav::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    if (keyPath != "status")
        return;
    const QString text = textForStatus(m_status);
    QM_ASSERT(!text.isEmpty(), "Bad status is bad");
    m_statusLayer->setString(text);
    const bool noLibrary = m_status == -2;
    m_hintLayer->setString(
        noLibrary ? QStringLiteral("Make one from a photo folder: zuzire-library import FOLDER") : QString());
    m_hintLayer->setHidden(!noLibrary);
    ApplicationDelegate* application = ApplicationDelegate::shared();
    if (m_status == -1 && hostView() && hostView()->isInFullScreenMode() && application)
        application->toggleFullScreen();
}

void RootController::albumInfoDidLoad(const Notification& notification)
{
    // A reload that finishes while the program shuts down must neither open the picker nor hide
    // the finishing message.
    ApplicationDelegate* application = ApplicationDelegate::shared();
    if (application && application->isTerminating())
        return;
    if (PlistPtr albums = notification.plistForKey(AlbumInfo::unratedAlbumsKey)) {
        QM_ASSERT(albums->asArray() && !albums->asArray()->empty(), "Albums expected!");
        m_albumPicker = std::make_shared<AlbumController>(*albums->asArray());
        if (hostView())
            hostView()->pushController(m_albumPicker);
        return;
    }
    const Error* error = notification.errorForKey(AlbumInfo::errorKey);
    if (error && error->domain() == Error::applicationDomain) {
        setStatus(-1);
        return;
    }
    qWarning("Error loading iPhoto data - %s", error ? error->description().c_str() : "(null)");
    setStatus(-2);
}

void RootController::layerDidAppear()
{
    ApplicationDelegate* application = ApplicationDelegate::shared();
    if (application && application->isTerminating())
        return;
    if (m_albumPicker)
        startStageForChosenAlbum();
    else if (m_status == 0 && m_reloadHeld)
        m_reloadWanted = true;
    else if (m_status == 0)
        AlbumInfo::sharedAlbumInfo()->reload();
}

void RootController::releaseReload()
{
    m_reloadHeld = false;
    if (!std::exchange(m_reloadWanted, false))
        return;
    ApplicationDelegate* application = ApplicationDelegate::shared();
    if (application && application->isTerminating())
        return;
    AlbumInfo::sharedAlbumInfo()->reload();
}

void RootController::startStageForChosenAlbum()
{
    // Held here until the stage has its photos: the albums are the picker's.
    const std::shared_ptr<AlbumController> picker = std::move(m_albumPicker);
    const PlistArray& albums = picker->albums();
    const size_t position = picker->position();
    if (position >= albums.size() || !hostView())
        return;
    // The stage shares the album's list rather than copying tens of thousands of references.
    const PlistPtr items = albums[position]->objectForKey("items");
    std::shared_ptr<const PlistArray> photos;
    if (items && items->asArray())
        photos = std::shared_ptr<const PlistArray>(items, items->asArray());
    auto stage = std::make_shared<StageController>(std::move(photos), numberOfStages());
    hostView()->pushController(stage);
}

void RootController::buttonMenu()
{
    if (ApplicationDelegate* application = ApplicationDelegate::shared())
        application->terminate();
}

void RootController::layoutSublayersOfLayer(Layer& theLayer)
{
    QM_ASSERT(&theLayer == layer().get(), "Layout own layer only");
    const Rect bounds = theLayer.bounds();
    const double sx = bounds.width() / canvasWidth;
    const double sy = bounds.height() / canvasHeight;
    m_statusLayer->setFontSize(50 * std::min(sx, sy));
    m_statusLayer->setBounds(Rect(0, 0, canvasWidth * sx, 75 * sy));
    m_statusLayer->setPosition(Point{400 * sx, 350 * sy});
    m_statusLayer->setFrame(qm_pixelAlignRect(theLayer, m_statusLayer->frame()));
    m_hintLayer->setFontSize(18 * std::min(sx, sy));
    m_hintLayer->setBounds(Rect(0, 0, canvasWidth * sx, 40 * sy));
    m_hintLayer->setPosition(Point{400 * sx, 290 * sy});
    m_hintLayer->setFrame(qm_pixelAlignRect(theLayer, m_hintLayer->frame()));
}
