// The paste commands: rebuild the tree held on the clipboard in a folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

// Runs inside runCommand; true when every entry was handled.
bool pasteFromClipboard(const std::wstring& destination, bool force);

// For a paste of a block held in memory (a copy that arrived as text
// parts): the folder that the destination stands for, checked as /PASTE
// checks it. Raises its message texts.
std::wstring pasteFolder(const std::wstring& destination);
// Rebuilds such a block, with the exact names that may lie beside it, in a
// folder from pasteFolder, asking first unless force. Raises message texts;
// the empty text after a Cancel.
void pasteBlockInto(const std::wstring& folder, bool force, uint32_t format, const uint8_t* block, size_t length,
                    const uint8_t* names, size_t namesLength);

}  // namespace tw
