// Packing one file's content: CRC-32, and the zlib stream when it is smaller.
//
// packContent is a pure function of the bytes it is given: no I/O, no
// printing, no shared state. It may therefore run for several files at once
// on different threads; everything that must happen in collection order
// (progress lines, appending to the list) stays with the caller.
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

// Takes the file's bytes (null for an empty file) and returns what is to be
// stored: the same buffer when compression does not pay, otherwise the
// compressed stream in a buffer of exactly its length, the content freed.
// Raises kNotEnoughMemory when the compressor's buffer cannot be had, and
// PackStopped when stopped answers true (it is asked between slices of the
// input). The stream is compress2's at level 9 whatever the slice.
PackedContent packContent(HeapBytes content, uint32_t size, const std::function<bool()>& stopped = {},
                          uint32_t slice = kPackSlice);

}  // namespace tw
