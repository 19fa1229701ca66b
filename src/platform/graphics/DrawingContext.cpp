#include "DrawingContext.h"

#include <QLinearGradient>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

DrawingContext::DrawingContext(QPainter& painter, const Rect& bounds)
    : m_painter(painter)
    , m_bounds(bounds.standardized())
{
    m_painter.save();
    // Layer y-up points to the device's y-down pixels of the bounds.
    m_painter.setTransform(QTransform(1, 0, 0, -1, -m_bounds.minX(), m_bounds.maxY()), true);
}

DrawingContext::~DrawingContext()
{
    m_painter.restore();
}

void DrawingContext::fillRect(const Rect& rect, const Color& color)
{
    const Rect r = rect.standardized();
    if (r.isEmpty())
        return;
    m_painter.fillRect(QRectF(r.minX(), r.minY(), r.width(), r.height()), color.toQColor());
}

void DrawingContext::drawLinearGradient(const std::vector<GradientStop>& stops, Point start, Point end,
                                        bool extendBefore, bool extendAfter)
{
    const double dx = end.x - start.x;
    const double dy = end.y - start.y;
    const double length = std::hypot(dx, dy);
    if (stops.empty() || length == 0)
        return;
    QLinearGradient gradient(start.x, start.y, end.x, end.y);
    for (const auto& [location, color] : stops)
        gradient.setColorAt(std::clamp(location, 0.0, 1.0), color.toQColor());
    gradient.setSpread(QGradient::PadSpread);

    // Far enough to cover any layer; the painter clips the rest.
    const double reach = 1e6;
    const QPointF along(dx / length, dy / length);
    const QPointF across(-along.y() * reach, along.x() * reach);
    const QPointF from = QPointF(start.x, start.y) - (extendBefore ? along * reach : QPointF());
    const QPointF to = QPointF(end.x, end.y) + (extendAfter ? along * reach : QPointF());
    const QPolygonF band({from + across, to + across, to - across, from - across});
    m_painter.setPen(Qt::NoPen);
    m_painter.setBrush(gradient);
    m_painter.drawPolygon(band);
}

void DrawingContext::clipToRect(const Rect& rect)
{
    const Rect r = rect.standardized();
    m_painter.setClipRect(QRectF(r.minX(), r.minY(), r.width(), r.height()), Qt::IntersectClip);
}
