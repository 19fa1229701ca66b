#include "rating/RootController.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/InternalInconsistency.h"
#include "ui/ApplicationDelegate.h"

#include <algorithm>

namespace {
// The screen is laid out on a virtual canvas of this size, scaled to the layer.
constexpr double canvasWidth = 800;
constexpr double canvasHeight = 600;
} // namespace

RootController::RootController()
{
    layer()->setBackgroundColor(Color::white(1, 1));
    m_statusLayer = TextLayer::create();
    m_statusLayer->setForegroundColor(Color::white(0, 1));
    m_statusLayer->setFont(QStringLiteral("Futura"));
    m_statusLayer->setAlignmentMode(TextLayer::AlignmentMode::Center);
    layer()->addSublayer(m_statusLayer);
    layer()->setNeedsLayout();
    setStatus(0);
}

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

void RootController::setStatus(int32_t status)
{
    QM_ASSERT(!textForStatus(status).isEmpty(), "Bad status is bad");
    m_status = status;
    m_statusLayer->setString(textForStatus(status));
}

void RootController::layerDidAppear()
{
    ApplicationDelegate* application = ApplicationDelegate::shared();
    if (application && application->isTerminating())
        return;
    if (m_status == 0)
        AlbumInfo::sharedAlbumInfo()->reload();
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
}
