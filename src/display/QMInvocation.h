#pragma once

#include <any>
#include <functional>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <utility>

// One recorded call, ready to be delivered: the callable with its target and its arguments bound
// into it. Whatever the callable holds (shared targets, shared arguments) stays alive as long as
// the invocation does. The return type is known from the callable's own signature.
//
// Thread safety: immutable after creation; invoke() may run on any thread, though a callable that
// changes its own captures (a mutable lambda) must not be invoked on two threads at once.
class QMInvocation {
public:
    // `call` is any callable taking no arguments. Its result must be copyable (it is boxed in a
    // std::any); a move-only callable is accepted.
    template <typename Call> static std::shared_ptr<QMInvocation> create(Call&& call)
    {
        using Stored = std::decay_t<Call>;
        using Result = std::invoke_result_t<Stored&>;
        // Held through a shared pointer so that std::function may copy it even when it is move-only.
        auto held = std::make_shared<Stored>(std::forward<Call>(call));
        std::function<std::any()> body;
        if constexpr (std::is_void_v<Result>) {
            body = [held] {
                std::invoke(*held);
                return std::any();
            };
        } else {
            body = [held] { return std::any(std::invoke(*held)); };
        }
        return std::shared_ptr<QMInvocation>(
            new QMInvocation(std::move(body), typeid(Result), std::is_void_v<Result>));
    }

    // Delivers the call. A void call gives an empty value; a failure raised by the call propagates.
    std::any invoke() const;

    // The declared return type (with references and cv-qualifiers dropped, as the value is boxed).
    const std::type_info& returnType() const { return *m_returnType; }
    bool returnsVoid() const { return m_returnsVoid; }

private:
    QMInvocation(std::function<std::any()> call, const std::type_info& returnType, bool returnsVoid);

    std::function<std::any()> m_call;
    const std::type_info* m_returnType;
    bool m_returnsVoid;
};
