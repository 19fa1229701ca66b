#include "support/TemporaryConfigHome.h"

TemporaryConfigHome::TemporaryConfigHome()
    : m_previous(qgetenv("XDG_CONFIG_HOME"))
    , m_wasSet(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    qputenv("XDG_CONFIG_HOME", m_folder.path().toLocal8Bit());
}

TemporaryConfigHome::~TemporaryConfigHome()
{
    if (m_wasSet)
        qputenv("XDG_CONFIG_HOME", m_previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}
