#pragma once

#include "platform/graphics/Color.h"

// The colour the layer tree draws for a user-interface colour.
//
// One Color type stands for both: a user-interface colour and a layer-tree colour are alike a
// colour space with its components followed by alpha, so the conversion keeps the space and the
// components as they are. What it adds is the check that the colour fits its space; fails with
// "Mismatched number of color components" for one that does not (a colour with no components,
// standing for a pattern, for instance).
Color qm_CGColor(const Color& color);
