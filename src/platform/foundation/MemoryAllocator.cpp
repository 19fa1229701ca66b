#include "platform/foundation/MemoryAllocator.h"

#include <malloc.h>

bool MemoryAllocator::useFixedThresholds()
{
    return useFixedThresholds(&mallopt);
}

bool MemoryAllocator::useFixedThresholds(SetOption setOption)
{
    // Setting either threshold also stops the allocator from moving both on its own; each call
    // returns 1 when it was taken.
    bool took = setOption(M_MMAP_THRESHOLD, int(ownMappingFromBytes)) == 1;
    took = setOption(M_TRIM_THRESHOLD, int(trimAboveBytes)) == 1 && took;
    return took;
}
