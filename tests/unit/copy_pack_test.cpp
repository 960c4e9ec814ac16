// Packing one file's content: CRC-32, the compress-when-smaller rule, the
// stream whatever slices the compressor is fed, giving up when asked, and
// who owns which buffer afterwards.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarnwick/copy/messages.h"
#include "tarnwick/copy/pack.h"

namespace tw {
namespace {

HeapBytes heapCopy(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return HeapBytes();
    HeapBytes b = allocateBytes(bytes.size());
    std::memcpy(b.get(), bytes.data(), bytes.size());
    return b;
}

std::vector<uint8_t> textBytes(size_t n) {
    static const char kLine[] = "The quick brown fox jumps over the lazy dog. ";
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(kLine[i % (sizeof kLine - 1)]);
    return out;
}

std::vector<uint8_t> noiseBytes(size_t n) {
    std::vector<uint8_t> out(n);
    uint32_t x = 2463534242u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return out;
}

uint32_t zlibCrc(const std::vector<uint8_t>& b) {
    return uint32_t(crc32(0L, b.empty() ? Z_NULL : b.data(), uInt(b.size())));
}

// Text, noise and long runs of zeros in turn: every kind of deflate block.
std::vector<uint8_t> mixedBytes(size_t n) {
    std::vector<uint8_t> out = textBytes(n), noise = noiseBytes(n);
    for (size_t i = 0; i < n; ++i) {
        size_t part = i / 20000 % 3;
        out[i] = part == 0 ? out[i] : part == 1 ? noise[i] : 0;
    }
    return out;
}

struct Case {
    const char* what;
    std::vector<uint8_t> content;
    bool compressed;
};

TEST(PackContent, StoresRawOrZlibStreamByTheRules) {
    const std::vector<Case> cases = {
        {"empty", {}, false},
        {"one byte", {'a'}, false},
        {"15 repeated bytes stay raw", std::vector<uint8_t>(15, 'a'), false},
        {"16 repeated bytes are offered and shrink", std::vector<uint8_t>(16, 'a'), true},
        {"16 noisy bytes do not shrink", noiseBytes(16), false},
        {"text shrinks", textBytes(100000), true},
        {"noise does not shrink", noiseBytes(70000), false},
        {"text, noise and zeros", mixedBytes(300000), true},
    };
    // One thread's scratch packs every case in turn, its buffers and
    // compressor reused; each case also goes alone, in a buffer of its own.
    PackScratch scratch;
    for (bool own : {false, true}) {
    // The default slice, and slices that cut the input anywhere.
    for (uint32_t slice : {kPackSlice, 1u, 7u, 4096u, 65537u}) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SCOPED_TRACE(slice);
        SCOPED_TRACE(own ? "a buffer of its own" : "the scratch's buffer");
        uint32_t size = uint32_t(c.content.size());
        if (slice == 1 && size > 20000) continue;  // a byte at a time takes long
        PackedContent p;
        if (own) {
            p = packContent(heapCopy(c.content), size, {}, slice);
        } else {
            HeapBytes owned;
            uint8_t* room = nullptr;
            if (size) {
                room = scratch.contentRoom(size, owned);
                ASSERT_NE(room, nullptr);
                EXPECT_EQ(owned, nullptr) << "small files are read into the scratch";
                std::memcpy(room, c.content.data(), size);
            }
            p = scratch.pack(room, nullptr, size, {}, slice);
            if (size) {
                EXPECT_NE(p.stored.get(), room) << "the stored form is a buffer of its own";
            }
        }

        EXPECT_EQ(p.size, size);
        EXPECT_EQ(p.crc, zlibCrc(c.content));
        EXPECT_EQ(p.compressed, c.compressed);
        if (size == 0) {
            EXPECT_EQ(p.storedSize, 0u);
            EXPECT_EQ(p.stored, nullptr);
            continue;
        }
        ASSERT_NE(p.stored, nullptr);
        std::vector<uint8_t> stored(p.stored.get(), p.stored.get() + p.storedSize);
        if (!c.compressed) {
            EXPECT_EQ(stored, c.content);
            continue;
        }
        EXPECT_LT(p.storedSize, size);
        // Exactly what compress2 makes at level 9, and it inflates back.
        uLongf expectedLength = compressBound(size);
        std::vector<uint8_t> expected(expectedLength);
        ASSERT_EQ(compress2(expected.data(), &expectedLength, c.content.data(), size, 9), Z_OK);
        expected.resize(expectedLength);
        EXPECT_EQ(stored, expected);
        std::vector<uint8_t> back(size);
        uLongf backLength = size;
        ASSERT_EQ(uncompress(back.data(), &backLength, stored.data(), p.storedSize), Z_OK);
        EXPECT_EQ(backLength, size);
        EXPECT_EQ(back, c.content);
    }
    }
    }
}

TEST(PackContent, GivesUpBetweenSlicesWhenAsked) {
    std::vector<uint8_t> text = textBytes(50000);
    int asked = 0;
    auto stopAtThird = [&] { return ++asked == 3; };
    PackScratch scratch;
    EXPECT_THROW(scratch.pack(text.data(), nullptr, uint32_t(text.size()), stopAtThird, 10000), PackStopped);
    EXPECT_EQ(asked, 3);
    // The compressor left half way starts afresh for the next file.
    PackedContent again = scratch.pack(text.data(), nullptr, uint32_t(text.size()));
    uLongf length = compressBound(uLong(text.size()));
    std::vector<uint8_t> expected(length);
    ASSERT_EQ(compress2(expected.data(), &length, text.data(), uLong(text.size()), 9), Z_OK);
    EXPECT_EQ(std::vector<uint8_t>(again.stored.get(), again.stored.get() + again.storedSize),
              std::vector<uint8_t>(expected.begin(), expected.begin() + length));
    // Never asked for what is not offered to the compressor.
    asked = 0;
    PackedContent p = packContent(heapCopy({'s', 'h', 'o', 'r', 't'}), 5, [&] { return ++asked > 0; });
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(p.storedSize, 5u);
}

TEST(PackContent, LargeFilesGetBuffersOfTheirOwn) {
    PackScratch scratch;
    HeapBytes owned;
    uint8_t* room = scratch.contentRoom(PackScratch::kKeptSize + 1, owned);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(room, owned.get());
    HeapBytes none;
    EXPECT_NE(scratch.contentRoom(PackScratch::kKeptSize, none), nullptr);
    EXPECT_EQ(none, nullptr);
}

TEST(PackContent, RawContentKeepsItsBufferWithoutACopy) {
    // Memory for a whole tree is the sum of its stored forms: a raw file
    // must not be held twice.
    std::vector<uint8_t> noise = noiseBytes(4096);
    HeapBytes in = heapCopy(noise);
    const uint8_t* original = in.get();
    PackedContent p = packContent(std::move(in), uint32_t(noise.size()));
    EXPECT_FALSE(p.compressed);
    EXPECT_EQ(p.stored.get(), original);
}

TEST(PackContent, FillsTheRecordFieldsItOwns) {
    std::vector<uint8_t> text = textBytes(5000);
    PackedContent p = packContent(heapCopy(text), uint32_t(text.size()));
    FileInfo info;
    std::memset(&info, 0xAB, sizeof info);
    p.applyTo(info);
    const auto* raw = reinterpret_cast<const uint8_t*>(&info);
    EXPECT_EQ(loadU32(raw + 264), 5000u);
    EXPECT_EQ(loadU32(raw + 268), zlibCrc(text));
    EXPECT_EQ(raw[284], 1u);
    EXPECT_EQ(loadU32(raw + 288), p.storedSize);
    // Time and attributes are not its business.
    EXPECT_EQ(loadU32(raw + 272), 0xABABABABu);
    EXPECT_EQ(loadU32(raw + 280), 0xABABABABu);
}

}  // namespace
}  // namespace tw
