#include "display/QMInvocationOperation.h"

#include "display/QMInvocationOperationException.h"

std::shared_ptr<QMInvocationOperation> QMInvocationOperation::create()
{
    return std::make_shared<QMInvocationOperation>();
}

std::shared_ptr<const QMInvocation> QMInvocationOperation::invocation() const
{
    std::lock_guard lock(m_invocationMutex);
    return m_invocation;
}

void QMInvocationOperation::proxySetsInvocation(std::shared_ptr<QMInvocation> invocation)
{
    std::lock_guard lock(m_invocationMutex);
    QM_ASSERT(!m_invocation, "Operation must be prepared only once.");
    m_invocation = std::move(invocation);
}

void QMInvocationOperation::main()
{
    const auto recorded = invocation();
    QM_ASSERT(recorded, "Invocation must be prepared before operation is started");
    try {
        m_returnValue = recorded->invoke();
    } catch (...) {
        m_exception = std::current_exception();
        throw;
    }
}

std::any QMInvocationOperation::result() const
{
    // Reading while main() may still write would race; one cancelled before it started never will.
    QM_ASSERT(isFinished() || (isCancelled() && !isExecuting()),
              "Operation must be finished before its result is read");
    if (m_exception)
        std::rethrow_exception(m_exception);
    if (isCancelled())
        throw QMInvocationOperationException(QMInvocationOperationException::cancelledName,
                                             "The operation was cancelled and has no result");
    const auto recorded = invocation();
    QM_ASSERT(recorded, "Invocation must be prepared before operation is started");
    if (recorded->returnsVoid())
        throw QMInvocationOperationException(QMInvocationOperationException::voidResultName,
                                             "The recorded call returns no value");
    return m_returnValue;
}
