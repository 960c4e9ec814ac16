// The console program's registered clipboard formats.
#pragma once

#include <windows.h>

#include "../archive/layout.h"

namespace tw {

// Registered ids of "Tarnwick_1" (single-file block) and "Tarnwick_2"
// (tree block), addressed by the format index, and of "Tarnwick_Names",
// which carries the exact names of a block's records beside it.
struct FormatTable {
    UINT ids[kFormatCount + 1] = {};
    UINT names = 0;
    UINT operator[](uint32_t index) const { return ids[index]; }
};
extern FormatTable formatTable;

// Registers all three; shows "Error registering Tarnwick clipboard
// formats." and returns false when one fails.
bool registerFormats();

}  // namespace tw
