#include "QMColorAdditions.h"

#include "platform/foundation/InternalInconsistency.h"

Color qm_CGColor(const Color& color)
{
    QM_CASSERT(color.numberOfComponents() == Color::colourComponentsOf(color.space()) + 1, "Color",
               "Mismatched number of color components");
    return Color(color.space(), color.components());
}
