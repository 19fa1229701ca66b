#include "platform/graphics/Geometry.h"

#include "platform/graphics/Color.h"

#include <gtest/gtest.h>

TEST(GeometryTest, IntegralEnlargesToWholeUnits)
{
    EXPECT_EQ(Rect(10.2, 10.7, 100.1, 20.0).integral(), Rect(10, 10, 101, 21));
    EXPECT_EQ(Rect(-0.5, -0.5, 1, 1).integral(), Rect(-1, -1, 2, 2));
    EXPECT_EQ(Rect(3, 4, 5, 6).integral(), Rect(3, 4, 5, 6));
    EXPECT_TRUE(Rect::null().integral().isNull());
}

TEST(GeometryTest, NegativeSizesAreStandardized)
{
    const Rect r(10, 20, -4, -6);
    EXPECT_EQ(r.minX(), 6);
    EXPECT_EQ(r.maxX(), 10);
    EXPECT_EQ(r.minY(), 14);
    EXPECT_EQ(r.maxY(), 20);
    EXPECT_EQ(r.width(), 4);
    EXPECT_EQ(r.height(), 6);
    EXPECT_EQ(r.midX(), 8);
    EXPECT_EQ(r.integral(), Rect(6, 14, 4, 6));
}

TEST(GeometryTest, IntersectionOfDisjointRectsIsNullAndUnionIgnoresNull)
{
    const Rect a(0, 0, 10, 10);
    const Rect b(20, 20, 5, 5);
    EXPECT_TRUE(a.intersection(b).isNull());
    EXPECT_TRUE(a.intersection(b).isEmpty());
    EXPECT_EQ(a.intersection(Rect(5, 5, 10, 10)), Rect(5, 5, 5, 5));
    EXPECT_EQ(a.unionWith(b), Rect(0, 0, 25, 25));
    EXPECT_EQ(Rect::null().unionWith(b), b);
    EXPECT_EQ(a.unionWith(Rect::null()), a);
}

TEST(GeometryTest, EmptyIsNotNull)
{
    EXPECT_TRUE(Rect().isEmpty());
    EXPECT_FALSE(Rect().isNull());
    EXPECT_TRUE(Rect(1, 1, 0, 5).isEmpty());
    EXPECT_FALSE(Rect(1, 1, 1, 5).isEmpty());
}

TEST(GeometryTest, InsetPastTheMiddleIsNull)
{
    EXPECT_EQ(Rect(0, 0, 100, 50).insetBy(10, 5), Rect(10, 5, 80, 40));
    EXPECT_EQ(Rect(0, 0, 100, 50).insetBy(-1, -1), Rect(-1, -1, 102, 52));
    EXPECT_TRUE(Rect(0, 0, 10, 10).insetBy(6, 0).isNull());
    EXPECT_EQ(Rect(1, 2, 3, 4).offsetBy(10, -2), Rect(11, 0, 3, 4));
}

TEST(GeometryTest, ContainsIsHalfOpen)
{
    const Rect r(0, 0, 10, 10);
    EXPECT_TRUE(r.contains({0, 0}));
    EXPECT_TRUE(r.contains({9.99, 5}));
    EXPECT_FALSE(r.contains({10, 5}));
    EXPECT_FALSE(r.contains({5, 10}));
    EXPECT_FALSE(Rect(0, 0, 0, 10).contains({0, 0}));
}

TEST(ColorTest, ComponentsIncludeAlpha)
{
    const Color white = Color::white(1, 1);
    EXPECT_EQ(white.space(), Color::Space::Gray);
    EXPECT_EQ(white.components(), (std::vector<double>{1, 1}));
    EXPECT_EQ(Color::white(0, 1).components(), (std::vector<double>{0, 1}));
    EXPECT_EQ(Color::rgb(1, 0, 0, 0.5).numberOfComponents(), 4u);
    EXPECT_EQ(Color::colourComponentsOf(Color::Space::RGB), 3u);
    EXPECT_EQ(Color::white(0.5, 1).toQColor(), QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f));
}

TEST(ColorTest, MismatchedColourIsRepresentableAndDrawsTransparent)
{
    const Color odd(Color::Space::RGB, {1, 0});
    EXPECT_FALSE(odd.isWellFormed());
    EXPECT_EQ(odd.numberOfComponents(), 2u);
    EXPECT_EQ(odd.toQColor().alpha(), 0);
}

TEST(ColorTest, InterpolationAcrossSpacesMeetsInRgb)
{
    const Color mid = Color::interpolate(Color::white(0, 1), Color::rgb(1, 0.5, 0, 0), 0.5);
    EXPECT_EQ(mid.space(), Color::Space::RGB);
    EXPECT_EQ(mid.components(), (std::vector<double>{0.5, 0.25, 0, 0.5}));
    EXPECT_EQ(Color::interpolate(Color::white(0, 1), Color::white(1, 1), 0.25), Color::white(0.25, 1));
}
