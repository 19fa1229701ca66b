#pragma once

#include "Color.h"
#include "Geometry.h"

#include <QTransform>
#include <optional>

// The animatable properties of a layer: the model values set by the program, or the values on
// screen at one moment (the presentation). Geometry is in points, y up.
struct LayerState {
    // In the layer's own coordinate space.
    Rect bounds;
    // In the superlayer's coordinate space: where the anchor point sits.
    Point position;
    // Unit coordinates of the bounds: (0, 0) lower left, (1, 1) upper right.
    Point anchorPoint{0.5, 0.5};
    // Applied about the anchor point, in y-up coordinates (a positive rotation turns
    // counter-clockwise on screen).
    QTransform transform;
    double opacity = 1.0;
    std::optional<Color> backgroundColor;
    // Points, drawn inside the bounds.
    double borderWidth = 0.0;
    Color borderColor = Color::black();
    double shadowOpacity = 0.0;
    // Points of blur.
    double shadowRadius = 3.0;
    // Points, y up: the default casts the shadow 3 points downwards.
    Size shadowOffset{0, -3};
    Color shadowColor = Color::black();
    // How far new contents have faded in over the previous ones (1: fully shown).
    double contentsTransition = 1.0;

    // The bounding box of the transformed bounds, in the superlayer's coordinate space.
    Rect frame() const;
    // Maps the layer's own coordinates to its superlayer's.
    QTransform toSuperlayer() const;
};
