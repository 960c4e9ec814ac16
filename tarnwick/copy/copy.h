// The copy command: packs every file beneath the given paths into one block
// on the clipboard.
#pragma once

namespace tw {

// Runs inside runCommand; true when the block was placed on the clipboard.
bool copyPaths(char** paths, int count);

}  // namespace tw
