// Reading one file and appending it, packed, to the collection.
#pragma once

#include <cstdint>
#include <string>

#include "entry_list.h"

namespace tw {

// The name a directory search reports for the path itself; empty when the
// search finds nothing (a drive root, a path ending in a backslash).
std::string findName(const std::string& path);

// Continues the progress line begun with the path: ": ", the size and, for
// a non-empty file, " -> ", the stored size and the ratio.
void packFile(EntryList& list, const std::string& path, int32_t parentIndex, uint32_t attributes,
              const std::string& name);

}  // namespace tw
