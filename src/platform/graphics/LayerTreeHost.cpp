#include "LayerTreeHost.h"

LayerTreeHost::~LayerTreeHost() = default;

double LayerTreeHost::devicePixelRatio() const
{
    return 1.0;
}
