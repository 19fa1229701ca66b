#pragma once

#include "display/ItemDisplay.h"
#include "display/ItemDisplayDataSource.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "ui/Raroderavarav.h"

#include <QStringList>
#include <atomic>
#include <cstddef>
#include <memory>

class AlbumInfo;
class MenuController;

// The screen on which the user chooses the album to rate: on white, a column of the names of the
// albums with unrated photos, the selected one marked by a tilted star, and in the lower left
// quarter a small strip of the selected album's photos that moves on by itself. Up and Down move
// the selection (the column glides by, the star stays); Select closes the screen, and whoever
// opened it reads albums() and position() to learn the choice. Menu opens the break menu:
// "Toggle fullscreen", "Quit".
//
// Layout, in the coordinates of the controller's layer (points, y up), on a virtual 800 × 600
// canvas scaled to the layer: the selected name's row always stands an eighth of the height plus
// one row below the top, earlier albums above it and later ones below, so a long list scrolls and
// the selection is always on screen. A name too long for the space right of the star ends in an
// ellipsis before the right margin. Rows off the layer are hidden.
//
// The album records are the picker's until it goes; then it hands them to the album data to be
// released off the main thread.
//
// Main thread only, except the strip's image requests, which read the album list (fixed) and the
// selection (atomic) on the strip's load threads.
class AlbumController : public Raroderavarav, public ItemDisplayDataSource {
public:
    // Seconds between two steps of the preview strip.
    static constexpr double previewInterval = 1.0;

    explicit AlbumController(PlistArray albums);
    ~AlbumController() override;

    static QStringList breakChoices();

    const PlistArray& albums() const { return m_albums; }
    // Index in albums() of the selected album. Observed: every set moves the column and restarts
    // the strip on that album.
    std::size_t position() const { return m_position.load(); }
    void setPosition(std::size_t position);

    // The break menu from its push until its choice has been handled.
    const std::shared_ptr<MenuController>& breakMenu() const { return m_breakMenu; }
    ItemDisplay& albumDisplay() { return *m_albumDisplay; }
    const Layer& albumLayer() const { return *m_albumLayer; }

    void layerWillDisappear() override;
    void layerDidAppear() override;
    void buttonUp() override;
    void buttonDown() override;
    void buttonSelect() override;
    void buttonMenu() override;

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override;
    // For the controller's layer and the name column; other layers are left alone.
    void layoutSublayersOfLayer(Layer& layer) override;

    // 0 while the screen is not shown, so a hidden strip neither moves nor loads.
    std::size_t numberOfItemsInDisplay(ItemDisplay& display) override;
    QImage itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size) override;
    ImageWork itemDisplayImageWork(ItemDisplay& display, std::size_t index, unsigned size) override;
    double itemDisplayNeedsAspectRatio(ItemDisplay& display, std::size_t index) override;

    std::any valueForKey(const std::string& key) const override;
    QJsonObject describeForAutomation() const override;

private:
    // The photos of the selected album; empty when it has none.
    const PlistArray& selectedItems() const;
    void layOutNames(Layer& albumLayer);

    PlistArray m_albums;
    std::atomic<std::size_t> m_position = 0;
    LayerPtr m_albumLayer;
    std::shared_ptr<AlbumInfo> m_albumInfo;
    // After what its loads read, so it and its loads go first.
    std::unique_ptr<ItemDisplay> m_albumDisplay;
    std::shared_ptr<MenuController> m_breakMenu;
    DelayedRequest m_quit;
};
