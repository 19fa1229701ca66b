#pragma once

// Whoever shows a layer tree on screen. Told of every change in the tree so it can schedule a
// repaint; running animations keep asking until they end.
class LayerTreeHost {
public:
    virtual ~LayerTreeHost();
    virtual void layerTreeNeedsDisplay() = 0;
};
