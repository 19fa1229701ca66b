#include "rating/InterflowController.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/InternalInconsistency.h"
#include "rating/PassDescription.h"
#include "ui/HostView.h"
#include "ui/QMColorAdditions.h"

#include <algorithm>

namespace {
// The last index of a list, or 0 when it holds fewer than two items.
std::size_t lastIndex(std::size_t count)
{
    return count < 2 ? 0 : count - 1;
}
} // namespace

InterflowController::InterflowController(PlistArray items, bool threeWay)
    : InterflowController(std::make_shared<const PlistArray>(std::move(items)), threeWay)
{}

InterflowController::InterflowController(std::shared_ptr<const PlistArray> items, bool threeWay)
    : m_rateSet(RateSet::rateSetSharingItems(std::move(items)))
    , m_threeWay(threeWay)
    , m_albumInfo(AlbumInfo::sharedAlbumInfo())
{
    // Each strip is known as ours before it first asks for its items.
    m_promoteDisplay = std::make_unique<ItemDisplay>();
    m_rateDisplay1 = std::make_unique<ItemDisplay>();
    if (m_threeWay)
        m_rateDisplay2 = std::make_unique<ItemDisplay>();
    for (ItemDisplay* display : {m_promoteDisplay.get(), m_rateDisplay1.get(), m_rateDisplay2.get()}) {
        if (display) {
            display->setDataSource(this);
            layer()->addSublayer(display->layer());
        }
    }
    // The window behind is black: without a background of its own the black prompt and the
    // stage's captions above it could not be read.
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    m_proceedText = TextLayer::create();
    m_proceedText->setFont(QStringLiteral("Futura"));
    m_proceedText->setForegroundColor(qm_CGColor(Color::black()));
    m_proceedText->setAlignmentMode(TextLayer::AlignmentMode::Center);
    layer()->addSublayer(m_proceedText);
    layer()->setNeedsLayout();
}

InterflowController::~InterflowController()
{
    m_selfConfirmation.cancel();
    // Waits for image requests under way, which read the lists.
    for (ItemDisplay* display : {m_promoteDisplay.get(), m_rateDisplay1.get(), m_rateDisplay2.get()}) {
        if (display)
            display->setDataSource(nullptr);
    }
}

const InterflowController::ItemList& InterflowController::itemsForDisplay(const ItemDisplay& display) const
{
    if (&display == m_promoteDisplay.get())
        return m_promotedItems;
    if (&display == m_rateDisplay1.get())
        return m_ratedItems1;
    QM_ASSERT(&display == m_rateDisplay2.get(), "Unknown item display");
    return m_ratedItems2;
}

void InterflowController::setLists(ItemList ratedItems1, ItemList ratedItems2, ItemList promotedItems)
{
    std::lock_guard lock(m_listsMutex);
    m_ratedItems1 = std::move(ratedItems1);
    m_ratedItems2 = std::move(ratedItems2);
    m_promotedItems = std::move(promotedItems);
}

void InterflowController::reloadDisplays()
{
    m_promoteDisplay->reloadData();
    m_rateDisplay1->reloadData();
    if (m_rateDisplay2)
        m_rateDisplay2->reloadData();
}

void InterflowController::layerDidAppear()
{
    m_selfConfirmation.cancel();
    const std::size_t count = m_rateSet ? m_rateSet->count() : 0;
    // Photos the user went past without a choice were passed over; the one on screen when the
    // pass ended, and those after it, were never decided.
    if (m_threeWay) {
        for (std::size_t index = 0; index < std::min(m_ratePosition, count); ++index) {
            if (m_rateSet->itemStatusAtIndex(index) == ItemStatusNeutral)
                m_rateSet->setItemStatus(ItemStatusPassed, index);
        }
    }
    const auto withStatus = [this](ItemStatus status) {
        return m_rateSet ? m_rateSet->itemsWithStatus(status) : PlistArray();
    };
    PlistArray ratedDown = withStatus(ItemStatusDown);
    // After the first two-way pass, photos left undecided count as rated down; on the first they
    // are neither rated nor carried on.
    if (!m_threeWay && m_stage > 1) {
        PlistArray undecided = withStatus(ItemStatusNeutral);
        ratedDown.insert(ratedDown.end(), undecided.begin(), undecided.end());
    }
    setLists(std::make_shared<const PlistArray>(std::move(ratedDown)),
             std::make_shared<const PlistArray>(withStatus(ItemStatusPassed)),
             std::make_shared<const PlistArray>(withStatus(ItemStatusUp)));
    m_proceedText->setString(isLastStage() ? QStringLiteral("Done. Please confirm.")
                                           : QStringLiteral("Please confirm."));

    if (m_ratedItems1->empty() && m_ratedItems2->empty() && m_promotedItems->empty()) {
        // Nothing to show: confirm without waiting for the user, once the push has finished.
        m_selfConfirmation = RunLoop::performAfterDelay(0, [this] { confirmOnItsOwn(); });
        return;
    }
    reloadDisplays();
    m_rateDisplay1->setPosition(0);
    if (m_rateDisplay2)
        m_rateDisplay2->setPosition(0);
    m_promoteDisplay->setPosition(lastIndex(m_promotedItems->size()));
    m_timer = std::make_unique<AdvanceTimer>(stripStepInterval, [this] { updateDisplays(); });
}

void InterflowController::layerWillDisappear()
{
    m_selfConfirmation.cancel();
    m_timer.reset();
    setLists(nullptr, nullptr, nullptr);
    reloadDisplays();
}

void InterflowController::confirmOnItsOwn()
{
    // Only the screen that asked, still shown and still current, confirms.
    if (!m_ratedItems1 || !hostView() || hostView()->currentController() != this)
        return;
    buttonRight();
}

void InterflowController::updateDisplays()
{
    const auto forwards = [](ItemDisplay& display, const ItemList& items) {
        const std::size_t count = items ? items->size() : 0;
        display.setPosition(display.position() + 1 < count ? display.position() + 1 : 0);
    };
    forwards(*m_rateDisplay1, m_ratedItems1);
    if (m_rateDisplay2)
        forwards(*m_rateDisplay2, m_ratedItems2);
    const std::size_t promoted = m_promotedItems ? m_promotedItems->size() : 0;
    const std::size_t position = m_promoteDisplay->position();
    m_promoteDisplay->setPosition(position > 0 ? position - 1 : lastIndex(promoted));
}

void InterflowController::applyRating(unsigned rating, const PlistArray& items)
{
    for (const PlistPtr& item : items)
        m_albumInfo->applyRating(rating, item);
}

void InterflowController::buttonRight()
{
    QM_ASSERT(m_ratedItems1 && m_ratedItems2 && m_promotedItems, "Items not correctly set");
    const unsigned stage = m_stage;
    ItemList promoted = m_promotedItems;
    if (m_threeWay) {
        QM_ASSERT(stage >= 2, "Stage (or three-way) incorrectly set");
        // From level 4 on, photos rated down keep the rating they were promoted with.
        if (stage <= 3)
            applyRating(stage - 1, *m_ratedItems1);
        applyRating(stage, *m_ratedItems2);
        // Provisional: they go on to the next pass and may rise further.
        if (!isLastStage())
            applyRating(stage + 1, *promoted);
    } else {
        applyRating(stage, *m_ratedItems1);
    }
    if (isLastStage()) {
        applyRating(stage + 1, *promoted);
        promoted = std::make_shared<const PlistArray>();
    }
    if (!promoted->empty()) {
        m_rateSet = RateSet::rateSetSharingItems(promoted);
        m_state = InterflowStateNextStage;
    } else {
        m_rateSet = nullptr;
        m_state = InterflowStateFinished;
    }
    if (HostView* view = hostView())
        view->popController();
}

void InterflowController::buttonLeft()
{
    // Going back to the pass undoes a choice to end the run after it.
    m_finishAfterThisPass = false;
    m_state = InterflowStateReturn;
    if (HostView* view = hostView())
        view->popController();
}

void InterflowController::layoutSublayersOfLayer(Layer& theLayer)
{
    QM_ASSERT(&theLayer == layer().get(), "Only layout own layer");
    const Rect bounds = theLayer.bounds();
    const double rowHeight = bounds.height() / (m_threeWay ? 4.0 : 3.0);
    const auto place = [&](Layer& row, int index) {
        row.setFrame(Rect(bounds.origin.x, bounds.origin.y + index * rowHeight, bounds.width(), rowHeight));
    };
    // Bottom up: rated down, passed over, the prompt, promoted.
    place(*m_rateDisplay1->layer(), 0);
    if (m_rateDisplay2)
        place(*m_rateDisplay2->layer(), 1);
    place(*m_proceedText, m_threeWay ? 2 : 1);
    place(*m_promoteDisplay->layer(), m_threeWay ? 3 : 2);
}

std::size_t InterflowController::numberOfItemsInDisplay(ItemDisplay& display)
{
    const ItemList& items = itemsForDisplay(display);
    return items ? items->size() : 0;
}

QImage InterflowController::itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size)
{
    const ImageWork work = itemDisplayImageWork(display, index, size);
    return work ? work() : QImage();
}

ItemDisplayDataSource::ImageWork InterflowController::itemDisplayImageWork(ItemDisplay& display,
                                                                           std::size_t index, unsigned size)
{
    ItemList items;
    {
        std::lock_guard lock(m_listsMutex);
        items = itemsForDisplay(display);
    }
    // A request that outlived its list finds nothing.
    if (!items || index >= items->size())
        return {};
    return AlbumInfo::imageWorkForItem(m_albumInfo, (*items)[index], size);
}

double InterflowController::itemDisplayNeedsAspectRatio(ItemDisplay& display, std::size_t index)
{
    const ItemList& items = itemsForDisplay(display);
    return items && index < items->size() ? m_albumInfo->aspectRatioForItem((*items)[index]) : 0.0;
}

ItemStatus InterflowController::statusOfItem(const PlistPtr& item) const
{
    for (std::size_t index = 0; m_rateSet && index < m_rateSet->count(); ++index) {
        if (m_rateSet->itemAtIndex(index) == item)
            return m_rateSet->itemStatusAtIndex(index);
    }
    return ItemStatusNeutral;
}

QJsonObject InterflowController::describeForAutomation() const
{
    const auto strip = [this](const ItemDisplay& display) {
        const ItemList& items = itemsForDisplay(display);
        return PassDescription::strip(display, items ? items->size() : 0, [&](std::size_t index) {
            const PlistPtr item = items && index < items->size() ? (*items)[index] : nullptr;
            return PassDescription::photo(index, item, statusOfItem(item));
        });
    };
    QJsonObject strips{{"promoted", strip(*m_promoteDisplay)}, {"ratedDown", strip(*m_rateDisplay1)}};
    if (m_rateDisplay2)
        strips["passed"] = strip(*m_rateDisplay2);
    return QJsonObject{{"state", int(m_state)},
                       {"stage", int(m_stage)},
                       {"lastStage", isLastStage()},
                       {"threeWay", m_threeWay},
                       {"ratePosition", qint64(m_ratePosition)},
                       {"count", qint64(m_rateSet ? m_rateSet->count() : 0)},
                       {"strips", strips}};
}
