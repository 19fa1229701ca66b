#pragma once

// Whoever shows a layer tree on screen. Told of every change in the tree so it can schedule a
// repaint. Animations are not announced frame by frame: after each paint the host schedules the
// next one while the root hasRunningAnimations().
class LayerTreeHost {
public:
    virtual ~LayerTreeHost();
    virtual void layerTreeNeedsDisplay() = 0;
    // Device pixels per point of the surface the tree is shown on; images made for the tree
    // (photos decoded for a layer) are made at this density. 1 unless the host says otherwise.
    virtual double devicePixelRatio() const;
};
