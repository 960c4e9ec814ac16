#include "pack.h"

#include <zlib.h>

#include <cstring>

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

// The compressor of one thread, set up once and reset for each file:
// deflateReset leaves it as deflateInit would, without freeing and
// allocating its state again.
struct PackScratch::Compressor {
    z_stream stream{};
    bool ready = false;
    ~Compressor() {
        if (ready) ::deflateEnd(&stream);
    }

    // compress2, with the input fed a slice at a time. Without flushes,
    // deflate's output does not depend on how its input arrives (compress2
    // itself slices inputs beyond 4 GiB), so the stream is the same.
    int compress(uint8_t* dest, uLongf* destLength, const uint8_t* source, uint32_t sourceLength,
                 const std::function<bool()>& stopped, uint32_t slice) {
        int rc = ready ? ::deflateReset(&stream) : ::deflateInit(&stream, kCompressionLevel);
        // A compressor that cannot be set up is no error: the file is
        // stored raw, as when compress2 fails.
        if (rc != Z_OK) return rc;
        ready = true;
        stream.next_out = dest;
        stream.avail_out = uInt(*destLength);
        stream.next_in = const_cast<Bytef*>(source);
        stream.avail_in = 0;
        uint32_t left = sourceLength;
        do {
            if (stopped && stopped()) throw PackStopped();
            if (stream.avail_in == 0) {
                stream.avail_in = left < slice ? left : slice;
                left -= stream.avail_in;
            }
            rc = ::deflate(&stream, left ? Z_NO_FLUSH : Z_FINISH);
            // A full destination cannot happen with compressBound's room;
            // do not spin if it ever did.
            if (rc == Z_OK && stream.avail_out == 0) rc = Z_BUF_ERROR;
        } while (rc == Z_OK);
        *destLength = stream.total_out;
        return rc == Z_STREAM_END ? Z_OK : rc;
    }
};

PackScratch::PackScratch() : compressor_(std::make_unique<Compressor>()) {}
PackScratch::~PackScratch() = default;

uint8_t* PackScratch::room(HeapBytes& buffer, size_t& capacity, size_t size) {
    if (size > capacity) {
        buffer.reset();
        capacity = 0;
        buffer = allocateBytes(size);
        if (!buffer) return nullptr;
        capacity = size;
    }
    return buffer.get();
}

uint8_t* PackScratch::contentRoom(uint32_t size, HeapBytes& owned) {
    if (size <= kKeptSize) return room(content_, contentCapacity_, size);
    owned = allocateBytes(size);
    return owned.get();
}

PackedContent PackScratch::pack(const uint8_t* content, HeapBytes owned, uint32_t size,
                                const std::function<bool()>& stopped, uint32_t slice) {
    PackedContent out;
    out.size = size;
    out.crc = uint32_t(::crc32(0L, Z_NULL, 0));
    if (size == 0) return out;

    out.crc = uint32_t(::crc32(out.crc, content, uInt(size)));
    out.storedSize = size;

    if (size >= kMinCompressedSize) {
        uLongf bound = ::compressBound(uLong(size));
        HeapBytes ownOutput;
        uint8_t* output = bound <= ::compressBound(kKeptSize) ? room(output_, outputCapacity_, bound)
                                                                : (ownOutput = allocateBytes(bound)).get();
        if (!output) throw kNotEnoughMemory;
        uLongf length = bound;
        int rc = compressor_->compress(output, &length, content, size, stopped, slice ? slice : kPackSlice);
        if (rc == Z_OK && length < size) {
            owned.reset();
            // Until the block is built every stored form stays in memory,
            // so hold only the stream, not the compressor's worst case.
            if (ownOutput) {
                if (auto* fitted = static_cast<uint8_t*>(std::realloc(ownOutput.get(), length))) {
                    ownOutput.release();
                    ownOutput.reset(fitted);
                }
                out.stored = std::move(ownOutput);
            } else {
                out.stored = allocateBytes(length);
                if (!out.stored) throw kNotEnoughMemory;
                std::memcpy(out.stored.get(), output, length);
            }
            out.compressed = true;
            out.storedSize = uint32_t(length);
            return out;
        }
    }
    if (owned) {
        out.stored = std::move(owned);
    } else {
        out.stored = allocateBytes(size);
        if (!out.stored) throw kNotEnoughMemory;
        std::memcpy(out.stored.get(), content, size);
    }
    return out;
}

PackedContent packContent(HeapBytes content, uint32_t size, const std::function<bool()>& stopped, uint32_t slice) {
    PackScratch scratch;
    const uint8_t* bytes = content.get();
    return scratch.pack(bytes, std::move(content), size, stopped, slice);
}

}  // namespace tw
