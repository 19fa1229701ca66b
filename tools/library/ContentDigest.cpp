#include "tools/library/ContentDigest.h"

#include <algorithm>
#include <xxhash.h>

ContentDigest::ContentDigest(QByteArrayView bytes)
{
    update(bytes, 0, bytes.size());
}

void ContentDigest::update(QByteArrayView bytes, qsizetype changedFrom, qsizetype changedTo)
{
    const size_t count = size_t((bytes.size() + blockSize - 1) / blockSize);
    const bool sameLength = bytes.size() == m_size && m_blocks.size() == count;
    m_blocks.resize(count);
    m_size = bytes.size();
    changedFrom = std::clamp<qsizetype>(changedFrom, 0, bytes.size());
    changedTo = std::clamp<qsizetype>(changedTo, changedFrom, bytes.size());
    // A shift moves every later block's contents, so those are hashed again as well.
    const size_t first = size_t(changedFrom / blockSize);
    const size_t last =
        sameLength ? size_t((std::max(changedTo, changedFrom + 1) + blockSize - 1) / blockSize) : count;
    hashBlocks(bytes, first, std::min(last, count));
}

void ContentDigest::hashBlocks(QByteArrayView bytes, size_t fromBlock, size_t toBlock)
{
    for (size_t block = fromBlock; block < toBlock; ++block) {
        const qsizetype offset = qsizetype(block) * blockSize;
        m_blocks[block] =
            XXH3_64bits(bytes.data() + offset, size_t(std::min(blockSize, bytes.size() - offset)));
    }
}

uint64_t ContentDigest::value() const
{
    return XXH3_64bits_withSeed(m_blocks.data(), m_blocks.size() * sizeof(uint64_t), uint64_t(m_size));
}
