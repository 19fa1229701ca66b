#include "LayerState.h"

QTransform LayerState::toSuperlayer() const
{
    const double anchorX = bounds.origin.x + anchorPoint.x * bounds.size.width;
    const double anchorY = bounds.origin.y + anchorPoint.y * bounds.size.height;
    if (transform.isIdentity())
        return QTransform::fromTranslate(position.x - anchorX, position.y - anchorY);
    return QTransform::fromTranslate(-anchorX, -anchorY) * transform *
           QTransform::fromTranslate(position.x, position.y);
}

Rect LayerState::frame() const
{
    const Rect r = bounds.standardized();
    if (transform.isIdentity()) {
        return Rect(position.x - anchorPoint.x * r.width(), position.y - anchorPoint.y * r.height(),
                    r.width(), r.height());
    }
    const QRectF mapped = toSuperlayer().mapRect(QRectF(r.minX(), r.minY(), r.width(), r.height()));
    return Rect(mapped.x(), mapped.y(), mapped.width(), mapped.height());
}
