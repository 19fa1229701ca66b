#include "support/QMSFX.h"

QMSFX& QMSFX::sharedSFX()
{
    static QMSFX shared;
    return shared;
}

void QMSFX::playSound(const std::string& name)
{
    m_lastSound = name;
}
