// Writing and reading the exact-names side format (names_layout.h).
//
// The reader first decides whether a side format belongs to the block being
// pasted; one that does not is ignored as stale. One that does is untrusted
// input like the block: any fault in it raises kInvalidData, and every name
// in it must pass the UTF-16 name rules before anything is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crc.h"
#include "names_layout.h"

namespace tw {

struct ExactName {
    uint32_t recordIndex;
    uint32_t nameCrc32;  // nameFieldCrc of the record's name field
    std::u16string name;
};

// CRC-32 of the bytes before the terminator.
uint32_t nameFieldCrc(const char* fieldName);


// The side format for a block, names in ascending recordIndex. An entry that
// the reader would refuse (empty, longer than 255 units, failing the name
// rules, out of order) is left out: the paste then uses the record's name.
std::vector<uint8_t> writeNamesBlock(uint32_t blockLength, uint32_t blockCrc32, uint32_t codePage,
                                     const std::vector<ExactName>& names);

// The names of a side format that belongs to this block.
class BoundNames {
public:
    // The exact name for the record, or nullptr when there is no entry for
    // it or its nameCrc32 does not match the record's name field (then the
    // field's name is used).
    const std::u16string* find(uint32_t recordIndex, const char* fieldName) const;
    uint32_t codePage() const { return codePage_; }
    bool empty() const { return names_.empty(); }
    // Every entry, in ascending recordIndex.
    const std::vector<ExactName>& entries() const { return names_; }

private:
    friend bool readBoundNames(const uint8_t*, size_t, const uint8_t*, size_t, uint32_t, BoundNames&);
    std::vector<ExactName> names_;  // ascending recordIndex
    uint32_t codePage_ = 0;
};

// The length a side format gives itself (its header and entry area), when
// that lies within the memory it came in; otherwise the memory's length,
// which the reader then judges.
size_t namesDeclaredLength(const uint8_t* names, size_t length);

// False (out left empty) when the side format does not belong to the block:
// shorter than the fields needed to tell, version unknown, blockLength or
// blockCrc32 do not match (the CRC is computed only when the length
// matches). When it belongs: fills out, and raises kInvalidData for any
// fault: a header length below 28 or past the end, an entry area length or
// entry count that does not match what lies there exactly, an entry past the
// end, entryLength != 16 + 2 * nameUnits, nameUnits 0 or above 255,
// recordIndex not strictly ascending or not below recordCount, a name that
// fails isSafeWideName. Nothing is allocated beyond what the side format's
// own length bounds.
bool readBoundNames(const uint8_t* names, size_t namesLength, const uint8_t* block, size_t blockLength,
                    uint32_t recordCount, BoundNames& out);

}  // namespace tw
