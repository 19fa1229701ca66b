#include "rating/StageController.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/InternalInconsistency.h"
#include "rating/FlowController.h"
#include "rating/InterflowController.h"
#include "ui/ApplicationDelegate.h"
#include "ui/HostView.h"
#include "ui/MenuController.h"
#include "ui/QMColorAdditions.h"

#include <QJsonArray>
#include <algorithm>

namespace {
// The captions are laid out on this virtual canvas, scaled to the overlay.
constexpr double canvasWidth = 800;
constexpr double canvasHeight = 600;
constexpr double captionFontSize = 36;
constexpr int starScale = 5;

bool isTerminating()
{
    const ApplicationDelegate* application = ApplicationDelegate::shared();
    return application && application->isTerminating();
}

QString stars(int count)
{
    return QString(std::max(count, 0), QChar(0x2605));
}
} // namespace

StageController::StageController(PlistArray items, int stages)
    : StageController(std::make_shared<const PlistArray>(std::move(items)), stages)
{}

StageController::StageController(std::shared_ptr<const PlistArray> items, int stages)
    : m_items(items ? std::move(items) : std::make_shared<const PlistArray>())
    , m_numberOfStages(static_cast<unsigned>(std::clamp(stages, 0, 5)))
{
    QM_PARAMETER_ASSERT(0 < stages && stages < 5, "0 < numStages && numStages < 5");
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    m_overlayLayer = Layer::create();
    m_overlayLayer->setLayoutManager(this);
    m_overlayLayer->setShadowRadius(10.0);
    m_overlayLayer->setShadowOpacity(1.0);
    m_holdCaption = TextLayer::create();
    m_promoteCaption = TextLayer::create();
    for (TextLayer* caption : {m_holdCaption.get(), m_promoteCaption.get()}) {
        caption->setForegroundColor(qm_CGColor(Color::black()));
        caption->setAlignmentMode(TextLayer::AlignmentMode::Left);
    }
    if (m_numberOfStages > 2)
        m_promoteCaption->setAlignmentMode(TextLayer::AlignmentMode::Right);
    m_overlayLayer->addSublayer(m_holdCaption);
    m_overlayLayer->addSublayer(m_promoteCaption);
    m_overlayLayer->setNeedsLayout();
    m_interflower = std::make_shared<InterflowController>(m_items, m_numberOfStages <= 2);
    m_interflower->setState(InterflowStateNextStage);
}

StageController::~StageController()
{
    m_flowPush.cancel();
    m_overlayLayer->setLayoutManager(nullptr);
    // The passes share the album's photos; once they are gone, m_items holds the last references,
    // and an album of tens of thousands of photos takes too long to release on the main thread.
    m_breakMenu.reset();
    m_flower.reset();
    m_interflower.reset();
    AlbumInfo::sharedAlbumInfo()->releaseRecords(std::move(m_items));
}

QStringList StageController::breakChoices()
{
    return {QStringLiteral("Toggle fullscreen"), QStringLiteral("Finish this level"),
            QStringLiteral("Exit rating")};
}

void StageController::proceedOmatic()
{
    HostView* view = hostView();
    if (!view)
        return;
    switch (m_interflower->state()) {
    case InterflowStateRating:
        if (m_flower)
            m_interflower->setRatePosition(m_flower->position());
        view->pushController(m_interflower);
        return;
    case InterflowStateReturn:
        m_interflower->setState(InterflowStateRating);
        if (m_flower)
            view->pushController(m_flower);
        return;
    case InterflowStateNextStage:
        startPass();
        return;
    case InterflowStateFinished:
        view->popController();
        return;
    }
}

void StageController::startPass()
{
    m_interflower->setState(InterflowStateRating);
    m_flower = std::make_shared<FlowController>(m_interflower->rateSet());
    // The numbering keeps every rating within one to five stars: a pass at level s rates photos
    // down to s (two-way) or s - 1 (three-way), and promoted photos to s + 1.
    unsigned stage = m_interflower->stage();
    int holdStars = 0;
    int promoteStars = 0;
    bool last = false;
    switch (m_numberOfStages) {
    case 1:
        stage += 3;
        last = true;
        holdStars = int(stage) - 1;
        promoteStars = holdStars + 2;
        break;
    case 2:
        stage += 2;
        last = stage > 3;
        holdStars = int(stage) - 1;
        promoteStars = holdStars + 2;
        break;
    case 3:
        stage += 1;
        last = stage > 2;
        m_flower->setAutoHold(true);
        holdStars = int(stage);
        promoteStars = holdStars + 1;
        break;
    default:
        stage += 1;
        last = stage > 3;
        m_flower->setAutoHold(true);
        holdStars = int(stage);
        promoteStars = holdStars + 1;
        break;
    }
    m_interflower->setStage(stage);
    if (last)
        m_interflower->setLastStage(true);

    m_holdCaption->setString(stars(holdStars));
    QString promote = stars(promoteStars);
    if (!m_interflower->isLastStage()) {
        while (promote.size() < starScale)
            promote.append(QChar(0x2606));
    }
    m_promoteCaption->setString(promote);

    m_flowPush.cancel();
    m_flowPush = RunLoop::performAfterDelay(titleCardDuration, [this] { pushFlower(); });
}

void StageController::pushFlower()
{
    // The request is cancelled when this screen leaves or goes; this is the guard for a request
    // that fires regardless.
    HostView* view = hostView();
    if (!view || view->currentController() != this || !m_flower || isTerminating())
        return;
    view->pushController(m_flower);
}

void StageController::endTitleCardForTesting()
{
    if (!m_flowPush.isPending())
        return;
    m_flowPush.cancel();
    pushFlower();
}

void StageController::showBreakMenu()
{
    HostView* view = hostView();
    if (!view)
        return;
    m_breakMenu = std::make_shared<MenuController>(breakChoices());
    view->pushController(m_breakMenu);
}

void StageController::checkBreakMenu()
{
    if (!m_breakMenu)
        return;
    // Kept until the choice has been acted on: this controller's appearance on the way does
    // nothing while a menu is pending.
    const std::size_t choice = m_breakMenu->chosenIndex();
    handleBreakChoice(choice);
    m_breakMenu = nullptr;
}

void StageController::handleBreakChoice(std::size_t index)
{
    if (isTerminating())
        return;
    switch (index) {
    case 0:
        if (ApplicationDelegate* application = ApplicationDelegate::shared())
            application->toggleFullScreen();
        return;
    case 1:
    case 2:
        if (!hostView())
            return;
        hostView()->popToController(this);
        if (index == 2)
            m_interflower->finishAfterThisPass();
        proceedOmatic();
        return;
    case MenuController::noChoice:
        return;
    default:
        QM_ASSERT(false, QString::asprintf("Bad break menu choice %i", int(index)).toStdString());
    }
}

void StageController::layerWillDisappear()
{
    // Whatever replaces this screen, the title card's delayed push must not follow it.
    m_flowPush.cancel();
}

void StageController::layerDidAppear()
{
    if (isTerminating() || m_breakMenu)
        return;
    proceedOmatic();
}

void StageController::buttonMenu()
{
    m_flowPush.cancel();
    if (HostView* view = hostView())
        view->popController();
}

void StageController::layoutSublayersOfLayer(Layer& theLayer)
{
    if (&theLayer != m_overlayLayer.get())
        return;
    const Rect bounds = theLayer.bounds();
    const double band = bounds.height() / 10;
    const double scale = std::min(bounds.width() / canvasWidth, bounds.height() / canvasHeight);
    m_holdCaption->setFrame(Rect(bounds.minX(), bounds.minY(), bounds.width(), band));
    m_promoteCaption->setFrame(Rect(bounds.minX(), bounds.maxY() - band, bounds.width(), band));
    for (TextLayer* caption : {m_holdCaption.get(), m_promoteCaption.get()})
        caption->setFontSize(captionFontSize * scale);
}

QJsonObject StageController::describeForAutomation() const
{
    return QJsonObject{{"numberOfStages", int(m_numberOfStages)},
                       {"stage", int(m_interflower->stage())},
                       {"titleCard", isTitleCardShowing()},
                       {"hold", m_holdCaption->string()},
                       {"promote", m_promoteCaption->string()}};
}
