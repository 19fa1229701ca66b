#pragma once

#include "platform/graphics/LayerTreeHost.h"

// Counts the repaint requests of a layer tree; installing it as a tree's host also turns on the
// tree's implicit animations.
class FakeLayerTreeHost : public LayerTreeHost {
public:
    void layerTreeNeedsDisplay() override { ++m_requests; }

    int requests() const { return m_requests; }
    void reset() { m_requests = 0; }

private:
    int m_requests = 0;
};
