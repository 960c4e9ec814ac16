// zlib's CRC-32 of any number of bytes: zlib takes 32-bit lengths, and a
// block may be up to 4 GiB.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace tw {

inline uint32_t crc32Of(const uint8_t* data, size_t length) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    while (length > 0) {
        uInt chunk = length > (1u << 30) ? (1u << 30) : uInt(length);
        crc = ::crc32(crc, data, chunk);
        data += chunk;
        length -= chunk;
    }
    return uint32_t(crc);
}

}  // namespace tw
