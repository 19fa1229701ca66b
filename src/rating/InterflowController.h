#pragma once

#include "display/AdvanceTimer.h"
#include "display/ItemDisplay.h"
#include "display/ItemDisplayDataSource.h"
#include "library/RateSet.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/TextLayer.h"
#include "rating/InterflowState.h"
#include "ui/Raroderavarav.h"

#include <cstddef>
#include <memory>
#include <mutex>

class AlbumInfo;

// The screen between two rating passes: the outcome of the pass in moving strips (photos rated
// down at the bottom, in three-way passes the photos passed over above them, the promoted photos
// at the top, the prompt between) and the question whether to keep it. Right or Select confirms:
// the pass's star ratings are queued for writing, in pass order, and the promoted photos become
// the next pass's rate set. Left or Menu declines: back to the pass's flow, nothing written. A
// pass with nothing to show confirms itself.
//
// One instance lives for a whole run of passes over an album and carries its bookkeeping: the
// rating level `stage`, whether the pass is the last, and `state`, which tells the stage what to
// do when this screen has closed.
//
// The three photo lists exist only while the screen is shown (built from the statuses when it
// appears, cleared when it leaves). Every delayed call it makes (its strips' timer, the
// self-confirmation) is cancelled when it leaves the stack.
//
// Threads: main thread only, except the strips' image requests, which run on their load threads
// and read the lists under m_listsMutex; the lists are only ever replaced or cleared, under it,
// never changed in place.
class InterflowController : public Raroderavarav, public ItemDisplayDataSource {
public:
    // Seconds between two steps of the strips.
    static constexpr double stripStepInterval = 1.0;

    // `threeWay`: a pass has three outcomes (down, passed over, up) rather than two.
    InterflowController(PlistArray items, bool threeWay);
    // Shares `items` (null: none) with the first pass's set.
    InterflowController(std::shared_ptr<const PlistArray> items, bool threeWay);
    ~InterflowController() override;

    // The current pass's set; the flow of the pass writes into it. After a confirmation it is the
    // promoted photos' new set, or null when none were promoted.
    const std::shared_ptr<RateSet>& rateSet() const { return m_rateSet; }
    bool isThreeWay() const { return m_threeWay; }

    // The index at which the pass's flow ended; set before the screen is shown.
    std::size_t ratePosition() const { return m_ratePosition; }
    void setRatePosition(std::size_t position) { m_ratePosition = position; }

    InterflowState state() const { return m_state; }
    void setState(InterflowState state) { m_state = state; }

    // The rating level of the current pass; 0 until the first pass starts.
    unsigned stage() const { return m_stage; }
    void setStage(unsigned stage) { m_stage = stage; }

    // The current pass is the last one: by the numbering of the passes (setLastStage), or because
    // the user chose to end the run after it (finishAfterThisPass).
    bool isLastStage() const { return m_lastStage || m_finishAfterThisPass; }
    // The numbering's decision; the stage sets it when a pass starts, and going back keeps it.
    void setLastStage(bool lastStage) { m_lastStage = lastStage; }
    // The break menu's "Exit rating": this pass becomes the last, until the user goes back to its
    // flow, which lets the pass go on as it was.
    void finishAfterThisPass() { m_finishAfterThisPass = true; }

    // Queues `rating` stars for each item, in order.
    void applyRating(unsigned rating, const PlistArray& items);
    // One step of the strips: the lower ones forwards, the promoted one backwards, all wrapping.
    void updateDisplays();

    void layerDidAppear() override;
    void layerWillDisappear() override;
    // Confirms.
    void buttonRight() override;
    void buttonSelect() override { buttonRight(); }
    // Declines.
    void buttonLeft() override;
    void buttonMenu() override { buttonLeft(); }
    void layoutSublayersOfLayer(Layer& layer) override;

    std::size_t numberOfItemsInDisplay(ItemDisplay& display) override;
    QImage itemDisplayNeedsImage(ItemDisplay& display, std::size_t index, unsigned size) override;
    ImageWork itemDisplayImageWork(ItemDisplay& display, std::size_t index, unsigned size) override;
    double itemDisplayNeedsAspectRatio(ItemDisplay& display, std::size_t index) override;

    QJsonObject describeForAutomation() const override;

    // Null while the screen is not shown (or has nothing to show).
    const std::shared_ptr<const PlistArray>& ratedItems1() const { return m_ratedItems1; }
    const std::shared_ptr<const PlistArray>& ratedItems2() const { return m_ratedItems2; }
    const std::shared_ptr<const PlistArray>& promotedItems() const { return m_promotedItems; }
    ItemDisplay& promoteDisplay() { return *m_promoteDisplay; }
    ItemDisplay& rateDisplay1() { return *m_rateDisplay1; }
    // Null in two-way runs.
    ItemDisplay* rateDisplay2() { return m_rateDisplay2.get(); }
    const TextLayer& proceedText() const { return *m_proceedText; }
    AdvanceTimer* timerForTesting() const { return m_timer.get(); }
    bool isConfirmingItselfForTesting() const { return m_selfConfirmation.isPending(); }

private:
    using ItemList = std::shared_ptr<const PlistArray>;

    // The list a strip shows; an unknown strip is a programming error.
    const ItemList& itemsForDisplay(const ItemDisplay& display) const;
    void setLists(ItemList ratedItems1, ItemList ratedItems2, ItemList promotedItems);
    void reloadDisplays();
    // The delayed confirmation of a screen with nothing to show, if the screen is still up.
    void confirmOnItsOwn();
    ItemStatus statusOfItem(const PlistPtr& item) const;

    std::shared_ptr<RateSet> m_rateSet;
    std::size_t m_ratePosition = 0;
    const bool m_threeWay;
    InterflowState m_state = InterflowStateRating;
    unsigned m_stage = 0;
    bool m_lastStage = false;
    bool m_finishAfterThisPass = false;
    std::shared_ptr<AlbumInfo> m_albumInfo;
    // Guards the three lists against the load threads' reads; the main thread writes them only
    // under it.
    mutable std::mutex m_listsMutex;
    ItemList m_ratedItems1;
    ItemList m_ratedItems2;
    ItemList m_promotedItems;
    std::shared_ptr<TextLayer> m_proceedText;
    // After the lists: the strips and their loads go first.
    std::unique_ptr<ItemDisplay> m_promoteDisplay;
    std::unique_ptr<ItemDisplay> m_rateDisplay2;
    std::unique_ptr<ItemDisplay> m_rateDisplay1;
    std::unique_ptr<AdvanceTimer> m_timer;
    DelayedRequest m_selfConfirmation;
};
