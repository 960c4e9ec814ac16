// A file's content before and while it is written: the checks in their
// order and with their messages, the same verdicts and bytes whether the
// stream is inflated into one buffer or twice through a piece, and the
// limit between the two.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarnwick/paste/content.h"

namespace tw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes text(size_t n) {
    static const char kLine[] = "clipboard blocks carry whole trees; ";
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(kLine[(i * 7 / 5) % (sizeof kLine - 1)] + i / 4000);
    return out;
}

Bytes deflated(const Bytes& content) {
    uLongf n = ::compressBound(uLong(content.size()));
    Bytes z(n);
    EXPECT_EQ(::compress2(z.data(), &n, content.data(), uLong(content.size()), 9), Z_OK);
    z.resize(n);
    return z;
}

uint32_t crcOf(const Bytes& b) {
    return uint32_t(::crc32(::crc32(0, nullptr, 0), b.data(), uInt(b.size())));
}

// Collects what it is given; refuses the put numbered refuseAt (from 1).
struct Collect final : ByteSink {
    Bytes bytes;
    size_t puts = 0, largest = 0, refuseAt = 0;
    bool put(const uint8_t* p, size_t n) override {
        if (++puts == refuseAt) return false;
        largest = std::max(largest, n);
        bytes.insert(bytes.end(), p, p + n);
        return true;
    }
};

struct Record {
    FileInfo info;
    Bytes stored;
};

Record record(const Bytes& content, bool compressed) {
    Record r;
    std::memset(&r.info, 0, sizeof r.info);
    r.info.uncompressedSize.set(uint32_t(content.size()));
    r.info.crc32.set(content.empty() ? 0 : crcOf(content));
    r.info.compressed = compressed;
    r.stored = compressed ? deflated(content) : content;
    r.info.storedSize.set(uint32_t(r.stored.size()));
    return r;
}

// The message of the first failed check, or "" when all passed; the bytes
// written after a pass.
std::string run(const Record& r, ContentLimits limits, Bytes* written = nullptr, bool* streamed = nullptr) {
    Bytes exact(r.stored);  // exactly sized, so ASan sees the stream's end
    FileContent content(r.info, FileBytes{exact.data(), uint32_t(exact.size())}, limits);
    try {
        content.check();
    } catch (const char* text) {
        return text;
    }
    Collect sink;
    EXPECT_TRUE(content.writeTo(sink));
    if (streamed) *streamed = content.streamed();
    if (content.streamed()) {
        EXPECT_LE(sink.largest, limits.piece);
    }
    if (written) *written = sink.bytes;
    return "";
}

// One buffer, and pieces of one byte, of an odd size and of the file's size.
std::vector<ContentLimits> everyWay(uint32_t size) {
    return {ContentLimits{}, ContentLimits{0, 1}, ContentLimits{0, 7}, ContentLimits{0, size}};
}

TEST(PasteContent, ChecksInOrderTheSameWayInOneBufferAndInPieces) {
    const Bytes content = text(5000);
    const Record good = record(content, true);
    auto edited = [&](auto edit) {
        Record r = good;
        edit(r);
        return r;
    };
    Bytes dictionaryStream = good.stored;
    dictionaryStream[1] |= 0x20;  // FDICT: a preset dictionary nobody has
    dictionaryStream[1] += uint8_t(31 - (dictionaryStream[0] * 256 + dictionaryStream[1]) % 31);

    struct Case {
        const char* what;
        Record r;
        const char* message;  // "" when it passes
    } const cases[] = {
        {"sound stream", good, ""},
        {"bytes after the stream's end are ignored", edited([](Record& r) { r.stored.push_back(0x55); }), ""},
        {"CRC off", edited([](Record& r) { r.info.crc32.set(r.info.crc32.get() ^ 0x80); }), kCrcFailed},
        {"trailer damaged", edited([](Record& r) { r.stored.back() ^= 1; }), kErrorDecompressing},
        {"body damaged", edited([](Record& r) { r.stored[r.stored.size() / 2] ^= 0xFF; }), kErrorDecompressing},
        {"size one more than the stream gives",
         edited([](Record& r) { r.info.uncompressedSize.set(r.info.uncompressedSize.get() + 1); }), kIncorrectLength},
        {"size one less than the stream gives",
         edited([](Record& r) { r.info.uncompressedSize.set(r.info.uncompressedSize.get() - 1); }),
         kErrorDecompressing},
        {"stream cut short", edited([](Record& r) { r.stored.resize(r.stored.size() - 5); }), kErrorDecompressing},
        {"not a zlib stream", edited([](Record& r) { r.stored = text(200); }), kErrorDecompressing},
        {"preset dictionary", edited([&](Record& r) { r.stored = dictionaryStream; }), kErrorDecompressing},
        {"raw and sound", record(content, false), ""},
        {"raw, CRC off",
         [&] {
             Record r = record(content, false);
             r.info.crc32.set(r.info.crc32.get() + 1);
             return r;
         }(),
         kCrcFailed},
        // Size 0: no bytes and no check, whatever flag, CRC and stream say.
        {"empty, flagged compressed with garbage",
         edited([](Record& r) {
             r.info.uncompressedSize.set(0);
             r.stored = Bytes{1, 2, 3};
         }),
         ""},
    };
    for (const Case& c : cases) {
        for (const ContentLimits& limits : everyWay(5000)) {
            SCOPED_TRACE(std::string(c.what) + ", piece " + std::to_string(limits.piece));
            Bytes written;
            EXPECT_EQ(run(c.r, limits, &written), c.message);
            if (!*c.message) {
                EXPECT_TRUE(written == (c.r.info.uncompressedSize.get() ? content : Bytes()));
            }
        }
    }
}

TEST(PasteContent, ASinkThatRefusesStopsTheWrite) {
    const Bytes content = text(3000);
    const Record r = record(content, true);
    for (size_t refuseAt : {1u, 2u, 3u}) {
        SCOPED_TRACE(refuseAt);
        FileContent c(r.info, FileBytes{r.stored.data(), uint32_t(r.stored.size())}, ContentLimits{0, 1000});
        c.check();
        Collect sink;
        sink.refuseAt = refuseAt;
        EXPECT_FALSE(c.writeTo(sink));
        EXPECT_EQ(sink.puts, refuseAt) << "nothing is offered after a refusal";
        EXPECT_TRUE(sink.bytes == Bytes(content.begin(), content.begin() + 1000 * (refuseAt - 1)));
    }
}

// The limit between one buffer and pieces, at its real value: zeros inflate
// at close to deflate's best ratio, so 64 MiB come from a stream of 64 KiB.
TEST(PasteContent, FilesAboveSixtyFourMebibytesAreInflatedInPieces) {
    for (uint32_t size : {64u << 20, (64u << 20) + 1}) {
        SCOPED_TRACE(size);
        const Bytes zeros(size, 0);
        Record r = record(zeros, true);
        EXPECT_LE(uint64_t(size), maxInflatedSize(uint32_t(r.stored.size())));
        Bytes written;
        bool streamed = false;
        EXPECT_EQ(run(r, ContentLimits{}, &written, &streamed), "");
        EXPECT_EQ(streamed, size > (64u << 20));
        EXPECT_TRUE(written == zeros);
    }
}

}  // namespace
}  // namespace tw
