#pragma once

#include "platform/foundation/ObserverToken.h"
#include "platform/graphics/TextLayer.h"
#include "ui/Raroderavarav.h"

#include <QString>
#include <cstdint>

class AlbumController;
struct Notification;

// The bottom screen for the life of the process: white, with one line telling what the program is
// doing. While it is current and loading it has the album data reloaded; when albums with unrated
// photos arrive it opens the album picker, and when the picker closes it starts the stage for the
// chosen album. Main thread only.
class RootController : public Raroderavarav {
public:
    RootController();
    ~RootController() override;

    int32_t status() const { return m_status; }
    // 0 loading, 1 finishing work before exit, -1 nothing to rate, -2 no library, -3 remote broken.
    // Observed: setting it is all it takes to change the screen.
    void setStatus(int32_t status);

    // The text shown for a status; empty for a status that does not exist.
    static QString textForStatus(int32_t status);
    // The number of rating passes configured: NumberOfStages when 1 to 4, else 4.
    static int numberOfStages();

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override;
    void albumInfoDidLoad(const Notification& notification);

    // While held, appearing only notes that the album data is wanted; releasing the hold reloads
    // it then, unless the program is shutting down. Start-up holds it until the first frame is up,
    // so reading the library does not compete with drawing the loading screen.
    void holdReload() { m_reloadHeld = true; }
    void releaseReload();

    void layerDidAppear() override;
    void buttonMenu() override;
    void layoutSublayersOfLayer(Layer& layer) override;

    std::any valueForKey(const std::string& key) const override;

    const TextLayer& statusLayerForTesting() const { return *m_statusLayer; }
    const TextLayer& hintLayerForTesting() const { return *m_hintLayer; }

private:
    void startStageForChosenAlbum();

    int32_t m_status = 0;
    std::shared_ptr<TextLayer> m_statusLayer;
    // Shown beneath the status, smaller, only while no library is found.
    std::shared_ptr<TextLayer> m_hintLayer;
    // The picker on the stack above this controller until its album's stage has started.
    std::shared_ptr<AlbumController> m_albumPicker;
    ObserverToken m_reloadObservation;
    bool m_reloadHeld = false;
    bool m_reloadWanted = false; // appeared loading while held
};
