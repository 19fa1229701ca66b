#include "ui/QMColorAdditions.h"

#include "platform/foundation/InternalInconsistency.h"

#include <gtest/gtest.h>

TEST(QMColorAdditionsTest, ColoursKeepTheirSpaceAndComponents)
{
    const Color white = qm_CGColor(Color::white(1, 1));
    EXPECT_EQ(white.space(), Color::Space::Gray);
    EXPECT_EQ(white.components(), (std::vector<double>{1, 1}));
    EXPECT_EQ(qm_CGColor(Color::black()).components(), (std::vector<double>{0, 1}));
    EXPECT_EQ(qm_CGColor(Color::rgb(0.1, 0.2, 0.3, 0.5)), Color::rgb(0.1, 0.2, 0.3, 0.5));
}

TEST(QMColorAdditionsTest, AColourThatDoesNotFitItsSpaceFails)
{
    for (const Color& misfit : {Color(Color::Space::Gray, {}), Color(Color::Space::RGB, {1, 1})}) {
        try {
            qm_CGColor(misfit);
            ADD_FAILURE() << "converted a colour of " << misfit.numberOfComponents() << " components";
        } catch (const InternalInconsistency& failure) {
            EXPECT_EQ(failure.description(), "Mismatched number of color components");
        }
    }
}
