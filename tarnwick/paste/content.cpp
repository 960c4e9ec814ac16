#include "content.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tw {

const char kContentNoMemory[] = "Not enough memory.";
const char kErrorDecompressing[] = "Error decompressing data.";
const char kIncorrectLength[] = "Incorrect decompressed data length.";
const char kCrcFailed[] = "CRC failed on file data.";

FileContent::FileContent(const FileInfo& info, const FileBytes& stored, ContentLimits limits)
    : info_(info), stored_(stored), limits_(limits), size_(info.uncompressedSize.get()) {}

FileContent::~FileContent() {
    if (stream_) {
        ::inflateEnd(stream_);
        delete stream_;
    }
    std::free(room_);
}

void FileContent::check() {
    if (size_ == 0) return;
    if (!info_.compressed) {
        if (::crc32(::crc32(0, nullptr, 0), stored_.data, size_) != info_.crc32.get()) throw kCrcFailed;
        return;
    }

    streamed_ = size_ > limits_.wholeBuffer;
    roomSize_ = streamed_ ? std::max<size_t>(limits_.piece, 1) : size_;
    room_ = static_cast<uint8_t*>(std::malloc(roomSize_));
    if (!room_) throw kContentNoMemory;
    stream_ = new (std::nothrow) z_stream;
    if (!stream_) throw kContentNoMemory;
    std::memset(stream_, 0, sizeof *stream_);
    int rc = ::inflateInit(stream_);
    if (rc != Z_OK) {
        delete stream_;
        stream_ = nullptr;
        throw rc == Z_MEM_ERROR ? kContentNoMemory : kErrorDecompressing;
    }

    uint64_t produced = 0;
    uint32_t crc = 0;
    if (inflatePass(nullptr, produced, crc) != Pass::End) throw kErrorDecompressing;
    if (produced != size_) throw kIncorrectLength;
    if (crc != info_.crc32.get()) throw kCrcFailed;
}

bool FileContent::writeTo(ByteSink& sink) {
    if (size_ == 0) return true;
    if (!info_.compressed) return sink.put(stored_.data, size_);
    if (!streamed_) return sink.put(room_, size_);

    uint64_t produced = 0;
    uint32_t crc = 0;
    Pass pass = inflatePass(&sink, produced, crc);
    if (pass == Pass::Refused) return false;
    // The same stream inflates the same way twice. Should the second pass
    // ever disagree with the first, the file is not left looking sound.
    if (pass != Pass::End || produced != size_ || crc != info_.crc32.get()) throw kCrcFailed;
    return true;
}

// One run of the whole stream, from its start, as zlib's uncompress runs it
// into a buffer of the file's size: output is never allowed past the size,
// and anything but the stream's proper end (a damaged stream, one cut short,
// one that would give more than the size) is a broken one. Output collects
// in the room; when the room is a piece, each full piece goes to the CRC and
// the sink and the room is used again.
FileContent::Pass FileContent::inflatePass(ByteSink* sink, uint64_t& produced, uint32_t& crc) {
    z_stream& z = *stream_;
    if (::inflateReset(&z) != Z_OK) return Pass::Broken;
    z.next_in = const_cast<Bytef*>(stored_.data);
    z.avail_in = stored_.length;
    crc = uint32_t(::crc32(0, nullptr, 0));
    uint64_t left = size_;
    size_t used = 0;
    auto flush = [&]() {
        crc = uint32_t(::crc32(crc, room_, uInt(used)));
        bool taken = !sink || sink->put(room_, used);
        used = 0;
        return taken;
    };
    int rc;
    do {
        if (used == roomSize_ && left > 0 && !flush()) return Pass::Refused;
        size_t avail = size_t(std::min<uint64_t>(roomSize_ - used, left));
        z.next_out = room_ + used;
        z.avail_out = uInt(avail);
        rc = ::inflate(&z, Z_NO_FLUSH);
        size_t got = avail - z.avail_out;
        used += got;
        left -= got;
    } while (rc == Z_OK);
    produced = size_ - left;
    if (rc != Z_STREAM_END) return Pass::Broken;
    if (used && !flush()) return Pass::Refused;
    return Pass::End;
}

}  // namespace tw
