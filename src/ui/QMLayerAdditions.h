#pragma once

#include "platform/graphics/Geometry.h"

class Layer;

// The topmost ancestor of `layer`: the layer itself when it has no superlayer. (A mask has no
// superlayer, so it is its own root.)
Layer& qm_rootLayer(Layer& layer);
const Layer& qm_rootLayer(const Layer& layer);

// `rect` (in `layer`'s coordinates) enlarged so that its edges fall on whole units of the root
// layer, returned in `layer`'s coordinates. The host view's root layer maps one unit to one point
// of the view, so the edges are whole points on screen. For a layer outside any tree this is
// `rect` rounded outward.
Rect qm_pixelAlignRect(const Layer& layer, const Rect& rect);
