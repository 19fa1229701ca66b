#include "platform/graphics/FontSubstitutes.h"

#include <QFont>
#include <QStringList>
#include <mutex>

void FontSubstitutes::install()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        QFont::insertSubstitutions(QStringLiteral("Futura"),
                                   QStringList{QStringLiteral("BetecknaGS"), QStringLiteral("URW Gothic")});
    });
}
