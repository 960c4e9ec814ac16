// The paste commands: rebuild the tree held on the clipboard in a folder.
#pragma once

#include <string>

namespace tw {

// Runs inside runCommand; true when every entry was handled.
bool pasteFromClipboard(const std::wstring& destination, bool force);

}  // namespace tw
