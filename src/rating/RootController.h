#pragma once

#include "platform/graphics/TextLayer.h"
#include "ui/Raroderavarav.h"

#include <QString>
#include <cstdint>

// The bottom screen for the life of the process: white, with one line telling what the program is
// doing. FIXME: the album load cycle and its screens arrive with the library; until then it shows
// its status and quits on Menu.
class RootController : public Raroderavarav {
public:
    RootController();

    int32_t status() const { return m_status; }
    // 0 loading, 1 finishing work before exit, -1 nothing to rate, -2 no library, -3 remote broken.
    void setStatus(int32_t status);

    // The text shown for a status.
    static QString textForStatus(int32_t status);

    void layerDidAppear() override;
    void buttonMenu() override;
    void layoutSublayersOfLayer(Layer& layer) override;

private:
    int32_t m_status = 0;
    std::shared_ptr<TextLayer> m_statusLayer;
};
