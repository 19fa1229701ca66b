#include "Geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

Rect::Rect(double x, double y, double width, double height)
    : origin{x, y}
    , size{width, height}
{}

Rect::Rect(Point anOrigin, Size aSize)
    : origin(anOrigin)
    , size(aSize)
{}

Rect Rect::null()
{
    const double infinity = std::numeric_limits<double>::infinity();
    return Rect(infinity, infinity, 0, 0);
}

double Rect::minX() const
{
    return std::min(origin.x, origin.x + size.width);
}
double Rect::midX() const
{
    return origin.x + size.width / 2;
}
double Rect::maxX() const
{
    return std::max(origin.x, origin.x + size.width);
}
double Rect::minY() const
{
    return std::min(origin.y, origin.y + size.height);
}
double Rect::midY() const
{
    return origin.y + size.height / 2;
}
double Rect::maxY() const
{
    return std::max(origin.y, origin.y + size.height);
}
double Rect::width() const
{
    return std::abs(size.width);
}
double Rect::height() const
{
    return std::abs(size.height);
}

bool Rect::isNull() const
{
    return std::isinf(origin.x) || std::isinf(origin.y);
}

bool Rect::isEmpty() const
{
    return isNull() || size.width == 0 || size.height == 0;
}

Rect Rect::standardized() const
{
    if (isNull())
        return *this;
    return Rect(minX(), minY(), width(), height());
}

Rect Rect::integral() const
{
    if (isNull())
        return *this;
    const double left = std::floor(minX());
    const double bottom = std::floor(minY());
    return Rect(left, bottom, std::ceil(maxX()) - left, std::ceil(maxY()) - bottom);
}

Rect Rect::insetBy(double dx, double dy) const
{
    if (isNull())
        return *this;
    const Rect r = standardized();
    const Rect result(r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy);
    if (result.size.width < 0 || result.size.height < 0)
        return null();
    return result;
}

Rect Rect::offsetBy(double dx, double dy) const
{
    if (isNull())
        return *this;
    return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
}

Rect Rect::unionWith(const Rect& other) const
{
    if (isNull())
        return other.standardized();
    if (other.isNull())
        return standardized();
    const double left = std::min(minX(), other.minX());
    const double bottom = std::min(minY(), other.minY());
    return Rect(left, bottom, std::max(maxX(), other.maxX()) - left, std::max(maxY(), other.maxY()) - bottom);
}

Rect Rect::intersection(const Rect& other) const
{
    if (isNull() || other.isNull())
        return null();
    const double left = std::max(minX(), other.minX());
    const double bottom = std::max(minY(), other.minY());
    const double right = std::min(maxX(), other.maxX());
    const double top = std::min(maxY(), other.maxY());
    if (right < left || top < bottom)
        return null();
    return Rect(left, bottom, right - left, top - bottom);
}

bool Rect::contains(Point point) const
{
    if (isEmpty())
        return false;
    return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
}

std::ostream& operator<<(std::ostream& stream, const Point& point)
{
    return stream << "(" << point.x << ", " << point.y << ")";
}

std::ostream& operator<<(std::ostream& stream, const Size& size)
{
    return stream << "(" << size.width << " x " << size.height << ")";
}

std::ostream& operator<<(std::ostream& stream, const Rect& rect)
{
    if (rect.isNull())
        return stream << "(null)";
    return stream << "(" << rect.origin.x << ", " << rect.origin.y << ", " << rect.size.width << ", "
                  << rect.size.height << ")";
}
