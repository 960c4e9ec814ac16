// The paste commands: rebuild the tree held on the clipboard in a folder.
#pragma once

namespace tw {

// Runs inside runCommand; true when every entry was handled.
bool pasteFromClipboard(const char* destination, bool force);

}  // namespace tw
