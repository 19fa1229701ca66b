#include "Color.h"

#include <algorithm>

Color::Color(Space space, std::vector<double> components)
    : m_space(space)
    , m_components(std::move(components))
{}

Color Color::white(double white, double alpha)
{
    return Color(Space::Gray, {white, alpha});
}

Color Color::rgb(double red, double green, double blue, double alpha)
{
    return Color(Space::RGB, {red, green, blue, alpha});
}

size_t Color::colourComponentsOf(Space space)
{
    return space == Space::Gray ? 1 : 3;
}

double Color::alpha() const
{
    return isWellFormed() ? m_components.back() : 0.0;
}

QColor Color::toQColor() const
{
    if (!isWellFormed())
        return QColor(Qt::transparent);
    auto c = [this](size_t i) { return std::clamp(m_components[i], 0.0, 1.0); };
    if (m_space == Space::Gray)
        return QColor::fromRgbF(float(c(0)), float(c(0)), float(c(0)), float(c(1)));
    return QColor::fromRgbF(float(c(0)), float(c(1)), float(c(2)), float(c(3)));
}

Color Color::asRGB() const
{
    if (m_space == Space::RGB || !isWellFormed())
        return *this;
    return rgb(m_components[0], m_components[0], m_components[0], m_components[1]);
}

Color Color::interpolate(const Color& from, const Color& to, double t)
{
    if (!from.isWellFormed() || !to.isWellFormed())
        return t < 0.5 ? from : to;
    const Color a = from.m_space == to.m_space ? from : from.asRGB();
    const Color b = from.m_space == to.m_space ? to : to.asRGB();
    std::vector<double> mixed(a.m_components.size());
    for (size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = a.m_components[i] + (b.m_components[i] - a.m_components[i]) * t;
    return Color(a.m_space, std::move(mixed));
}
