#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/TextLayer.h"
#include "rating/BreakMenuHost.h"
#include "ui/Raroderavarav.h"

#include <QStringList>
#include <cstddef>
#include <memory>

class FlowController;
class InterflowController;
class MenuController;

// Runs the rating of one album from its first pass to its last, then closes itself. Each pass
// opens with a one-second title card (the white screen of this controller) whose two captions say
// in stars what a photo rated down and a promoted photo get in the coming pass; the captions stay
// above the pass's screens (the overlay) until the next pass replaces them. Then the pass's flow
// screen, then the confirmation screen, whose state says what comes next. The flow's Menu opens
// the break menu: "Toggle fullscreen", "Finish this level", "Exit rating".
//
// With one or two stages a pass has three outcomes (down, passed over, up), with three or four
// two (down, up). When it goes, it hands the album's photos to the album data to be released off
// the main thread. Main thread only.
class StageController : public Raroderavarav, public BreakMenuHost {
public:
    // Seconds the title card shows before its pass's flow.
    static constexpr double titleCardDuration = 1.0;

    // `stages`: 1 to 4; anything else is a programming error.
    StageController(PlistArray items, int stages);
    // Shares `items` (null: none), an album's list of photos that nobody changes.
    StageController(std::shared_ptr<const PlistArray> items, int stages);
    ~StageController() override;

    static QStringList breakChoices();

    // The album's photos, as given.
    const PlistArray& items() const { return *m_items; }
    int stages() const { return static_cast<int>(m_numberOfStages); }

    LayerPtr overlayLayer() const override { return m_overlayLayer; }

    // Decides the next step from the confirmation screen's state; called whenever this controller
    // is current again.
    void proceedOmatic();
    void showBreakMenu() override;
    void checkBreakMenu() override;
    void handleBreakChoice(std::size_t index);

    void layerWillDisappear() override;
    void layerDidAppear() override;
    // Reaches this controller only during a title card: abandons the run.
    void buttonMenu() override;
    void layoutSublayersOfLayer(Layer& layer) override;

    QJsonObject describeForAutomation() const override;

    const std::shared_ptr<FlowController>& flower() const { return m_flower; }
    const std::shared_ptr<InterflowController>& interflower() const { return m_interflower; }
    const std::shared_ptr<MenuController>& breakMenu() const { return m_breakMenu; }
    const TextLayer& holdCaption() const { return *m_holdCaption; }
    const TextLayer& promoteCaption() const { return *m_promoteCaption; }
    bool isTitleCardShowing() const { return m_flowPush.isPending(); }
    // Ends the title card at once, as its second running out would.
    void endTitleCardForTesting();

private:
    void startPass();
    // The delayed end of the title card, if this controller is still the current screen.
    void pushFlower();

    // Never null.
    std::shared_ptr<const PlistArray> m_items;
    LayerPtr m_overlayLayer;
    std::shared_ptr<TextLayer> m_holdCaption;
    std::shared_ptr<TextLayer> m_promoteCaption;
    std::shared_ptr<FlowController> m_flower;
    std::shared_ptr<InterflowController> m_interflower;
    std::shared_ptr<MenuController> m_breakMenu;
    unsigned m_numberOfStages;
    DelayedRequest m_flowPush;
};
