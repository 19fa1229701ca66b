#pragma once

#include <iosfwd>

// Plane geometry of the layer tree, with the semantics the program's layout code was written
// against: the y axis points up (origin at the lower left), units are points, and rectangles with
// negative sizes are standardized by every accessor. One point is one device-independent pixel.

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(double x, double y, double width, double height);
    Rect(Point origin, Size size);

    // The "no rectangle" result of intersecting disjoint rectangles. Unions ignore it.
    static Rect null();

    double minX() const;
    double midX() const;
    double maxX() const;
    double minY() const;
    double midY() const;
    double maxY() const;
    double width() const;
    double height() const;

    // Empty: null, or zero width or height. Null: only the result of an empty intersection
    // (or of insetting past the middle).
    bool isEmpty() const;
    bool isNull() const;

    // Same rectangle with non-negative width and height.
    Rect standardized() const;
    // The smallest rectangle with integral origin and size that contains this one.
    Rect integral() const;
    // Positive insets shrink; insetting past the middle gives null.
    Rect insetBy(double dx, double dy) const;
    Rect offsetBy(double dx, double dy) const;
    Rect unionWith(const Rect& other) const;
    Rect intersection(const Rect& other) const;
    // Half-open: the minimum edges are inside, the maximum edges are not.
    bool contains(Point point) const;

    bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& stream, const Point& point);
std::ostream& operator<<(std::ostream& stream, const Size& size);
std::ostream& operator<<(std::ostream& stream, const Rect& rect);
