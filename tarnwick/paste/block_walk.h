// Reading a clipboard block for a paste, one checked record at a time.
//
// The archive readers check the block's structure (header, record lengths,
// parent indexes, name terminators, the bytes of a file inside the block);
// on top of that a paste needs every name to be one safe path component.
// Both come together here, in record order, so that a bad record stops the
// paste before anything of it is printed or written, while everything
// before it has been handled. Every file and folder record is checked this
// way, also one whose contents are being skipped: whether a block is sound
// does not depend on the user's answers. Platform-free, so the same code
// runs in the native tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../archive/block.h"
#include "names.h"

namespace tw {

// One record and, for a file, the bytes that restore it. The walk has
// already moved the data position past the file's stored bytes.
struct CheckedEntry {
    TreeEntry entry;
    FileBytes bytes;  // file only
};

// Raises kInvalidData for a record that is unsound in any way.
CheckedEntry nextCheckedEntry(TreeBlockReader& reader, LeadBytePredicate isLeadByte);

// How many table rows to reserve for a tree block of this length: the entry
// count, but never more than the block could hold as folder records, so a
// forged count cannot make the paste reserve memory the block never backs.
size_t rowsToReserve(const TreeBlockReader& reader, size_t blockLength);

// The single-file block: its FileInfo and bytes, checked like a tree block's
// file record.
struct CheckedSingleFile {
    const FileInfo* info;
    FileBytes bytes;
};
CheckedSingleFile readCheckedSingleFile(const uint8_t* block, size_t blockLength, LeadBytePredicate isLeadByte);

}  // namespace tw
