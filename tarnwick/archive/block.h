// Writing and reading whole clipboard blocks.
//
// Format index 1 holds a single-file block: a FileInfo and its stored
// bytes. Format index 2 holds a tree block: a BlockHeader, the entry records
// back to back, then the data area with every file's stored bytes in record
// order. Nothing here touches the platform; the copy side fills memory it
// allocated itself and the paste side reads memory it has measured.
//
// A block on the clipboard may come from anywhere, so the readers check
// every length against the block they were given, in 64-bit arithmetic, and
// raise kInvalidData rather than read past the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layout.h"

namespace tw {

extern const char kInvalidData[];  // "Invalid Tarnwick data."

// ---- writer -------------------------------------------------------------

struct BlockPlan {
    uint32_t version;           // 1: single-file block, 2: tree block
    uint64_t recordAreaLength;  // tree block only
    uint64_t dataOffset;        // where the first stored byte goes
    uint64_t length;            // whole block; may exceed 32 bits
};

// The layout for a collection: the single-file block exactly when it holds
// one file and no folder.
BlockPlan planBlock(uint32_t fileCount, uint32_t folderCount, uint64_t totalStored);

// One collected entry as the writer sees it: its record in block layout and
// its stored bytes (none for folders and empty files).
struct BlockEntry {
    const EntryHead* record;
    const uint8_t* stored;
    uint32_t storedSize;
};

// Fills out[0 .. plan.length). The plan must come from planBlock over the
// same entries.
void writeBlock(uint8_t* out, const BlockPlan& plan, const BlockEntry* entries, size_t count);
// The same in pieces of about equal stored bytes, which may be written at
// once on different threads: pieces 0 .. pieces-1 together write exactly
// what writeBlock writes, each byte once.
void writeBlockPiece(uint8_t* out, const BlockPlan& plan, const BlockEntry* entries, size_t count, unsigned piece,
                     unsigned pieces);

// ---- reader -------------------------------------------------------------

// The bytes that restore a file: the zlib stream of a compressed file, or
// the uncompressed-size bytes of a raw one. Raises kInvalidData when they do
// not lie wholly inside the block, or when a compressed file claims more
// bytes than its stream could give (maxInflatedSize).
struct FileBytes {
    const uint8_t* data;
    uint32_t length;
};
FileBytes fileBytesAt(const uint8_t* block, size_t blockLength, uint64_t position, const FileInfo& info);

// The most bytes that a zlib stream of the given length can inflate to.
// Deflate spends at least one bit on every code it reads. The most a code
// can give is a match of 258 bytes, which takes two codes (length and
// distance), so no stream yields more than 129 bytes per bit, 1032 per
// byte; the two-byte header and four-byte trailer of the zlib wrapping
// yield nothing. 1032 times the stored size is therefore above what any
// real stream gives, and a compressed record that claims more is forged:
// fileBytesAt refuses it before anything is allocated for its content.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t maxInflatedSize(uint32_t storedSize) { return kMaxInflateRatio * storedSize; }

// True when the name field holds its terminator.
bool nameTerminated(const char (&field)[kNameField]);

// Where a block ends by its own fields: after the stored bytes of its file,
// or of the last file of a tree. A channel may hand over more memory than
// the block (rounded up); what binds to the block binds to this length.
// 0 when the fields do not describe a block inside `length` (the paste's
// walk then reports the fault).
uint64_t blockEnd(uint32_t format, const uint8_t* block, size_t length);

// Single-file block: the FileInfo at 0, stored bytes from 292.
const FileInfo& readSingleFileBlock(const uint8_t* block, size_t blockLength);
constexpr uint64_t kSingleFileDataOffset = kFileInfoSize;

struct TreeEntry {
    uint32_t index;
    int32_t parentIndex;  // negative: top level
    uint32_t entryType;   // 0 file, 1 folder, anything else unknown
    const EntryHead* head;
    const FileInfo* file;      // set for a file
    const FolderInfo* folder;  // set for a folder
};

// Walks a tree block in record order. The header is checked on
// construction, each record as it is reached, so a bad record stops the
// walk only when the entries before it have been handed out.
class TreeBlockReader {
public:
    TreeBlockReader(const uint8_t* block, size_t blockLength);

    uint32_t entryCount() const { return entryCount_; }
    // How many records the record area can hold at most; a bound for any
    // table sized by the entry count.
    uint32_t plausibleEntryCount() const;
    bool done() const { return index_ >= entryCount_; }

    // The next record. Raises kInvalidData when the record does not lie
    // inside the record area, is shorter than its type needs, names a parent
    // that is not an earlier record, or has a name without terminator.
    TreeEntry next();

    // The running data position: starts at the data area and moves past
    // every file record's stored bytes, restored or not.
    uint64_t dataPosition() const { return dataPosition_; }
    void skipFileData(const FileInfo& info) { dataPosition_ += info.storedSize.get(); }
    FileBytes fileBytes(const FileInfo& info) const {
        return fileBytesAt(block_, length_, dataPosition_, info);
    }

private:
    const uint8_t* block_;
    uint64_t length_;
    uint64_t recordPosition_ = 0;
    uint64_t recordAreaEnd_ = 0;
    uint64_t dataPosition_ = 0;
    uint32_t entryCount_ = 0;
    uint32_t recordAreaLength_ = 0;
    uint32_t index_ = 0;
};

}  // namespace tw
