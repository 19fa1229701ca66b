#pragma once

#include "display/QMInvocation.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/Operation.h"

#include <any>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

// A queueable operation that delivers one recorded call, keeping the call's target and arguments
// alive until the operation itself goes away.
//
// A call is recorded as a bound call object instead of a message sent to a forwarding proxy; the
// compiler checks it against the target's own signature, as the proxy did at run time:
//   - preparing with a target and sending it one message becomes
//     prepareWithTarget(target, &Target::method, arguments...): the shared target and copies of
//     the arguments are bound into the call. prepare(callable) records any other call, such as
//     one to a static (class-level) operation or a lambda.
//   - the forwarding proxy and its signature lookup are the QMInvocation built by prepare();
//     the proxy's hand-over is proxySetsInvocation(), which prepare() calls.
//   - an operation made ready with a call in one step (also the platform's plain invocation
//     operation with a target, a method and one argument) is create(callable).
//   - invocation(), exception() and result() are the operation's fields and its result; the
//     result is boxed in a std::any (an object comes back as the std::shared_ptr it returned) and
//     result<T>() unboxes it (std::bad_any_cast for a wrong T).
//
// Thread safety: prepare on one thread before adding the operation to a queue; main() runs on the
// queue's thread; read result() and exception() only after the operation has finished (waited
// for, or seen isFinished()): finishing publishes what main() wrote.
class QMInvocationOperation : public Operation {
public:
    // An unprepared operation.
    static std::shared_ptr<QMInvocationOperation> create();

    // An operation prepared with `call`.
    template <typename Call> static std::shared_ptr<QMInvocationOperation> create(Call&& call)
    {
        auto operation = create();
        operation->prepare(std::forward<Call>(call));
        return operation;
    }

    // Records `call`. A second preparation is a programming error: "Operation must be prepared
    // only once."
    template <typename Call> void prepare(Call&& call)
    {
        proxySetsInvocation(QMInvocation::create(std::forward<Call>(call)));
    }

    // Records `method` called on `target` with `arguments`, which are copied (or moved) into the
    // recorded call and kept alive with the target until the operation is released.
    template <typename Target, typename Method, typename... Arguments>
    void prepareWithTarget(std::shared_ptr<Target> target, Method method, Arguments&&... arguments)
    {
        QM_PARAMETER_ASSERT(target != nullptr, "target != nil");
        prepare([boundTarget = std::move(target), method,
                 ... boundArguments = std::forward<Arguments>(arguments)]() mutable {
            return std::invoke(method, *boundTarget, boundArguments...);
        });
    }

    // The recorded call, or none before preparation.
    std::shared_ptr<const QMInvocation> invocation() const;

    // The failure the recorded call raised while running, or none.
    std::exception_ptr exception() const { return m_exception; }

    // The recorded call's value, once the operation has finished: the kept failure is raised again;
    // a cancelled operation raises QMInvocationOperationException::cancelledName; a call without a
    // value raises QMInvocationOperationException::voidResultName.
    std::any result() const;
    template <typename T> T result() const { return std::any_cast<T>(result()); }

protected:
    // Delivers the recorded call; "Invocation must be prepared before operation is started" when
    // there is none. A failure raised by the call is kept and also propagates to the queue.
    void main() override;

private:
    void proxySetsInvocation(std::shared_ptr<QMInvocation> invocation);

    // Only guards the hand-over of m_invocation, so a late or doubled preparation is caught
    // whatever thread it comes from.
    mutable std::mutex m_invocationMutex;
    std::shared_ptr<QMInvocation> m_invocation;
    // Written only by main(), read only after the operation has finished.
    std::exception_ptr m_exception;
    std::any m_returnValue;
};
