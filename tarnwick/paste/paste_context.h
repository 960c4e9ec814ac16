// The state of one paste and the steps that rebuild folders and files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "../archive/block.h"

namespace tw {

// One row per record walked, in record order, so a later record finds its
// parent's row by the parent index.
struct PlacedEntry {
    const EntryHead* entry;  // inside the locked block, never copied
    // The entry's destination path. Rows whose skip flag is set keep it
    // empty: their descendants are never restored, so nobody reads it, and
    // a deep skipped subtree of a forged block cannot pile up long paths.
    std::string path;
    // While set, none of the entry's descendants is restored.
    bool skip;
};

class PasteContext {
public:
    // Rebuilds the clipboard's block under the destination. Raises a
    // message text on failure, after unlocking the block and closing the
    // clipboard; the empty text after a Cancel.
    void paste(const char* destination, bool force);

    // Creates the folder or, when it exists, merges into it after asking.
    // True when the folder's contents are to be skipped (answer No).
    bool restoreFolder(const std::string& path, const FolderInfo& info);

    // Writes one file from its checked bytes. False when the user declined
    // to overwrite an existing file.
    bool restoreFile(const std::string& path, const FileInfo& info, const FileBytes& stored);

private:
    void walkTree(const uint8_t* block, size_t length, const std::string& folder);

    bool force = false;
    std::vector<PlacedEntry> placed;
};

// The overwrite question for an existing destination. True to overwrite,
// false to keep the existing file; Cancel raises the empty text. With force
// it answers true at once.
bool confirmOverwrite(const char* path, const FileInfo& info, bool force);

// The question's text, from the existing file on disk and the pasted
// file's FileInfo. Raises "Error getting file time/size." when the existing
// entry cannot be opened and measured.
std::string buildOverwritePrompt(const char* path, const FileInfo& info);

// IsDBCSLeadByte for the checks of names and paths.
bool ansiLeadByte(unsigned char byte);

}  // namespace tw
