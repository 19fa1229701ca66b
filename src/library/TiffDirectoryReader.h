#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Reads the directories of a TIFF structure held in memory: the container of most camera RAW
// files and of a JPEG's EXIF block. Only numbers are read (BYTE, SHORT, LONG and sub-directory
// values), which is all that the place of an embedded preview and a photo's orientation need; the
// metadata library would read every tag and maker note for them, which costs more than decoding a
// small preview.
//
// The bytes are hostile input: every offset and count is checked against their size, so a damaged
// structure gives no value (or no directory) rather than a read outside them. Offsets are in bytes
// from the start of the structure, its byte-order mark; a directory is named by its offset, 0 for
// none.
//
// Works on its arguments alone: any thread.
class TiffDirectoryReader {
public:
    // `data` must stay valid while the reader is used.
    TiffDirectoryReader(const unsigned char* data, size_t size);

    // Whether the bytes start with a byte-order mark ("II" or "MM") and a header.
    bool isValid() const { return m_valid; }
    // The number after the byte-order mark: 42 for TIFF; some camera formats put their own there.
    uint16_t magic() const { return m_valid ? read16(2) : 0; }

    uint32_t firstDirectory() const;
    // The directory after `directory` in the chain: 0 at the chain's end, and also where the chain
    // is damaged (it points outside the bytes or back), which nextPointerIsSound() tells apart.
    uint32_t nextDirectory(uint32_t directory) const;
    bool nextPointerIsSound(uint32_t directory) const;
    // Whether a whole directory, its entries and its next pointer, lies at `offset`.
    bool isDirectory(uint32_t offset) const;

    // The values of `tag` in `directory`, at most `limit` of them, when it holds unsigned whole
    // numbers; empty when the tag is absent, of another type or lies outside the bytes.
    std::vector<uint32_t> numbers(uint32_t directory, uint16_t tag, size_t limit = 16) const;
    // The value of a tag that holds exactly one number.
    std::optional<uint32_t> number(uint32_t directory, uint16_t tag) const;
    bool has(uint32_t directory, uint16_t tag) const;

private:
    uint16_t read16(size_t at) const;
    uint32_t read32(size_t at) const;
    // Where the directory's entry for `tag` starts, if it has one.
    std::optional<size_t> entryOf(uint32_t directory, uint16_t tag) const;
    uint32_t nextPointer(uint32_t directory) const;

    const unsigned char* m_data;
    size_t m_size;
    bool m_bigEndian = false;
    bool m_valid = false;
};
