#pragma once

#include <cstddef>
#include <vector>

// Memory for the nodes pugixml makes while a large document is parsed on this thread: blocks
// advised for the system's 2 MB pages, handed out in turn and given back whole when the arena
// goes, instead of one heap allocation per 32 KB page of nodes. The nodes of a large sidecar take
// more memory than its text, and in 4 KB pages each fault (microseconds on a virtual machine)
// would cost more than the parse itself.
//
// While an arena lives on a thread, every pugixml allocation of that thread comes from it, so every
// document parsed meanwhile must be gone before it is; other threads, and this one before and
// after, allocate as pugixml does by itself (malloc and free). Arenas nest.
class PugiArena {
public:
    // `expected`: the bytes the nodes will likely take; more are added a block at a time.
    explicit PugiArena(size_t expected);
    ~PugiArena();
    PugiArena(const PugiArena&) = delete;
    PugiArena& operator=(const PugiArena&) = delete;

private:
    struct Block {
        void* mapping = nullptr;
        size_t mappingSize = 0;
        char* begin = nullptr;
        size_t size = 0;
        size_t used = 0;
    };

    static void* allocate(size_t size);
    static void deallocate(void* pointer);
    static const bool installed;
    void* take(size_t size);
    bool holds(const void* pointer) const;
    bool addBlock(size_t size);

    size_t m_nextBlock;
    std::vector<Block> m_blocks;
    PugiArena* m_outer;
};
