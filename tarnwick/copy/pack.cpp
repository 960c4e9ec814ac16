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

namespace {

// compress2, with the input fed a slice at a time. Without flushes,
// deflate's output does not depend on how its input arrives (compress2
// itself slices inputs beyond 4 GiB), so the stream is the same.
int compressSliced(uint8_t* dest, uLongf* destLength, const uint8_t* source, uint32_t sourceLength,
                   const std::function<bool()>& stopped, uint32_t slice) {
    z_stream stream{};
    int rc = ::deflateInit(&stream, kCompressionLevel);
    if (rc != Z_OK) return rc;
    stream.next_out = dest;
    stream.avail_out = uInt(*destLength);
    stream.next_in = const_cast<Bytef*>(source);
    uint32_t left = sourceLength;
    do {
        if (stopped && stopped()) {
            ::deflateEnd(&stream);
            throw PackStopped();
        }
        if (stream.avail_in == 0) {
            stream.avail_in = left < slice ? left : slice;
            left -= stream.avail_in;
        }
        rc = ::deflate(&stream, left ? Z_NO_FLUSH : Z_FINISH);
        // A full destination cannot happen with compressBound's room; do
        // not spin if it ever did.
        if (rc == Z_OK && stream.avail_out == 0) rc = Z_BUF_ERROR;
    } while (rc == Z_OK);
    *destLength = stream.total_out;
    ::deflateEnd(&stream);
    return rc == Z_STREAM_END ? Z_OK : rc;
}

}  // namespace

PackedContent packContent(HeapBytes content, uint32_t size, const std::function<bool()>& stopped, uint32_t slice) {
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
        int rc = compressSliced(packed.get(), &length, content.get(), size, stopped, slice ? slice : kPackSlice);
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
