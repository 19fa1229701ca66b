#include "LayerTreeHost.h"

LayerTreeHost::~LayerTreeHost() = default;
