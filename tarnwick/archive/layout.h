// Byte layouts of the clipboard block.
//
// Every multi-byte field is stored little-endian through the LeU32/LeI32
// wrappers, which are plain byte arrays. The structures therefore have an
// alignment of 1, no padding of their own, and can be laid over any address
// inside a block that has been measured first, whatever the header length
// field of a foreign block makes the record offsets. The same asserts hold
// in the i686 build and the native test build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tw {

inline uint32_t loadU32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
inline void storeU32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
    b[2] = uint8_t(v >> 16);
    b[3] = uint8_t(v >> 24);
}

struct LeU32 {
    uint8_t bytes[4];
    uint32_t get() const { return loadU32(bytes); }
    void set(uint32_t v) { storeU32(bytes, v); }
};

struct LeI32 {
    uint8_t bytes[4];
    int32_t get() const { return static_cast<int32_t>(loadU32(bytes)); }
    void set(int32_t v) { storeU32(bytes, static_cast<uint32_t>(v)); }
};

// A Windows FILETIME: 100-ns intervals since 1601-01-01 UTC, low half first.
struct LeFileTime {
    LeU32 low;
    LeU32 high;
    uint64_t get() const { return uint64_t(high.get()) << 32 | low.get(); }
    void set(uint64_t v) {
        low.set(uint32_t(v));
        high.set(uint32_t(v >> 32));
    }
};

constexpr size_t kNameField = 264;  // one path component, NUL-terminated
constexpr uint32_t kFormatCount = 2;  // format index 1: single file, 2: tree

enum EntryType : uint32_t { kEntryFile = 0, kEntryFolder = 1 };

struct FileInfo {
    char name[kNameField];
    LeU32 uncompressedSize;
    LeU32 crc32;
    LeFileTime lastWriteTime;
    LeU32 attributes;
    uint8_t compressed;  // any non-zero value means a zlib stream
    uint8_t padding[3];
    LeU32 storedSize;
};

struct FolderInfo {
    char name[kNameField];
    LeU32 attributes;
};

struct EntryHead {
    LeU32 recordLength;
    LeI32 parentIndex;  // negative: directly in the copied selection
    LeU32 entryType;
};

struct FileRecord {
    EntryHead head;
    FileInfo info;
};

struct FolderRecord {
    EntryHead head;
    FolderInfo info;
};

struct BlockHeader {
    LeU32 headerLength;
    uint8_t version;
    uint8_t padding[3];
    LeU32 entryCount;
    LeU32 recordAreaLength;
};

constexpr uint32_t kFileInfoSize = 292;
constexpr uint32_t kFolderInfoSize = 268;
constexpr uint32_t kEntryHeadSize = 12;
constexpr uint32_t kFileRecordSize = 304;
constexpr uint32_t kFolderRecordSize = 280;
constexpr uint32_t kBlockHeaderSize = 16;

#define TW_LAYOUT(T, size)                                   \
    static_assert(sizeof(T) == (size), #T " size");          \
    static_assert(alignof(T) == 1, #T " alignment");         \
    static_assert(std::is_trivially_copyable<T>::value, #T); \
    static_assert(std::is_standard_layout<T>::value, #T)

TW_LAYOUT(LeU32, 4);
TW_LAYOUT(LeI32, 4);
TW_LAYOUT(LeFileTime, 8);
TW_LAYOUT(FileInfo, kFileInfoSize);
TW_LAYOUT(FolderInfo, kFolderInfoSize);
TW_LAYOUT(EntryHead, kEntryHeadSize);
TW_LAYOUT(FileRecord, kFileRecordSize);
TW_LAYOUT(FolderRecord, kFolderRecordSize);
TW_LAYOUT(BlockHeader, kBlockHeaderSize);
#undef TW_LAYOUT

static_assert(offsetof(FileInfo, name) == 0, "");
static_assert(offsetof(FileInfo, uncompressedSize) == 264, "");
static_assert(offsetof(FileInfo, crc32) == 268, "");
static_assert(offsetof(FileInfo, lastWriteTime) == 272, "");
static_assert(offsetof(FileInfo, attributes) == 280, "");
static_assert(offsetof(FileInfo, compressed) == 284, "");
static_assert(offsetof(FileInfo, padding) == 285, "");
static_assert(offsetof(FileInfo, storedSize) == 288, "");
static_assert(offsetof(FolderInfo, name) == 0, "");
static_assert(offsetof(FolderInfo, attributes) == 264, "");
static_assert(offsetof(EntryHead, recordLength) == 0, "");
static_assert(offsetof(EntryHead, parentIndex) == 4, "");
static_assert(offsetof(EntryHead, entryType) == 8, "");
static_assert(offsetof(FileRecord, info) == 12, "");
static_assert(offsetof(FolderRecord, info) == 12, "");
static_assert(offsetof(BlockHeader, headerLength) == 0, "");
static_assert(offsetof(BlockHeader, version) == 4, "");
static_assert(offsetof(BlockHeader, entryCount) == 8, "");
static_assert(offsetof(BlockHeader, recordAreaLength) == 12, "");

// Copies a name into a record's name field with its terminator; the rest of
// the field is zeroed so that blocks are reproducible. Returns false, leaving
// an empty name, when the name does not fit.
bool setRecordName(char (&field)[kNameField], const char* name);

FileRecord makeFileRecord(int32_t parentIndex, const char* name);
FolderRecord makeFolderRecord(int32_t parentIndex, const char* name, uint32_t attributes);

}  // namespace tw
