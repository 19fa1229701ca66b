#pragma once

#include "Color.h"
#include "Geometry.h"

#include <QPainter>
#include <utility>
#include <vector>

// What a layer's delegate draws into: a QPainter seen in the layer's own coordinate space (y up,
// points). The painter's state is restored when the context ends.
class DrawingContext {
public:
    // A colour at a position along a gradient, 0 at its start point, 1 at its end point.
    using GradientStop = std::pair<double, Color>;

    // `bounds` is the layer's bounds; the painter's device shows exactly that rectangle.
    DrawingContext(QPainter& painter, const Rect& bounds);
    ~DrawingContext();
    DrawingContext(const DrawingContext&) = delete;
    DrawingContext& operator=(const DrawingContext&) = delete;

    const Rect& bounds() const { return m_bounds; }

    void fillRect(const Rect& rect, const Color& color);
    // Fills the band between the lines through `start` and `end` perpendicular to them; with
    // `extendBefore`/`extendAfter` the end colours also fill beyond them.
    void drawLinearGradient(const std::vector<GradientStop>& stops, Point start, Point end,
                            bool extendBefore = false, bool extendAfter = false);
    // Intersects the clip with `rect`.
    void clipToRect(const Rect& rect);

    // For drawing beyond these operations; y up in layer coordinates.
    QPainter& painter() { return m_painter; }

private:
    QPainter& m_painter;
    Rect m_bounds;
};
