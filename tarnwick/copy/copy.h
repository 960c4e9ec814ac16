// The copy command: packs every file beneath the given paths into one block
// on the clipboard.
#pragma once

#include <string>
#include <vector>

namespace tw {

// Runs inside runCommand; true when the block was placed on the clipboard.
bool copyPaths(const std::vector<std::wstring>& paths);

}  // namespace tw
