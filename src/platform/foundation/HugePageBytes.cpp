#include "platform/foundation/HugePageBytes.h"

#include <cstdint>
#include <sys/mman.h>

QByteArray HugePageBytes::uninitialized(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    if (size < fromBytes)
        return bytes;
    // The whole huge pages within the block, which the allocator mapped on its own and has not
    // touched beyond its header.
    constexpr uintptr_t hugePage = uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<uintptr_t>(bytes.data());
    const uintptr_t first = (begin + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t last = (begin + uintptr_t(size)) & ~(hugePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    return bytes;
}
