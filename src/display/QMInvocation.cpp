#include "display/QMInvocation.h"

QMInvocation::QMInvocation(std::function<std::any()> call, const std::type_info& returnType, bool returnsVoid)
    : m_call(std::move(call))
    , m_returnType(&returnType)
    , m_returnsVoid(returnsVoid)
{}

std::any QMInvocation::invoke() const
{
    return m_call();
}
