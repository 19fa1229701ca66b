#include "QMLayerAdditions.h"

#include "platform/graphics/Layer.h"

Layer& qm_rootLayer(Layer& layer)
{
    Layer* root = &layer;
    while (Layer* parent = root->superlayer())
        root = parent;
    return *root;
}

const Layer& qm_rootLayer(const Layer& layer)
{
    return qm_rootLayer(const_cast<Layer&>(layer));
}

Rect qm_pixelAlignRect(const Layer& layer, const Rect& rect)
{
    const Layer& root = qm_rootLayer(layer);
    const Rect aligned = layer.convertRectToLayer(rect, &root).integral();
    return layer.convertRectFromLayer(aligned, &root);
}
