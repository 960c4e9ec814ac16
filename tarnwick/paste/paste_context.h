// The state of one paste and the steps that rebuild folders and files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "../archive/block.h"
#include "paste_walk.h"

namespace tw {

// The steps on disk and the questions; the walk itself is platform-free.
class PasteContext final : public PasteSteps {
public:
    // Rebuilds the clipboard's block under the destination. Raises a
    // message text on failure, after unlocking the block and closing the
    // clipboard; the empty text after a Cancel.
    void paste(const std::wstring& destination, bool force);

    // Rebuilds a block of the given format index, with the exact names that
    // may lie beside it (null when none), in the folder. The side format
    // is used only when it belongs to this block; one that belongs to it
    // and is unsound in any way is kInvalidData before anything is written.
    void pasteBlock(const std::wstring& folder, uint32_t format, const uint8_t* block, size_t length,
                    const uint8_t* names, size_t namesLength);

    // Creates the folder or, when it exists, merges into it after asking.
    // True when the folder's contents are to be skipped (answer No).
    bool restoreFolder(const std::u16string& path, const FolderInfo& info) override;

    // Writes one file from its checked bytes. False when the user declined
    // to overwrite an existing file.
    bool restoreFile(const std::u16string& path, const FileInfo& info, const FileBytes& stored) override;

    // Whether pasteBlock asks before merging or overwriting (paste sets it).
    void setForce(bool value) { force = value; }

    // The question on a record of another type: true for OK.
    bool acceptUnknownEntry() override;

private:
    bool force = false;
    std::vector<PlacedEntry> placed;
};

// The overwrite question for an existing destination. True to overwrite,
// false to keep the existing file; Cancel raises the empty text. With force
// it answers true at once.
bool confirmOverwrite(const std::wstring& path, const FileInfo& info, bool force);

// The question's text, from the existing file on disk and the pasted
// file's FileInfo. Raises "Error getting file time/size." when the existing
// entry cannot be opened and measured.
std::wstring buildOverwritePrompt(const std::wstring& path, const FileInfo& info);

// IsDBCSLeadByte for the checks of names and paths.
bool ansiLeadByte(unsigned char byte);

}  // namespace tw
