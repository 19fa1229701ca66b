#pragma once

#include "display/ItemDisplay.h"
#include "display/ItemDisplayDataSource.h"
#include "library/ItemStatus.h"
#include "library/RateSet.h"
#include "ui/Raroderavarav.h"

#include <cstddef>
#include <memory>

class AlbumInfo;

// The screen of one rating pass: the photos of a rate set one at a time, large, on a grey strip.
// Up promotes the photo in the centre, Down rates it down, Right passes on, Left goes back; each
// answer is stored in the rate set as the photo's status, confirmed by its own sound and shown at
// once by moving the photo up or down. Moving on past the last photo ends the pass: the controller
// pops itself and its parent reads position() and the statuses. It never writes star ratings.
//
// The strip's layer follows the controller's layer by autoresizing alone, so the controller lays
// nothing out. Main thread only, except the image requests of the strip's loads, which read only
// the rate set's fixed items.
class FlowController : public Raroderavarav, public ItemDisplayDataSource {
public:
    // Shares `rateSet` with whoever made it, which reads the statuses after the pass.
    explicit FlowController(std::shared_ptr<RateSet> rateSet);
    ~FlowController() override;

    const std::shared_ptr<RateSet>& rateSet() const { return m_rateSet; }
    ItemDisplay& itemDisplay() { return *m_itemDisplay; }
    const ItemDisplay& itemDisplay() const { return *m_itemDisplay; }

    // The index in the rate set of the photo in the centre.
    std::size_t position() const { return m_itemDisplay->position(); }

    // When set, Right on a photo without a decision rates it down (two-way passes).
    bool autoHold() const { return m_autoHold; }
    void setAutoHold(bool autoHold) { m_autoHold = autoHold; }

    // Records `status` for the photo in the centre, with its sound (none for other statuses), and
    // moves the photo to show it.
    void rateCurrentItem(ItemStatus status);
    // The next photo, or the end of the pass after the last one.
    void advance();
    // The previous photo; nothing at the first.
    void retreat();

    void layerDidAppear() override;
    void buttonUp() override;
    void buttonDown() override;
    void buttonLeft() override;
    void buttonRight() override;
    void buttonMenu() override;

    std::size_t numberOfItemsInDisplay(ItemDisplay& display) override;
    QImage itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size) override;
    ImageWork itemDisplayImageWork(ItemDisplay& display, std::size_t index, unsigned size) override;
    double itemDisplayNeedsAspectRatio(ItemDisplay& display, std::size_t index) override;
    // The photo's status: promoted photos rise a quarter of the strip's height, photos rated down
    // sink a quarter, passed-over photos half.
    long itemDisplayNeedsAlignment(ItemDisplay& display, std::size_t index) override;
    bool respondsToItemDisplayNeedsAlignment() const override { return true; }

    QJsonObject describeForAutomation() const override;

private:
    // Declared before the strip, so the strip (and its loads, which read these) goes first.
    std::shared_ptr<RateSet> m_rateSet;
    // Taken on the main thread, for the load threads to ask.
    std::shared_ptr<AlbumInfo> m_albumInfo;
    std::unique_ptr<ItemDisplay> m_itemDisplay;
    bool m_autoHold = false;
};
