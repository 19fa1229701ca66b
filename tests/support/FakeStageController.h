#pragma once

#include "rating/BreakMenuHost.h"
#include "rating/FlowController.h"
#include "rating/InterflowController.h"
#include "ui/HostView.h"

#include <memory>

// Drives the passes of one album as the stage does, without its title cards (the flow is pushed
// at once) and without a real break menu (it counts the requests): each time it is current again
// it looks at the confirmation screen's state and shows the next screen, and it closes itself
// when the run is over. Header-only: only tests that link the screens use it.
class FakeStageController : public Raroderavarav, public BreakMenuHost {
public:
    FakeStageController(PlistArray items, unsigned stages)
        : m_stages(stages)
        , m_interflower(std::make_shared<InterflowController>(std::move(items), stages <= 2))
    {
        m_interflower->setState(InterflowStateNextStage);
    }

    void layerDidAppear() override { proceedOmatic(); }

    void proceedOmatic()
    {
        HostView* view = hostView();
        if (!view)
            return;
        switch (m_interflower->state()) {
        case InterflowStateRating:
            m_interflower->setRatePosition(m_flower->position());
            view->pushController(m_interflower);
            return;
        case InterflowStateReturn:
            m_interflower->setState(InterflowStateRating);
            view->pushController(m_flower);
            return;
        case InterflowStateNextStage:
            startPass();
            view->pushController(m_flower);
            return;
        case InterflowStateFinished:
            view->popController();
            return;
        }
    }

    void showBreakMenu() override { ++m_breakMenus; }
    void checkBreakMenu() override { ++m_breakChecks; }

    const std::shared_ptr<FlowController>& flower() const { return m_flower; }
    const std::shared_ptr<InterflowController>& interflower() const { return m_interflower; }
    int breakMenus() const { return m_breakMenus; }
    int breakChecks() const { return m_breakChecks; }
    unsigned passes() const { return m_passes; }

private:
    // The numbering of the passes: the level each pass rates at, and which pass is the last.
    void startPass()
    {
        ++m_passes;
        m_interflower->setState(InterflowStateRating);
        m_flower = std::make_shared<FlowController>(m_interflower->rateSet());
        unsigned stage = m_interflower->stage();
        switch (m_stages) {
        case 1:
            stage += 3;
            m_interflower->setLastStage(true);
            break;
        case 2:
            stage += 2;
            break;
        default:
            stage += 1;
            m_flower->setAutoHold(true);
            break;
        }
        m_interflower->setStage(stage);
        const unsigned last = m_stages == 2 ? 3 : m_stages == 3 ? 2 : 3;
        if (m_stages != 1 && stage > last)
            m_interflower->setLastStage(true);
    }

    unsigned m_stages;
    std::shared_ptr<InterflowController> m_interflower;
    std::shared_ptr<FlowController> m_flower;
    int m_breakMenus = 0;
    int m_breakChecks = 0;
    unsigned m_passes = 0;
};
