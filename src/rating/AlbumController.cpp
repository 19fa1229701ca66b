#include "rating/AlbumController.h"

#include "library/AlbumInfo.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/graphics/TextLayer.h"
#include "support/QMKVOAdditions.h"
#include "ui/ApplicationDelegate.h"
#include "ui/HostView.h"
#include "ui/MenuController.h"
#include "ui/QMColorAdditions.h"
#include "ui/QMLayerAdditions.h"

#include <QJsonArray>
#include <algorithm>
#include <numbers>

namespace {
// The screen is laid out on a virtual canvas of this size, scaled to the layer.
constexpr double canvasWidth = 800;
constexpr double canvasHeight = 600;
// In canvas units.
constexpr double namesLeft = 450;
constexpr double rightMargin = 25;
constexpr double selectedRowFromTop = 75;
constexpr double rowHeight = 50;
constexpr double nameFontSize = 36;
constexpr double starSize = 37.5;
constexpr double starFromNames = 50;

QString nameOf(const PlistPtr& album)
{
    const PlistPtr name = album ? album->objectForKey("name") : nullptr;
    return name && name->asString() ? QString::fromStdString(*name->asString()) : QString();
}
} // namespace

AlbumController::AlbumController(PlistArray albums)
    : m_albums(std::move(albums))
    , m_albumInfo(AlbumInfo::sharedAlbumInfo())
{
    layer()->setBackgroundColor(qm_CGColor(Color::white(1, 1)));
    m_albumLayer = Layer::create();
    m_albumLayer->setLayoutManager(this);
    for (const PlistPtr& album : m_albums) {
        auto name = TextLayer::create();
        name->setFont(QStringLiteral("Futura"));
        name->setForegroundColor(qm_CGColor(Color::black()));
        name->setTruncationMode(TextLayer::TruncationMode::End);
        name->setString(nameOf(album));
        m_albumLayer->addSublayer(name);
    }
    auto star = TextLayer::create();
    star->setForegroundColor(qm_CGColor(Color::black()));
    star->setAlignmentMode(TextLayer::AlignmentMode::Center);
    star->setString(QString(QChar(0x2605)));
    m_albumLayer->addSublayer(star);
    m_albumLayer->setNeedsLayout();
    layer()->addSublayer(m_albumLayer);

    m_albumDisplay = std::make_unique<ItemDisplay>();
    m_albumDisplay->setAutoAdvanceInterval(previewInterval);
    m_albumDisplay->setDataSource(this);
    m_albumDisplay->setFeatherRightEdge(true);
    m_albumDisplay->layer()->setMasksToBounds(true);
    layer()->addSublayer(m_albumDisplay->layer());
    layer()->setNeedsLayout();
    qm_addObserver<AlbumController>(*this, this, "position", KeyValueObservingOptions::New);
}

AlbumController::~AlbumController()
{
    m_quit.cancel();
    m_albumLayer->setLayoutManager(nullptr);
    // Waits for an image request under way, which reads the albums.
    m_albumDisplay->setDataSource(nullptr);
    // The last references to every album but the chosen one, whose photos the stage shares:
    // releasing them here would stall the screen that follows.
    m_albumInfo->releaseRecords(std::move(m_albums));
}

QStringList AlbumController::breakChoices()
{
    return {QStringLiteral("Toggle fullscreen"), QStringLiteral("Quit")};
}

void AlbumController::setPosition(std::size_t position)
{
    m_position = position;
    didChangeValueForKey("position");
}

std::any AlbumController::valueForKey(const std::string& key) const
{
    if (key == "position")
        return position();
    return Raroderavarav::valueForKey(key);
}

void AlbumController::observeValueForKeyPath(const std::string& keyPath, Observable* object,
                                             const KeyValueChange& change, const void* context)
{
    if (context != QMKVOObservationContext) {
        Raroderavarav::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    if (keyPath != "position")
        return;
    m_albumLayer->setNeedsLayout();
    m_albumDisplay->reloadData();
}

void AlbumController::buttonUp()
{
    if (position() > 0)
        setPosition(position() - 1);
}

void AlbumController::buttonDown()
{
    if (position() + 1 < m_albums.size())
        setPosition(position() + 1);
}

void AlbumController::buttonSelect()
{
    if (HostView* view = hostView())
        view->popController();
}

void AlbumController::buttonMenu()
{
    HostView* view = hostView();
    if (!view)
        return;
    m_breakMenu = std::make_shared<MenuController>(breakChoices());
    view->pushController(m_breakMenu);
}

void AlbumController::layerDidAppear()
{
    if (m_breakMenu) {
        const std::size_t choice = m_breakMenu->chosenIndex();
        switch (choice) {
        case 0:
            if (ApplicationDelegate* application = ApplicationDelegate::shared())
                application->toggleFullScreen();
            break;
        case 1:
            // The normal quit path, once this turn of the event loop is over.
            m_quit = RunLoop::performAfterDelay(0, [] {
                if (ApplicationDelegate* application = ApplicationDelegate::shared())
                    application->terminate();
            });
            break;
        case MenuController::noChoice:
            break;
        default:
            QM_ASSERT(false, QString::asprintf("Bad break menu choice %i", int(choice)).toStdString());
        }
        m_breakMenu = nullptr;
    }
    m_albumDisplay->reloadData();
}

void AlbumController::layerWillDisappear()
{
    // Still in the tree: the strip restarts at the album's first photo, and once the layer has
    // left, its timed steps find nothing to show.
    m_albumDisplay->reloadData();
}

void AlbumController::layoutSublayersOfLayer(Layer& theLayer)
{
    if (&theLayer != layer().get() && &theLayer != m_albumLayer.get())
        return;
    const HostView* view = hostView();
    QM_ASSERT(view && &qm_rootLayer(theLayer) == view->layer().get(), "Layer must be hosted before layout");
    QM_ASSERT(!theLayer.bounds().isEmpty(), "Layer bounds must be set before layout");
    if (&theLayer == m_albumLayer.get()) {
        layOutNames(theLayer);
        return;
    }
    const Rect bounds = theLayer.bounds();
    m_albumLayer->setFrame(bounds);
    m_albumDisplay->layer()->setFrame(
        Rect(bounds.minX(), bounds.minY(), bounds.width() * 0.5, bounds.height() * 0.5));
}

void AlbumController::layOutNames(Layer& albumLayer)
{
    const Rect bounds = albumLayer.bounds();
    const double sx = bounds.width() / canvasWidth;
    const double sy = bounds.height() / canvasHeight;
    const double scale = std::min(sx, sy);
    const double left = namesLeft * sx;
    const double row = rowHeight * scale;
    const double selectedBottom = bounds.maxY() - selectedRowFromTop * sy - row;
    const double width = std::max(0.0, bounds.maxX() - rightMargin * sx - left);
    const auto& sublayers = albumLayer.sublayers();
    const std::ptrdiff_t selected = static_cast<std::ptrdiff_t>(position());
    // A library has thousands of albums and only a dozen rows show: every name drawn costs text
    // shaping in each frame, so the rows off the layer are hidden. A row gliding in or out stays
    // shown while it is on the layer at either end of its glide.
    const auto isOnLayer = [&bounds](const Rect& frame) { return !frame.intersection(bounds).isEmpty(); };
    for (std::size_t k = 0; k < sublayers.size(); ++k) {
        auto* text = static_cast<TextLayer*>(sublayers[k].get());
        const double offset = double(static_cast<std::ptrdiff_t>(k) - selected);
        const Rect frame =
            qm_pixelAlignRect(albumLayer, Rect(left, selectedBottom - offset * row, width, row));
        const bool isName = k + 1 < sublayers.size();
        const bool hidden =
            isName && !isOnLayer(frame) && (text->isHidden() || !isOnLayer(text->presentationFrame()));
        if (text->isHidden() != hidden)
            text->setHidden(hidden);
        text->setFrame(frame);
        text->setFontSize(nameFontSize * scale);
    }
    if (sublayers.empty())
        return;
    Layer& star = *sublayers.back();
    star.setBounds(Rect(0, 0, starSize * scale, starSize * scale));
    star.setPosition(Point{left - starFromNames * scale, selectedBottom + row / 2});
    // Tilted clockwise on screen: a negative turn with y up.
    QTransform tilt;
    tilt.rotateRadians(-std::numbers::pi / 10);
    star.setTransform(tilt);
}

const PlistArray& AlbumController::selectedItems() const
{
    static const PlistArray none;
    const std::size_t selected = position();
    if (selected >= m_albums.size() || !m_albums[selected])
        return none;
    // The album records are never changed, so their lists outlive any reader.
    const PlistPtr items = m_albums[selected]->objectForKey("items");
    return items && items->asArray() ? *items->asArray() : none;
}

std::size_t AlbumController::numberOfItemsInDisplay(ItemDisplay& /*display*/)
{
    if (!layer()->superlayer())
        return 0;
    return selectedItems().size();
}

QImage AlbumController::itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size)
{
    const ImageWork work = itemDisplayImageWork(display, index, size);
    return work ? work() : QImage();
}

ItemDisplayDataSource::ImageWork AlbumController::itemDisplayImageWork(ItemDisplay& /*display*/,
                                                                       std::size_t index, unsigned size)
{
    // The album selected now; a late request past its photos finds nothing.
    const PlistArray& items = selectedItems();
    if (index >= items.size())
        return {};
    return AlbumInfo::imageWorkForItem(m_albumInfo, items[index], size);
}

double AlbumController::itemDisplayNeedsAspectRatio(ItemDisplay& /*display*/, std::size_t index)
{
    const PlistArray& items = selectedItems();
    return index < items.size() ? m_albumInfo->aspectRatioForItem(items[index]) : 0.0;
}

QJsonObject AlbumController::describeForAutomation() const
{
    QJsonArray names;
    for (const PlistPtr& album : m_albums)
        names.append(nameOf(album));
    return QJsonObject{{"albums", names},
                       {"position", qint64(position())},
                       {"photos", qint64(selectedItems().size())},
                       {"preview", qint64(m_albumDisplay->position())}};
}
