#include "tools/library/PugiArena.h"

#include <algorithm>
#include <cstdlib>
#include <pugixml.hpp>
#include <sys/mman.h>

namespace {
constexpr size_t hugePage = size_t(2) << 20;
// The alignment of what pugixml allocates (pages of nodes).
constexpr size_t alignment = alignof(std::max_align_t);

thread_local PugiArena* current = nullptr;

size_t roundedUp(size_t size, size_t unit)
{
    return (size + unit - 1) / unit * unit;
}
} // namespace

// Set before main(), while there is one thread. Outside an arena the functions do what pugixml's
// own do, so memory taken before them is freed as it should be.
const bool PugiArena::installed = [] {
    pugi::set_memory_management_functions(&PugiArena::allocate, &PugiArena::deallocate);
    return true;
}();

PugiArena::PugiArena(size_t expected)
    : m_nextBlock(roundedUp(std::max(expected, hugePage), hugePage))
    , m_outer(current)
{
    current = this;
}

PugiArena::~PugiArena()
{
    current = m_outer;
    for (const Block& block : m_blocks)
        ::munmap(block.mapping, block.mappingSize);
}

void* PugiArena::allocate(size_t size)
{
    if (current) {
        if (void* taken = current->take(size))
            return taken;
    }
    return std::malloc(size);
}

void PugiArena::deallocate(void* pointer)
{
    for (const PugiArena* arena = current; arena; arena = arena->m_outer) {
        if (arena->holds(pointer))
            return; // given back with its block
    }
    std::free(pointer);
}

void* PugiArena::take(size_t size)
{
    size = roundedUp(std::max<size_t>(size, 1), alignment);
    if ((m_blocks.empty() || m_blocks.back().size - m_blocks.back().used < size) && !addBlock(size))
        return nullptr;
    Block& block = m_blocks.back();
    char* const taken = block.begin + block.used;
    block.used += size;
    return taken;
}

bool PugiArena::holds(const void* pointer) const
{
    const char* const at = static_cast<const char*>(pointer);
    return std::any_of(m_blocks.begin(), m_blocks.end(), [&](const Block& block) {
        return at >= block.begin && at < block.begin + block.size;
    });
}

bool PugiArena::addBlock(size_t size)
{
    const size_t blockSize = std::max(m_nextBlock, roundedUp(size, hugePage));
    // Mapped a huge page larger, to start the block on a huge page's boundary. Untouched pages
    // cost nothing.
    const size_t mappingSize = blockSize + hugePage;
    void* const mapping = ::mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE,
                                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return false;
    const auto begin = reinterpret_cast<char*>(roundedUp(reinterpret_cast<uintptr_t>(mapping), hugePage));
    ::madvise(begin, blockSize, MADV_HUGEPAGE);
    m_blocks.push_back({mapping, mappingSize, begin, blockSize, 0});
    m_nextBlock = blockSize * 2;
    return true;
}
