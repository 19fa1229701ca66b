#pragma once

#include "platform/foundation/InternalInconsistency.h"

#include <future>
#include <string>

// The description of the programming error `call` raises; empty when it raises none.
template <typename Call> std::string failureOf(Call&& call)
{
    try {
        call();
    } catch (const InternalInconsistency& failure) {
        return failure.description();
    }
    return {};
}

// The same for `call` run on a thread of its own, which is not the main thread.
template <typename Call> std::string failureOffTheMainThread(Call&& call)
{
    return std::async(std::launch::async, [&call] { return failureOf(call); }).get();
}
