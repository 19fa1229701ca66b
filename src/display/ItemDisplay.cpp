#include "display/ItemDisplay.h"

#include "display/QMInvocationOperation.h"
#include "library/BandedImageConversion.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/DrawingContext.h"
#include "platform/graphics/ScopedTransaction.h"
#include "platform/graphics/ShadowImageCache.h"
#include "support/QMKVOAdditions.h"

#include <QColorSpace>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <vector>

// What a load may reach of its display. The loads hold it; the display clears it when it goes
// away or changes its data source, under the lock, so an image request under way finishes first
// and no later one starts.
struct ItemDisplay::LoadGuard {
    std::shared_mutex mutex;
    ItemDisplay* display = nullptr;              // non-owning
    ItemDisplayDataSource* dataSource = nullptr; // non-owning
};

namespace {

std::atomic<int> completedLoads = 0;

// The single-precision 0.6 the strip's width is measured in, widened as the layout always has.
constexpr double photosPerHeight = double(0.6f);

std::size_t itemIndexOf(const Layer& layer)
{
    return std::size_t(layer.attribute(ItemDisplay::itemIndexKey).toULongLong());
}

unsigned unsignedAttribute(const Layer& layer, const char* key)
{
    return layer.attribute(key).toUInt();
}

std::shared_ptr<Operation> loadOperationOf(const Layer& layer)
{
    const QVariant value = layer.attribute(ItemDisplay::loadOperationKey);
    return value.isValid() ? value.value<std::shared_ptr<Operation>>() : nullptr;
}

void cancelLoad(Layer& layer)
{
    if (auto operation = loadOperationOf(layer))
        operation->cancel();
}

// A photo's slot, `unit` heights wide (y up), made as tall as its aspect ratio asks.
Rect fittedSlot(const Rect& slot, double unit, double ratio)
{
    const double height = slot.height();
    return slot.insetBy(0, (height - unit * height / ratio) / 2);
}

// A photo's frame within its fitted slot: inset by the margins; empty when they do not fit.
Rect photoFrameIn(const Rect& fitted, double ratio)
{
    return fitted.insetBy(ItemDisplay::photoMargin, ItemDisplay::photoMargin / ratio);
}

// The painter's key for a photo layer's shadow, in device pixels: a shadow made ahead under it is
// found by the frame that first shows the photo.
struct ShadowStyle {
    double radius = 0;
    QColor color;
    double scale = 1;
};

std::optional<ShadowStyle> shadowStyleOf(const Layer& photoLayer)
{
    if (photoLayer.shadowOpacity() <= 0 || photoLayer.shadowColor().alpha() <= 0)
        return std::nullopt;
    const double scale = photoLayer.deviceScale();
    return ShadowStyle{std::max(0.0, photoLayer.shadowRadius()) * scale, photoLayer.shadowColor().toQColor(),
                       scale};
}

// The painter draws these two formats without converting them; doing it here keeps the
// conversion, like the decoding, off the main thread. In bands on this thread: Qt would split a
// whole photo's conversion over its shared pool, whose threads compete with the main thread at
// normal priority where this idle one would not.
QImage preparedForDrawing(QImage image)
{
    BandedImageConversion::convertTo(image, image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                    : QImage::Format_RGB32);
    BandedImageConversion::convertToColorSpace(image, QColorSpace(QColorSpace::SRgb));
    return image;
}

} // namespace

ItemDisplay::ItemDisplay()
    : m_workQueue(std::make_unique<OperationQueue>())
    , m_releaseQueue(std::make_unique<OperationQueue>(1))
    , m_layer(Layer::create())
    , m_loadGuard(std::make_shared<LoadGuard>())
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    // A load keeps what it uses alive itself: a strip that goes (leaving the picker) does not wait
    // on the main thread for a decode under way.
    m_workQueue->setWaitsForRunningOperationsWhenDestroyed(false);
    // Decoding a photo takes a processor for tens of milliseconds; on a machine of two cores the
    // main thread, due to paint the next frame, and the pool threads it hands the pieces of large
    // fills to must not wait in line behind it. A lower niceness is not enough: the scheduler
    // lets a running thread finish its slice first, and the frame's many pieces each wait anew.
    m_workQueue->setWorkersRunInBackground(true);
    // Freeing a photo's image unmaps its pages, a millisecond or so of the kernel's time that a
    // frame about to be painted need not pay; the release does not wait behind a decode.
    m_releaseQueue->setWaitsForRunningOperationsWhenDestroyed(false);
    m_releaseQueue->setWorkersRunInBackground(true);
    m_loadGuard->display = this;
    m_layer->setLayoutManager(this);
    m_layer->setActions({{"sublayers", nullptr}});
    const auto options = KeyValueObservingOptions::New;
    for (const char* keyPath : {"dataSource", "position", "autoAdvanceInterval", "featherLeftEdge",
                                "featherRightEdge", "layer.bounds"})
        qm_addObserver<ItemDisplay>(*this, this, keyPath, options);
}

ItemDisplay::~ItemDisplay()
{
    {
        std::unique_lock lock(m_loadGuard->mutex);
        m_loadGuard->display = nullptr;
        m_loadGuard->dataSource = nullptr;
    }
    m_advanceTimer.reset();
    m_workQueue->cancelAllOperations();
    if (m_layer->layoutManager() == this)
        m_layer->setLayoutManager(nullptr);
    if (m_layer->mask() && m_layer->mask()->delegate() == this)
        m_layer->mask()->setDelegate(nullptr);
}

void ItemDisplay::setDataSource(ItemDisplayDataSource* dataSource)
{
    {
        std::unique_lock lock(m_loadGuard->mutex);
        m_loadGuard->dataSource = dataSource;
    }
    m_dataSource = dataSource;
    didChangeValueForKey("dataSource");
}

void ItemDisplay::setPosition(std::size_t position)
{
    m_position = position;
    didChangeValueForKey("position");
}

void ItemDisplay::setAutoAdvanceInterval(double seconds)
{
    m_autoAdvanceInterval = seconds;
    didChangeValueForKey("autoAdvanceInterval");
}

void ItemDisplay::setFeatherLeftEdge(bool feather)
{
    m_featherLeftEdge = feather;
    didChangeValueForKey("featherLeftEdge");
}

void ItemDisplay::setFeatherRightEdge(bool feather)
{
    m_featherRightEdge = feather;
    didChangeValueForKey("featherRightEdge");
}

std::any ItemDisplay::valueForKey(const std::string& key) const
{
    if (key == "layer")
        return m_layer;
    if (key == "dataSource")
        return m_dataSource;
    if (key == "position")
        return m_position;
    if (key == "autoAdvanceInterval")
        return m_autoAdvanceInterval;
    if (key == "featherLeftEdge")
        return m_featherLeftEdge;
    if (key == "featherRightEdge")
        return m_featherRightEdge;
    return Observable::valueForKey(key);
}

Observable* ItemDisplay::observableForKey(const std::string& key) const
{
    if (key == "layer")
        return m_layer.get();
    return Observable::observableForKey(key);
}

void ItemDisplay::observeValueForKeyPath(const std::string& keyPath, Observable* object,
                                         const KeyValueChange& change, const void* context)
{
    if (context != QMKVOObservationContext) {
        KeyValueObserver::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    if (keyPath == "dataSource")
        reloadData();
    else if (keyPath == "position" || keyPath == "layer.bounds")
        updateLayers();
    else if (keyPath == "autoAdvanceInterval")
        restartAdvanceTimer();
    else if (keyPath == "featherLeftEdge" || keyPath == "featherRightEdge")
        updateMask();
}

std::size_t ItemDisplay::numberOfItems()
{
    return m_dataSource ? m_dataSource->numberOfItemsInDisplay(*this) : 0;
}

double ItemDisplay::aspectRatioForItem(std::size_t index)
{
    const double ratio = m_dataSource ? m_dataSource->itemDisplayNeedsAspectRatio(*this, index) : 0.0;
    // A photo without a usable ratio (the library records none for some) is shown as a square
    // rather than stopping the program.
    return std::isfinite(ratio) && ratio > 0 ? ratio : 1.0;
}

void ItemDisplay::restartAdvanceTimer()
{
    m_advanceTimer.reset();
    if (m_autoAdvanceInterval > 0.0 && numberOfItems() > 0)
        m_advanceTimer = std::make_unique<AdvanceTimer>(m_autoAdvanceInterval, [this] { advance(); });
}

void ItemDisplay::updateMask()
{
    if (!m_featherLeftEdge && !m_featherRightEdge) {
        if (m_layer->mask())
            m_layer->mask()->setDelegate(nullptr);
        m_layer->setMask(nullptr);
        return;
    }
    if (m_layer->mask())
        m_layer->mask()->setDelegate(nullptr);
    LayerPtr mask = Layer::create();
    mask->setDelegate(this);
    mask->setNeedsDisplayOnBoundsChange(true);
    mask->setFrame(m_layer->bounds());
    mask->setNeedsDisplay();
    m_layer->setMask(std::move(mask));
}

void ItemDisplay::reloadData()
{
    std::vector<QImage> leaving;
    for (const auto& [index, photoLayer] : m_itemLayers) {
        leaving.push_back(photoLayer->contents());
        leaving.push_back(photoLayer->previousContents());
        photoLayer->removeFromSuperlayer();
    }
    m_itemLayers.clear();
    releaseInBackground(std::move(leaving));
    setPosition(0);
    setAutoAdvanceInterval(m_autoAdvanceInterval);
}

void ItemDisplay::advance()
{
    const std::size_t n = numberOfItems();
    setPosition(m_position + 1 < n ? m_position + 1 : 0);
}

void ItemDisplay::updateLayers()
{
    const std::size_t n = numberOfItems();
    if (n == 0)
        return;
    QM_ASSERT(m_position < n, "Bad position");
    const Rect bounds = m_layer->bounds();
    if (bounds.isEmpty())
        return;

    const auto d = static_cast<std::size_t>(std::ceil((bounds.width() / bounds.height()) / photosPerHeight));
    const std::size_t f = (d + 1) / 2;
    const std::size_t first = m_position > f ? m_position - f : 0;
    const std::size_t end = std::min(n, m_position + f + 1);

    std::vector<const Layer*> wanted;
    for (std::size_t i = first; i < end; ++i) {
        LayerPtr& photoLayer = m_itemLayers[i];
        if (!photoLayer) {
            photoLayer = Layer::create();
            photoLayer->setShadowOpacity(0.75);
            photoLayer->setContentsGravity(ContentsGravity::ResizeAspect);
            photoLayer->setAttribute(itemIndexKey, QVariant::fromValue(qulonglong(i)));
            QM_ASSERT(m_layer != nullptr, "Layer expected.");
            m_layer->addSublayer(photoLayer);
        }
        QM_ASSERT(photoLayer->superlayer() == m_layer.get(), "Photo layer not in parent layer");
        wanted.push_back(photoLayer.get());
    }
    // The photo that just became current was queued behind its neighbours when it entered the
    // strip at an edge; it is the one the user is looking at, so it goes first.
    for (std::size_t i = first; i < end; ++i) {
        if (const auto pending = loadOperationOf(*m_itemLayers[i]))
            pending->setQueuePriority(i == m_position ? Operation::QueuePriority::High
                                                      : Operation::QueuePriority::Normal);
    }

    std::vector<QImage> leaving;
    {
        const std::vector<LayerPtr> sublayers = m_layer->sublayers();
        for (const LayerPtr& sublayer : sublayers) {
            if (std::find(wanted.begin(), wanted.end(), sublayer.get()) != wanted.end())
                continue;
            cancelLoad(*sublayer);
            leaving.push_back(sublayer->contents());
            leaving.push_back(sublayer->previousContents());
            sublayer->removeFromSuperlayer();
            const QVariant index = sublayer->attribute(itemIndexKey);
            if (index.isValid())
                m_itemLayers.erase(std::size_t(index.toULongLong()));
        }
    }
    // The layers that left are gone now, and with them every other reference to their images.
    releaseInBackground(std::move(leaving));
    m_layer->setNeedsLayout();

    std::vector<std::size_t> comingNext;
    if (first > 0)
        comingNext.push_back(first - 1);
    if (end < n)
        comingNext.push_back(end);
    prepareShadowsAhead(comingNext);
}

void ItemDisplay::releaseInBackground(std::vector<QImage> images)
{
    std::erase_if(images, [](const QImage& image) { return image.isNull(); });
    if (images.empty())
        return;
    m_releaseQueue->addOperation(
        QMInvocationOperation::create([images = std::move(images)]() mutable { images.clear(); }));
}

void ItemDisplay::prepareShadowsAhead(const std::vector<std::size_t>& items)
{
    const auto current = m_itemLayers.find(m_position);
    const Rect bounds = m_layer->bounds().standardized();
    if (current == m_itemLayers.end() || bounds.isEmpty())
        return;
    // A new photo layer is styled as the current one.
    const std::optional<ShadowStyle> style = shadowStyleOf(*current->second);
    if (!style)
        return;
    std::vector<QSizeF> sizes;
    for (const std::size_t index : items) {
        const double ratio = aspectRatioForItem(index);
        const double unit = std::min(ratio, 1.0);
        const Rect frame =
            photoFrameIn(fittedSlot(Rect(0, 0, unit * bounds.height(), bounds.height()), unit, ratio), ratio);
        const QSizeF device(frame.width() * style->scale, frame.height() * style->scale);
        if (!frame.isEmpty() && !ShadowImageCache::isPrepared(device, style->radius, style->color))
            sizes.push_back(device);
    }
    if (sizes.empty())
        return;
    m_workQueue->addOperation(
        QMInvocationOperation::create([sizes, radius = style->radius, color = style->color] {
            for (const QSizeF& size : sizes)
                ShadowImageCache::prepare(size, radius, color);
        }));
    ++m_shadowPreparations;
}

void ItemDisplay::layoutSublayersOfLayer(Layer& layer)
{
    if (&layer != m_layer.get())
        return;
    const Rect bounds = m_layer->bounds().standardized();
    if (bounds.isEmpty())
        return;

    std::vector<LayerPtr> photoLayers = m_layer->sublayers();
    for (const LayerPtr& photoLayer : photoLayers)
        QM_ASSERT(photoLayer->attribute(itemIndexKey).isValid(), "Expected ID value not found");
    std::stable_sort(photoLayers.begin(), photoLayers.end(),
                     [](const LayerPtr& a, const LayerPtr& b) { return itemIndexOf(*a) < itemIndexOf(*b); });

    std::vector<double> ratios;
    std::vector<double> units;
    for (const LayerPtr& photoLayer : photoLayers) {
        ratios.push_back(aspectRatioForItem(itemIndexOf(*photoLayer)));
        units.push_back(std::min(ratios.back(), 1.0));
    }

    double centre = 0;
    double before = 0;
    for (std::size_t j = 0; j < photoLayers.size(); ++j) {
        if (itemIndexOf(*photoLayers[j]) == m_position) {
            centre = before + units[j] / 2;
            break;
        }
        before += units[j];
    }

    const double height = bounds.height();
    const bool aligns = m_dataSource && m_dataSource->respondsToItemDisplayNeedsAlignment();
    double x = bounds.midX() - centre * height;
    for (std::size_t j = 0; j < photoLayers.size(); ++j) {
        const std::size_t index = itemIndexOf(*photoLayers[j]);
        const double r = ratios[j];
        const double u = units[j];
        const long alignment = aligns ? m_dataSource->itemDisplayNeedsAlignment(*this, index) : 0;
        Rect slot(x, bounds.minY(), u * height, height);
        slot = slot.offsetBy(0, double(alignment) * height * 0.25);
        slot = fittedSlot(slot, u, r);
        Rect frame = photoFrameIn(slot, r);
        // A slot too narrow for its margins gets an empty frame at its centre and no load.
        const bool empty = frame.isEmpty();
        if (empty)
            frame = Rect(slot.midX(), slot.midY(), 0, 0);
        photoLayers[j]->setFrame(frame);
        if (!empty)
            loadLayerInBackground(photoLayers[j]);
        x += u * height;
    }
    if (m_layer->mask())
        m_layer->mask()->setFrame(bounds);
}

void ItemDisplay::loadLayerInBackground(const LayerPtr& photoLayer)
{
    QM_ASSERT(photoLayer && !photoLayer->bounds().isEmpty(), "Layer bounds must be set to load photo");
    const Rect bounds = photoLayer->bounds().standardized();
    const double longer = bounds.width() > bounds.height() ? bounds.width() : bounds.height();
    const auto size = static_cast<unsigned>(longer * photoLayer->deviceScale());
    if (size <= unsignedAttribute(*photoLayer, loadSizeKey))
        return;

    photoLayer->setContents(QImage());
    photoLayer->setBorderWidth(1.0);
    photoLayer->setBorderColor(Color::white(0.0, 0.25));
    photoLayer->setBackgroundColor(Color::white(1.0, 0.5));
    photoLayer->setAttribute(shownSizeKey, QVariant());
    cancelLoad(*photoLayer);

    const std::size_t index = itemIndexOf(*photoLayer);
    auto operation = QMInvocationOperation::create();
    // The shadow the photo will cast once it has faded in, made on the loading thread with it.
    std::optional<PhotoShadow> shadow;
    if (const std::optional<ShadowStyle> style = shadowStyleOf(*photoLayer))
        shadow =
            PhotoShadow{QSizeF(bounds.width(), bounds.height()) * style->scale, style->radius, style->color};
    operation->prepare([guard = m_loadGuard, layer = std::weak_ptr<Layer>(photoLayer),
                        self = std::weak_ptr<Operation>(operation), index, size,
                        shadow] { loadPhotoForLayer(guard, layer, self, index, size, shadow); });
    if (index == m_position)
        operation->setQueuePriority(Operation::QueuePriority::High);
    photoLayer->setAttribute(loadOperationKey, QVariant::fromValue(std::shared_ptr<Operation>(operation)));
    photoLayer->setAttribute(loadSizeKey, QVariant::fromValue(size));
    m_workQueue->addOperation(std::move(operation));
}

void ItemDisplay::loadPhotoForLayer(const std::shared_ptr<LoadGuard>& guard,
                                    const std::weak_ptr<Layer>& photoLayer,
                                    const std::weak_ptr<Operation>& operation, std::size_t index,
                                    unsigned size, const std::optional<PhotoShadow>& shadow)
{
    QM_CASSERT(size != 0, "ItemDisplay", "Image size must be set for layer");
    QImage image;
    ItemDisplayDataSource::ImageWork work;
    {
        std::shared_lock lock(guard->mutex);
        // The strip or its screen is gone, or the photo left the strip while this load waited
        // for the lock: nothing would show the image.
        if (!guard->display || !guard->dataSource || photoLayer.expired())
            return;
        work = guard->dataSource->itemDisplayImageWork(*guard->display, index, size);
        if (!work)
            image = guard->dataSource->itemDisplayNeedsImage(*guard->display, index, size);
    }
    if (work)
        image = work();
    if (image.isNull())
        throw std::runtime_error("No image, sad trombone.");
    image = preparedForDrawing(std::move(image));
    if (shadow && !image.isNull()) {
        // Shown as the layer's contents gravity places it: fitted into the bounds.
        const QSizeF shown = QSizeF(image.size()).scaled(shadow->deviceBounds, Qt::KeepAspectRatio);
        ShadowImageCache::prepare(shown, shadow->radius, shadow->color);
    }
    RunLoop::postToMainThread([guard = std::weak_ptr<LoadGuard>(guard), photoLayer, operation,
                               image = std::move(image),
                               size] { showLoadedPhoto(guard, photoLayer, operation, image, size); });
}

void ItemDisplay::showLoadedPhoto(const std::weak_ptr<LoadGuard>& guard,
                                  const std::weak_ptr<Layer>& photoLayer,
                                  const std::weak_ptr<Operation>& operation, const QImage& image,
                                  unsigned size)
{
    const std::shared_ptr<LoadGuard> display = guard.lock();
    const LayerPtr layer = photoLayer.lock();
    if (!display || !display->display || !layer)
        return;
    const QVariant shown = layer->attribute(shownSizeKey);
    // A smaller request that finished after a larger one keeps away from the larger image.
    if (shown.isValid() && shown.toUInt() > size)
        return;
    {
        ScopedTransaction transaction;
        transaction.setAnimationDuration(fadeInDuration);
        layer->setBorderWidth(0);
        layer->setBackgroundColor(std::nullopt);
        layer->setContents(image);
    }
    layer->setAttribute(shownSizeKey, QVariant::fromValue(size));
    const auto pending = loadOperationOf(*layer);
    if (pending && pending == operation.lock())
        layer->setAttribute(loadOperationKey, QVariant());
    completedLoads.fetch_add(1);
}

int ItemDisplay::completedLoadCount()
{
    return completedLoads.load();
}

void ItemDisplay::drawLayer(Layer& layer, DrawingContext& context)
{
    QM_ASSERT(&layer == m_layer->mask().get(), "Draws mask only");
    context.fillRect(context.bounds(), Color::white(0.0, 0.0));
    const std::vector<DrawingContext::GradientStop> stops = {
        {0.0, Color::rgb(0, 0, 1, 1.0)}, {0.5, Color::rgb(0, 0, 1, 0.75)}, {1.0, Color::rgb(0, 0, 1, 0.0)}};
    const Rect bounds = layer.bounds().standardized();
    Rect opaque = bounds;
    if (m_featherLeftEdge) {
        context.drawLinearGradient(stops, Point{bounds.minX() + featherWidth, bounds.midY()},
                                   Point{bounds.minX(), bounds.midY()});
        opaque = opaque.insetBy(featherWidth / 2, 0).offsetBy(featherWidth / 2, 0);
    }
    if (m_featherRightEdge) {
        context.drawLinearGradient(stops, Point{bounds.maxX() - featherWidth, bounds.midY()},
                                   Point{bounds.maxX(), bounds.midY()});
        opaque = opaque.insetBy(featherWidth / 2, 0).offsetBy(-featherWidth / 2, 0);
    }
    context.fillRect(opaque, Color::white(0.0, 1.0));
}
