#pragma once

class DrawingContext;
class Layer;

// Draws the contents of a layer on request (after setNeedsDisplay, or when its bounds change
// and it redraws on bounds change).
class LayerDelegate {
public:
    virtual ~LayerDelegate();
    // `context` is in the layer's own coordinate space (y up, points).
    virtual void drawLayer(Layer& layer, DrawingContext& context) = 0;
};
