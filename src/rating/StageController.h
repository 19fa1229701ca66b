#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/graphics/TextLayer.h"
#include "ui/Raroderavarav.h"

// Walks one album's photos through one to four rating passes, then closes itself.
// FIXME: the passes arrive with the photo strip and the flow screens; until then it says what it
// would rate and closes on any button.
class StageController : public Raroderavarav {
public:
    StageController(PlistArray items, int stages);

    const PlistArray& items() const { return m_items; }
    int stages() const { return m_stages; }

    void buttonUp() override { close(); }
    void buttonDown() override { close(); }
    void buttonLeft() override { close(); }
    void buttonRight() override { close(); }
    void buttonSelect() override { close(); }
    void buttonMenu() override { close(); }
    void layoutSublayersOfLayer(Layer& layer) override;

private:
    void close();

    PlistArray m_items;
    int m_stages;
    std::shared_ptr<TextLayer> m_titleLayer;
};
