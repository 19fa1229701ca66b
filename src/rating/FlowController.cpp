#include "rating/FlowController.h"

#include "library/AlbumInfo.h"
#include "rating/BreakMenuHost.h"
#include "rating/PassDescription.h"
#include "support/QMSFX.h"
#include "ui/HostView.h"
#include "ui/QMColorAdditions.h"

namespace {
// The sound that confirms a decision; none for a status the user cannot choose.
const char* soundForStatus(ItemStatus status)
{
    switch (status) {
    case ItemStatusNeutral:
        return "mehSound";
    case ItemStatusUp:
        return "upSound";
    case ItemStatusDown:
        return "downSound";
    default:
        return nullptr;
    }
}
} // namespace

FlowController::FlowController(std::shared_ptr<RateSet> rateSet)
    : m_rateSet(rateSet ? std::move(rateSet) : std::make_shared<RateSet>(PlistArray()))
    , m_albumInfo(AlbumInfo::sharedAlbumInfo())
    , m_itemDisplay(std::make_unique<ItemDisplay>())
{
    m_itemDisplay->setDataSource(this);
    const LayerPtr& strip = m_itemDisplay->layer();
    strip->setBackgroundColor(qm_CGColor(Color::white(0.5, 1.0)));
    strip->setAutoresizingMask(AutoresizingMask::FlexibleWidth | AutoresizingMask::FlexibleHeight);
    strip->setFrame(layer()->bounds());
    layer()->addSublayer(strip);
}

FlowController::~FlowController()
{
    // Waits for an image request under way, which reads the rate set.
    m_itemDisplay->setDataSource(nullptr);
}

void FlowController::rateCurrentItem(ItemStatus status)
{
    if (const char* sound = soundForStatus(status)) {
        if (HostView* view = hostView())
            view->preventDefaultSound();
        QMSFX::sharedSFX().playSound(sound);
    }
    // An empty set has no photo in the centre to decide about.
    if (position() < m_rateSet->count())
        m_rateSet->setItemStatus(status, position());
    m_itemDisplay->layer()->setNeedsLayout();
}

void FlowController::advance()
{
    if (position() + 1 < m_rateSet->count()) {
        m_itemDisplay->setPosition(position() + 1);
        return;
    }
    // The strip stays on the last photo: its index is where the pass ended.
    if (HostView* view = hostView())
        view->popController();
}

void FlowController::retreat()
{
    if (position() > 0)
        m_itemDisplay->setPosition(position() - 1);
}

void FlowController::layerDidAppear()
{
    rateCurrentItem(ItemStatusNeutral);
    if (auto* host = dynamic_cast<BreakMenuHost*>(parentController()))
        host->checkBreakMenu();
}

void FlowController::buttonUp()
{
    rateCurrentItem(ItemStatusUp);
    advance();
}

void FlowController::buttonDown()
{
    rateCurrentItem(ItemStatusDown);
    advance();
}

void FlowController::buttonLeft()
{
    retreat();
    rateCurrentItem(ItemStatusNeutral);
}

void FlowController::buttonRight()
{
    if (m_autoHold && position() < m_rateSet->count() &&
        m_rateSet->itemStatusAtIndex(position()) == ItemStatusNeutral)
        rateCurrentItem(ItemStatusDown);
    advance();
}

void FlowController::buttonMenu()
{
    if (auto* host = dynamic_cast<BreakMenuHost*>(parentController()))
        host->showBreakMenu();
}

std::size_t FlowController::numberOfItemsInDisplay(ItemDisplay& /*display*/)
{
    return m_rateSet->count();
}

QImage FlowController::itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size)
{
    const ImageWork work = itemDisplayImageWork(display, index, size);
    return work ? work() : QImage();
}

ItemDisplayDataSource::ImageWork FlowController::itemDisplayImageWork(ItemDisplay& /*display*/,
                                                                      std::size_t index, unsigned size)
{
    if (index >= m_rateSet->count())
        return {};
    return AlbumInfo::imageWorkForItem(m_albumInfo, m_rateSet->itemAtIndex(index), size);
}

double FlowController::itemDisplayNeedsAspectRatio(ItemDisplay& /*display*/, std::size_t index)
{
    return m_albumInfo->aspectRatioForItem(m_rateSet->itemAtIndex(index));
}

long FlowController::itemDisplayNeedsAlignment(ItemDisplay& /*display*/, std::size_t index)
{
    return m_rateSet->itemStatusAtIndex(index);
}

QJsonObject FlowController::describeForAutomation() const
{
    QJsonObject description;
    description["position"] = qint64(position());
    description["count"] = qint64(m_rateSet->count());
    description["autoHold"] = m_autoHold;
    description["photos"] = PassDescription::shownPhotos(*m_itemDisplay, [this](std::size_t index) {
        return PassDescription::photo(index, m_rateSet->itemAtIndex(index),
                                      m_rateSet->itemStatusAtIndex(index));
    });
    return description;
}
