#pragma once

// Whoever shows a layer tree on screen. Told of every change in the tree so it can schedule a
// repaint. Animations are not announced frame by frame: after each paint the host schedules the
// next one while the root hasRunningAnimations().
class LayerTreeHost {
public:
    virtual ~LayerTreeHost();
    virtual void layerTreeNeedsDisplay() = 0;
};
