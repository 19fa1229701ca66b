#include "platform/foundation/MemoryAllocator.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <malloc.h>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool underSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool underSanitizer = true;
#else
constexpr bool underSanitizer = false;
#endif
#else
constexpr bool underSanitizer = false;
#endif

// Blocks mapped on their own, as the allocator counts them.
std::size_t ownMappings()
{
    return mallinfo2().hblks;
}

void* touched(std::size_t bytes)
{
    void* block = std::malloc(bytes);
    if (block)
        std::memset(block, 1, bytes);
    return block;
}

} // namespace

// What makes peak memory depend on the order loads end in: a large block freed raises the size
// from which blocks are mapped, and the next decode buffer lands in a heap.
TEST(MemoryAllocatorTest, LargeBlocksStayOnTheirOwnMappingsAfterALargerOneIsFreed)
{
    if (underSanitizer)
        GTEST_SKIP() << "the sanitizer's allocator ignores these settings";
    ASSERT_TRUE(MemoryAllocator::useFixedThresholds());

    void* decoded = touched(24 << 20);
    ASSERT_NE(decoded, nullptr);
    std::free(decoded);

    const std::size_t before = ownMappings();
    const std::size_t inUseBefore = mallinfo2().hblkhd;
    void* scaled = touched(8 << 20);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(ownMappings(), before + 1) << "an 8 MB block after a 24 MB one was freed came from a heap";
    std::free(scaled);
    EXPECT_EQ(mallinfo2().hblkhd, inUseBefore) << "a freed large block is given back at once";

    // Small blocks stay in the heaps.
    void* small = std::malloc(MemoryAllocator::ownMappingFromBytes / 4);
    EXPECT_EQ(ownMappings(), before);
    std::free(small);
}

TEST(MemoryAllocatorTest, ASettingTheAllocatorRefusesIsReported)
{
    static std::vector<int> options;
    options.clear();
    EXPECT_TRUE(MemoryAllocator::useFixedThresholds([](int option, int) {
        options.push_back(option);
        return 1;
    }));
    EXPECT_EQ(options, (std::vector<int>{M_MMAP_THRESHOLD, M_TRIM_THRESHOLD}));
    EXPECT_FALSE(MemoryAllocator::useFixedThresholds(
        [](int option, int) { return option == M_MMAP_THRESHOLD ? 1 : 0; }));
    EXPECT_FALSE(MemoryAllocator::useFixedThresholds(
        [](int option, int) { return option == M_TRIM_THRESHOLD ? 1 : 0; }));
}
