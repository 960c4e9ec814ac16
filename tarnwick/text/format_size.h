// Size and ratio texts for the console. Platform-free and locale-free: the
// decimal separator is always a full stop.
#pragma once

#include <cstdint>
#include <string>

namespace tw {

// "0 bytes", "1 byte", "1023 bytes", "1.50 KB", "1024.00 KB", "1.00 GB".
// The unit is the largest power of 1024 not above the size, chosen from the
// exact value; the number is then rounded to two decimals, halves upward.
std::string formatSize(uint32_t size);

// The same text for a sum of sizes that may pass 4 GiB (the totals of a
// copy); GB stays the largest unit.
std::string formatTotalSize(uint64_t size);

// " (%.2lf%%)" of part / whole * 100 in double precision: " (42.17%)".
std::string formatRatio(uint64_t part, uint64_t whole);

}  // namespace tw
