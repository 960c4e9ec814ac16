// The paste's walk over a whole block, apart from the platform.
//
// The walk decides, record by record, where each entry goes and whether it
// is restored at all: it composes each destination path from its parent's
// row, carries a skip down to everything beneath a folder that was not
// merged (or a file that was written), and keeps the data position moving
// past every file's bytes, restored or not. What happens at a destination is
// left to the PasteSteps it is given: the paste command's steps create
// folders and files on disk and ask the user; the fuzzer's apply the tree to
// a file system in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../archive/block.h"
#include "block_walk.h"

namespace tw {

// One row per record walked, in record order, so a later record finds its
// parent's row by the parent index.
struct PlacedEntry {
    const EntryHead* entry;  // inside the block, never copied
    // The entry's destination path. Rows whose skip flag is set keep it
    // empty: their descendants are never restored, so nobody reads it, and
    // a deep skipped subtree of a forged block cannot pile up long paths.
    std::u16string path;
    // While set, none of the entry's descendants is restored.
    bool skip;
};

// The steps that act on a destination. Each raises a message text on
// failure, the empty text when the user cancelled. Paths are UTF-16 and may
// be of any length.
class PasteSteps {
public:
    // True when the folder's contents are to be skipped.
    virtual bool restoreFolder(const std::u16string& path, const FolderInfo& info) = 0;
    // True when the file was written, false when the user declined to
    // overwrite an existing one.
    virtual bool restoreFile(const std::u16string& path, const FileInfo& info, const FileBytes& stored) = 0;
    // A record of another type: true to go on with the next record, false
    // to end the paste without a further message.
    virtual bool acceptUnknownEntry() = 0;

protected:
    ~PasteSteps() = default;
};

// Walks a tree block and hands every entry that is not skipped to the
// steps. folder: the destination, without a trailing backslash. placed is
// emptied, filled with one row per record, and emptied again at the end.
// Raises kInvalidData at the first unsound record, before any step for it.
void walkTreeBlock(const uint8_t* block, size_t length, const std::u16string& folder, const NameRules& names,
                   PasteSteps& steps, std::vector<PlacedEntry>& placed);

// The single-file block: its one file, checked like a tree block's.
void walkSingleFileBlock(const uint8_t* block, size_t length, const std::u16string& folder, const NameRules& names,
                         PasteSteps& steps);

}  // namespace tw
