#pragma once

#include "display/AdvanceTimer.h"
#include "display/ItemDisplayDataSource.h"
#include "platform/foundation/KeyValueObserver.h"
#include "platform/foundation/Observable.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/graphics/Layer.h"

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The photo strip of every rating screen: a layer showing a horizontal row of photos with the
// current one centred, each sized by its aspect ratio. Layers exist only for the run of photos
// around `position` that can be on screen; their images are decoded in the background, at the
// size they are laid out at, and fade in when they arrive. The strip can advance on a timer and
// fade out its left and right edges.
//
// Geometry is the layer tree's: points, y up, in the coordinates of layer(). Load sizes are the
// device pixels a photo covers: its longer side in points times the tree host's device pixel
// ratio (1 without a host), truncated.
//
// Ownership: the display owns its layer, which owns the photo layers; a photo layer owns its
// pending load operation, and a load holds its layer only weakly, so a photo that leaves the strip
// is freed with its image as soon as no load of it is running (the image itself, megabytes given
// back to the system, on releaseQueue()'s thread rather than in the next frame's time). The data
// source is not owned.
//
// Threads: everything here is main-thread only, except the loads, which run on workQueue() and
// call the data source's image operation there. A load hands its image to the main thread, where
// it is shown only if the display and the layer still exist. The data source pointer the loads
// read is guarded by one lock (see LoadGuard in the source): replacing the data source or
// destroying the display waits for an image request under way.
class ItemDisplay : public Observable, public KeyValueObserver, public LayoutManager, public LayerDelegate {
public:
    // Attributes of each photo layer.
    // The item index the layer shows (qulonglong).
    static constexpr const char* itemIndexKey = "com_quillmoss_ItemIndex";
    // The largest load size requested for the layer (uint); absent means 0.
    static constexpr const char* loadSizeKey = "com_quillmoss_LoadSize";
    // The pending load (std::shared_ptr<Operation>), absent when none.
    static constexpr const char* loadOperationKey = "com_quillmoss_LoadOperation";
    // The load size of the image shown now (uint), so a late smaller image never replaces it.
    static constexpr const char* shownSizeKey = "com_quillmoss_ShownSize";

    // Seconds a loaded photo takes to fade in.
    static constexpr double fadeInDuration = 1.0;
    // Points between a photo and its slot's left and right edges.
    static constexpr double photoMargin = 10.0;
    // Points of the band each feathered edge fades over.
    static constexpr double featherWidth = 10.0;

    ItemDisplay();
    ~ItemDisplay() override;
    ItemDisplay(const ItemDisplay&) = delete;
    ItemDisplay& operator=(const ItemDisplay&) = delete;

    // Its sublayers are exactly the photo layers.
    const LayerPtr& layer() const { return m_layer; }

    // Non-owning; null means no items. Setting it reloads.
    ItemDisplayDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(ItemDisplayDataSource* dataSource);

    // The index of the centred item. Every set updates the photo layers.
    std::size_t position() const { return m_position; }
    void setPosition(std::size_t position);

    // Seconds between automatic advances; 0 or less for none. Every set restarts the timer.
    double autoAdvanceInterval() const { return m_autoAdvanceInterval; }
    void setAutoAdvanceInterval(double seconds);

    bool featherLeftEdge() const { return m_featherLeftEdge; }
    void setFeatherLeftEdge(bool feather);
    bool featherRightEdge() const { return m_featherRightEdge; }
    void setFeatherRightEdge(bool feather);

    // Drops every photo layer and starts again at position 0.
    void reloadData();
    // The next item, wrapping to 0 after the last.
    void advance();
    // Creates the photo layers of the items near `position` and drops the others.
    void updateLayers();

    // Places the photo layers of layer(); other layers are left alone.
    void layoutSublayersOfLayer(Layer& layer) override;
    // Draws the feather mask; it draws nothing else.
    void drawLayer(Layer& layer, DrawingContext& context) override;
    // Queues a load of `photoLayer`'s image when the layer has grown beyond the size already
    // requested, and shows the placeholder until it arrives.
    void loadLayerInBackground(const LayerPtr& photoLayer);

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override;
    std::any valueForKey(const std::string& key) const override;
    Observable* observableForKey(const std::string& key) const override;

    // The photo layers by item index.
    const std::map<std::size_t, LayerPtr>& itemLayers() const { return m_itemLayers; }
    // Runs the loads; concurrent.
    OperationQueue& workQueue() { return *m_workQueue; }
    // Frees the images of photos that left the strip (serial, in the background).
    OperationQueue& releaseQueue() { return *m_releaseQueue; }
    // Null while the strip does not advance on its own.
    AdvanceTimer* advanceTimerForTesting() const { return m_advanceTimer.get(); }

    // Loads shown in this process, over all displays. Any thread.
    static int completedLoadCount();
    // Shadows of photos about to enter the strip queued to be made ahead (only those not already
    // made are queued).
    int shadowPreparationCountForTesting() const { return m_shadowPreparations; }

private:
    struct LoadGuard;
    // The shadow a photo layer casts, in device pixels, to be made on the loading thread.
    struct PhotoShadow {
        QSizeF deviceBounds;
        double radius;
        QColor color;
    };

    void restartAdvanceTimer();
    void updateMask();
    // Queues the making of the shadows `items` will cast once they enter the strip, unless made.
    void prepareShadowsAhead(const std::vector<std::size_t>& items);
    std::size_t numberOfItems();
    double aspectRatioForItem(std::size_t index);
    // On a load thread: asks for the image and hands it to the main thread.
    static void loadPhotoForLayer(const std::shared_ptr<LoadGuard>& guard,
                                  const std::weak_ptr<Layer>& photoLayer,
                                  const std::weak_ptr<Operation>& operation, std::size_t index, unsigned size,
                                  const std::optional<PhotoShadow>& shadow);
    // On the main thread: fades the image in on its layer, if both still exist.
    static void showLoadedPhoto(const std::weak_ptr<LoadGuard>& guard, const std::weak_ptr<Layer>& photoLayer,
                                const std::weak_ptr<Operation>& operation, const QImage& image,
                                unsigned size);

    // Hands the last references to `images` to the release queue.
    void releaseInBackground(std::vector<QImage> images);

    // Destroyed last: waits for running loads once everything they could reach is cut off.
    std::unique_ptr<OperationQueue> m_workQueue;
    std::unique_ptr<OperationQueue> m_releaseQueue;
    std::map<std::size_t, LayerPtr> m_itemLayers;
    std::unique_ptr<AdvanceTimer> m_advanceTimer;
    LayerPtr m_layer;
    ItemDisplayDataSource* m_dataSource = nullptr; // non-owning
    std::size_t m_position = 0;
    double m_autoAdvanceInterval = 0.0;
    bool m_featherLeftEdge = false;
    bool m_featherRightEdge = false;
    std::shared_ptr<LoadGuard> m_loadGuard;
    int m_shadowPreparations = 0;
};
