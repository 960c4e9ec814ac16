// Byte layout of the exact-names side format, "Tarnwick_Names".
//
// A record's name field holds the name in the writer's ANSI code page, or a
// substitute when the code page cannot hold it. This side format, set on the
// clipboard together with the block, carries the exact UTF-16 name of every
// record whose name is not plain ASCII. It is bound to its block by the
// block's length and CRC-32 and to each record by the CRC-32 of the record's
// name field, so a stale side format, or a stale entry, never renames a
// file. Older copies of the program do not know the format and paste the
// names in the block.
//
// A header, then the entries back to back; all little-endian, alignment 1,
// no padding. The entry area is exactly as long as the header says and holds
// exactly entryCount entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "layout.h"

namespace tw {

constexpr uint32_t kNamesVersion = 1;

struct NamesHeader {
    LeU32 headerLength;     // 28 written; readers take the entries from here on
    LeU32 version;          // kNamesVersion; readers ignore any other version
    LeU32 blockLength;      // length of the block it belongs to
    LeU32 blockCrc32;       // CRC-32 (zlib crc32) of that whole block
    LeU32 codePage;         // the writer's ANSI code page
    LeU32 entryCount;
    LeU32 entryAreaLength;  // bytes of entries after the header
};

// Followed by nameUnits UTF-16LE code units, no terminator.
struct NamesEntryHead {
    LeU32 entryLength;  // exactly 16 + 2 * nameUnits
    LeU32 recordIndex;  // the record's index in the block; 0 in a single-file block
    LeU32 nameCrc32;    // CRC-32 of the record's name field up to its terminator
    LeU32 nameUnits;    // 1 to 255
};

constexpr uint32_t kNamesHeaderSize = 28;
constexpr uint32_t kNamesEntryHeadSize = 16;
constexpr uint32_t kNamesMaxUnits = 255;
// The fields a reader needs to tell whether a side format is its block's.
constexpr uint32_t kNamesBindingSize = 16;

static_assert(sizeof(NamesHeader) == kNamesHeaderSize, "NamesHeader size");
static_assert(sizeof(NamesEntryHead) == kNamesEntryHeadSize, "NamesEntryHead size");
static_assert(alignof(NamesHeader) == 1 && alignof(NamesEntryHead) == 1, "alignment");
static_assert(std::is_trivially_copyable<NamesHeader>::value && std::is_standard_layout<NamesHeader>::value, "");
static_assert(std::is_trivially_copyable<NamesEntryHead>::value && std::is_standard_layout<NamesEntryHead>::value, "");
static_assert(offsetof(NamesHeader, headerLength) == 0, "");
static_assert(offsetof(NamesHeader, version) == 4, "");
static_assert(offsetof(NamesHeader, blockLength) == 8, "");
static_assert(offsetof(NamesHeader, blockCrc32) == 12, "");
static_assert(offsetof(NamesHeader, codePage) == 16, "");
static_assert(offsetof(NamesHeader, entryCount) == 20, "");
static_assert(offsetof(NamesHeader, entryAreaLength) == 24, "");
static_assert(offsetof(NamesHeader, codePage) == kNamesBindingSize, "");
static_assert(offsetof(NamesEntryHead, entryLength) == 0, "");
static_assert(offsetof(NamesEntryHead, recordIndex) == 4, "");
static_assert(offsetof(NamesEntryHead, nameCrc32) == 8, "");
static_assert(offsetof(NamesEntryHead, nameUnits) == 12, "");

}  // namespace tw
