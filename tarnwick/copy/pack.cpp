#include "pack.h"

#include <zlib.h>

#include "messages.h"

namespace tw {

HeapBytes allocateBytes(size_t n) noexcept {
    // malloc(0) may answer null or not; nobody asks for 0 bytes here, but
    // keep the answer defined.
    return HeapBytes(static_cast<uint8_t*>(std::malloc(n ? n : 1)));
}

void PackedContent::applyTo(FileInfo& info) const {
    info.uncompressedSize.set(size);
    info.crc32.set(crc);
    info.compressed = compressed ? 1 : 0;
    info.storedSize.set(storedSize);
}

PackedContent packContent(HeapBytes content, uint32_t size) {
    PackedContent out;
    out.size = size;
    out.crc = uint32_t(::crc32(0L, Z_NULL, 0));
    if (size == 0) return out;

    out.crc = uint32_t(::crc32(out.crc, content.get(), uInt(size)));
    out.storedSize = size;

    if (size >= kMinCompressedSize) {
        uLongf bound = ::compressBound(uLong(size));
        HeapBytes packed = allocateBytes(bound);
        if (!packed) throw kNotEnoughMemory;
        uLongf length = bound;
        int rc = ::compress2(packed.get(), &length, content.get(), uLong(size), kCompressionLevel);
        if (rc == Z_OK && length < size) {
            content.reset();
            // Until the block is built every stored form stays in memory,
            // so hold only the stream, not the compressor's worst case.
            if (auto* fitted = static_cast<uint8_t*>(std::realloc(packed.get(), length))) {
                packed.release();
                packed.reset(fitted);
            }
            out.compressed = true;
            out.storedSize = uint32_t(length);
            out.stored = std::move(packed);
            return out;
        }
    }
    out.stored = std::move(content);
    return out;
}

}  // namespace tw
