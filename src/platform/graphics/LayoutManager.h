#pragma once

class Layer;

// Places the sublayers of the layers it manages when the layer tree lays them out.
class LayoutManager {
public:
    virtual ~LayoutManager();
    virtual void layoutSublayersOfLayer(Layer& layer) = 0;
};
