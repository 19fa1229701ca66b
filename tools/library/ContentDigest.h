#pragma once

#include <QByteArrayView>
#include <cstdint>
#include <vector>

// A 64-bit digest of a file's contents that is cheap to bring up to date after a small change: the
// contents are hashed in blocks of `blockSize` bytes and the digest is a hash of the blocks'
// hashes and the length. After a change of a few bytes that keeps the length, only the blocks
// holding them are hashed again; after one that changes the length, the blocks from the first
// change on. Not cryptographic: it tells our own writes from anybody else's, it does not resist
// someone forging contents on purpose (who could write the file anyway).
//
// Any thread; an object is used by one thread at a time.
class ContentDigest {
public:
    static constexpr qsizetype blockSize = qsizetype(1) << 20; // bytes

    explicit ContentDigest(QByteArrayView bytes);

    // Brings the digest to `bytes`, which differ from the contents it was made from only in
    // [changedFrom, changedTo) (offsets in `bytes`), where a change of length shifts the rest.
    void update(QByteArrayView bytes, qsizetype changedFrom, qsizetype changedTo);

    uint64_t value() const;
    qsizetype size() const { return m_size; }

private:
    void hashBlocks(QByteArrayView bytes, size_t fromBlock, size_t toBlock);

    qsizetype m_size = 0;
    std::vector<uint64_t> m_blocks;
};
