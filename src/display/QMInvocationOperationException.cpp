#include "display/QMInvocationOperationException.h"

QMInvocationOperationException::QMInvocationOperationException(std::string name, const std::string& reason)
    : std::runtime_error(reason)
    , m_name(std::move(name))
{}
