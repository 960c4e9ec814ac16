// Packing one file's content: CRC-32, and the zlib stream when it is smaller.
//
// Packing is a pure function of the bytes it is given: no I/O, no printing,
// no shared state beyond the PackScratch of the thread that packs. It may
// therefore run for several files at once on different threads; everything
// that must happen in collection order (progress lines, appending to the
// list) stays with the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "../archive/layout.h"

namespace tw {

struct FreeBytes {
    void operator()(uint8_t* p) const noexcept { std::free(p); }
};
// malloc'ed so that a failed allocation is an answer, not an exception, and
// so that a compressed buffer can be shrunk to its length in place.
using HeapBytes = std::unique_ptr<uint8_t[], FreeBytes>;

// Null when the heap cannot supply n bytes.
HeapBytes allocateBytes(size_t n) noexcept;

constexpr uint32_t kMinCompressedSize = 16;  // shorter files are stored raw
constexpr int kCompressionLevel = 9;
// A file's length has to fit a 32-bit signed position.
constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;
// The compressor takes its input this much at a time, so that packing can
// give up between slices.
constexpr uint32_t kPackSlice = 1 << 20;

// Raised when packing gives up because the caller asked it to: the copy
// has failed elsewhere and will not use this file.
struct PackStopped {};

struct PackedContent {
    uint32_t size = 0;        // uncompressed
    uint32_t crc = 0;         // zlib crc32 from 0; 0 for no bytes
    bool compressed = false;  // stored bytes are one compress2 stream
    uint32_t storedSize = 0;
    HeapBytes stored;         // null exactly when storedSize is 0

    // Sizes, CRC and flag into a record; name, time and attributes are the
    // caller's.
    void applyTo(FileInfo& info) const;
};

// What one packing thread keeps from one file to the next: room for a
// small file's content and for its compressed stream, and the compressor
// with its state. Packing a small file then allocates nothing but its
// stored form, of exactly its length. Under Wine that matters: a heap
// churned by buffers of every size is slow to allocate from, and its lock
// is shared by every thread.
class PackScratch {
public:
    // Files up to this size use the kept buffers.
    static constexpr uint32_t kKeptSize = 1 << 20;
    // What one scratch can grow to: the two kept buffers and the state of
    // a level-9 compressor (about 256 KiB), rounded up.
    static constexpr uint64_t kMemory = 2 * uint64_t(kKeptSize) + (320u << 10);
    // What packing a file takes beyond its thread's scratch while its
    // content and then its compressed stream are in hand: nothing for a
    // file the kept buffers hold.
    static constexpr uint64_t memoryBeyond(uint32_t size) { return size <= kKeptSize ? 0 : 2 * uint64_t(size); }

    PackScratch();
    ~PackScratch();
    PackScratch(const PackScratch&) = delete;
    PackScratch& operator=(const PackScratch&) = delete;

    // Room for size (not 0) bytes of content: the kept buffer up to
    // kKeptSize, else a buffer of the file's own, handed out in owned. Null
    // when the heap cannot supply it.
    uint8_t* contentRoom(uint32_t size, HeapBytes& owned);

    // Packs size bytes at content (null for an empty file), which owned
    // holds when contentRoom gave a buffer of the file's own. Returns what
    // is to be stored: when compression does not pay, owned itself or a
    // copy of the content in a buffer of exactly its length; otherwise the
    // compressed stream in a buffer of exactly its length, owned freed.
    // Raises kNotEnoughMemory when a buffer cannot be had, and PackStopped
    // when stopped answers true (it is asked between slices of the input).
    // The stream is compress2's at level 9 whatever the slice.
    PackedContent pack(const uint8_t* content, HeapBytes owned, uint32_t size,
                       const std::function<bool()>& stopped = {}, uint32_t slice = kPackSlice);

private:
    struct Compressor;
    uint8_t* room(HeapBytes& buffer, size_t& capacity, size_t size);

    HeapBytes content_, output_;
    size_t contentCapacity_ = 0, outputCapacity_ = 0;
    std::unique_ptr<Compressor> compressor_;
};

// One file on its own: packs a buffer that the file owns (null for an
// empty file), which becomes the stored form when compression does not pay.
PackedContent packContent(HeapBytes content, uint32_t size, const std::function<bool()>& stopped = {},
                          uint32_t slice = kPackSlice);

}  // namespace tw
