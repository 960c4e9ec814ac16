// A file's content on its way from the block to its destination.
//
// Every check runs before the destination is opened, so a file whose bytes
// fail one never replaces a good file: the stream is inflated, measured and
// its CRC-32 compared first, and written only afterwards. A compressed file
// up to a limit is inflated once into a buffer of its size and written from
// there in one piece. Above the limit, a buffer of the file's size would
// make a paste's memory grow with its largest file (and keep a 32-bit paste
// from writing a file it could well write), so the stream is inflated twice
// through one fixed piece of memory: once to check it, once to write it. A
// raw file is checked and written where it lies in the block. Either way a
// paste holds the block and a bounded amount besides.
//
// Platform-free: the paste writes through a ByteSink onto a file, the tests
// and the fuzzer collect the bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../archive/block.h"

struct z_stream_s;

namespace tw {

extern const char kContentNoMemory[];     // "Not enough memory."
extern const char kErrorDecompressing[];  // "Error decompressing data."
extern const char kIncorrectLength[];     // "Incorrect decompressed data length."
extern const char kCrcFailed[];           // "CRC failed on file data."

struct ContentLimits {
    // Compressed files up to this size are inflated into one buffer.
    uint32_t wholeBuffer = 64u << 20;
    // The piece through which larger ones are inflated.
    size_t piece = 1u << 20;
};

// Where checked content goes. put returns false when it could not take all
// of the bytes it was given.
class ByteSink {
public:
    virtual bool put(const uint8_t* bytes, size_t length) = 0;

protected:
    ~ByteSink() = default;
};

class FileContent {
public:
    // stored: the file's bytes as the block reader measured them.
    FileContent(const FileInfo& info, const FileBytes& stored, ContentLimits limits = ContentLimits());
    ~FileContent();
    FileContent(const FileContent&) = delete;
    FileContent& operator=(const FileContent&) = delete;

    // Runs the checks in the order decompression, length, CRC-32, and
    // raises the message text of the first that fails; also
    // kContentNoMemory when the memory for the checks cannot be had. A file
    // of size 0 passes without any check. Afterwards writeTo needs no
    // further memory.
    void check();

    // After check: hands the content to the sink, in order. False as soon
    // as the sink takes less than it was given.
    bool writeTo(ByteSink& sink);

    // Inflated twice through a piece rather than once into a whole buffer.
    bool streamed() const { return streamed_; }

private:
    enum class Pass { End, Broken, Refused };
    Pass inflatePass(ByteSink* sink, uint64_t& produced, uint32_t& crc);

    const FileInfo& info_;
    const FileBytes stored_;
    const ContentLimits limits_;
    const uint32_t size_;
    bool streamed_ = false;
    uint8_t* room_ = nullptr;  // the whole buffer, or the piece
    size_t roomSize_ = 0;
    z_stream_s* stream_ = nullptr;
};

}  // namespace tw
