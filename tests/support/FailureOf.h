#pragma once

#include "platform/foundation/InternalInconsistency.h"

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
