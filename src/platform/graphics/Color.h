#pragma once

#include <QColor>
#include <cstddef>
#include <vector>

// A colour of the layer tree: a colour space and its components followed by alpha, each a double
// in 0…1. Any number of components can be stored, so a colour that does not fit its space (the
// kind a conversion must reject) is representable; such a colour draws as transparent.
class Color {
public:
    enum class Space { Gray, RGB };

    Color() = default;
    Color(Space space, std::vector<double> components);

    static Color white(double white, double alpha);
    static Color rgb(double red, double green, double blue, double alpha);
    static Color black() { return white(0, 1); }
    static Color clear() { return white(0, 0); }

    // The number of colour components of a space, alpha not counted.
    static size_t colourComponentsOf(Space space);

    Space space() const { return m_space; }
    // The colour components followed by alpha.
    const std::vector<double>& components() const { return m_components; }
    size_t numberOfComponents() const { return m_components.size(); }
    bool isWellFormed() const { return m_components.size() == colourComponentsOf(m_space) + 1; }

    double alpha() const;
    QColor toQColor() const;

    // Linear blend; colours of different spaces meet in RGB. t = 0 gives `from`, 1 gives `to`.
    static Color interpolate(const Color& from, const Color& to, double t);

    bool operator==(const Color&) const = default;

private:
    Color asRGB() const;

    Space m_space = Space::Gray;
    std::vector<double> m_components{0.0, 0.0};
};
