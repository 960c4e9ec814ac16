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
#include <string>

#include "../archive/block.h"
#include "../archive/names_block.h"
#include "names.h"

namespace tw {

// A name field's bytes in UTF-16, as the local code page reads them.
using AnsiDecoder = std::u16string (*)(const char* name);

// Each byte as the character of the same number: right for ASCII, and for
// the tests and the fuzzer, which have no code page.
std::u16string decodeLatin1(const char* name);

// Where a record's name comes from. The exact names of a side format bound
// to the block win where they have an entry for the record (each was
// checked when the side format was read); any other record's name field
// must pass the ANSI rules and is read in the local code page.
struct NameRules {
    NameRules(LeadBytePredicate isLeadByte, AnsiDecoder decode = decodeLatin1, const BoundNames* exact = nullptr)
        : isLeadByte(isLeadByte), decode(decode), exact(exact) {}
    LeadBytePredicate isLeadByte;
    AnsiDecoder decode;
    const BoundNames* exact;

    // The record's name, or kInvalidData when it is not one safe component.
    std::u16string nameOf(uint32_t index, const char (&field)[kNameField]) const;
};

// One record and, for a file, the bytes that restore it. The walk has
// already moved the data position past the file's stored bytes.
struct CheckedEntry {
    TreeEntry entry;
    FileBytes bytes;      // file only
    std::u16string name;  // file or folder
};

// Raises kInvalidData for a record that is unsound in any way.
CheckedEntry nextCheckedEntry(TreeBlockReader& reader, const NameRules& names);

// How many table rows to reserve for a tree block of this length: the entry
// count, but never more than the block could hold as folder records, so a
// forged count cannot make the paste reserve memory the block never backs.
size_t rowsToReserve(const TreeBlockReader& reader, size_t blockLength);

// The single-file block: its FileInfo and bytes, checked like a tree block's
// file record.
struct CheckedSingleFile {
    const FileInfo* info;
    FileBytes bytes;
    std::u16string name;
};
CheckedSingleFile readCheckedSingleFile(const uint8_t* block, size_t blockLength, const NameRules& names);

}  // namespace tw
