#pragma once

#include <string>

class Layer;

// A deterministic text picture of a layer tree for tests: one line per layer, indented two
// spaces per depth, with its kind or name, its model frame, its string (text layers) and
// "hidden" when hidden. Masks are listed under their layer, marked "mask".
class LayerTreeDump {
public:
    static std::string dump(const Layer& root);
};
