#include "format_size.h"

#include <cstdio>

namespace tw {

std::string formatSize(uint32_t size) { return formatTotalSize(size); }

std::string formatTotalSize(uint64_t size) {
    if (size == 0) return "0 bytes";
    if (size == 1) return "1 byte";
    static const char* const kUnits[] = {"bytes", "KB", "MB", "GB"};
    unsigned k = 0;
    while (k < 3 && (size >> (10 * (k + 1))) != 0) ++k;
    char text[48];
    if (k == 0) {
        std::snprintf(text, sizeof text, "%lu %s", static_cast<unsigned long>(size), kUnits[0]);
        return text;
    }
    // Hundredths of the unit, rounded half up, in integers: exact, and the
    // same on every C runtime whatever its printf does with ties.
    unsigned shift = 10 * k;
    // (A total would need hundreds of petabytes to overflow the product.)
    uint64_t hundredths = (size * 100 + (uint64_t(1) << (shift - 1))) >> shift;
    std::snprintf(text, sizeof text, "%llu.%02u %s", static_cast<unsigned long long>(hundredths / 100),
                  static_cast<unsigned>(hundredths % 100), kUnits[k]);
    return text;
}

std::string formatRatio(uint64_t part, uint64_t whole) {
    double ratio = double(part) / double(whole) * 100.0;
    char text[64];
    std::snprintf(text, sizeof text, " (%.2f%%)", ratio);
    return text;
}

}  // namespace tw
