// The exact-names side format: written and read back, ignored when it
// belongs to another block, refused whole when its own bytes are wrong.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tarnwick/archive/block.h"
#include "tarnwick/archive/names_block.h"

namespace tw {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes& theBlock() {
    static const Bytes block = [] {
        Bytes b(300);
        for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 7);
        return b;
    }();
    return block;
}

// Records 1 and 2 of a three-record block: "ab" (entry at 28, units at 44)
// and "Отчёт" (entry at 48, units at 64, end at 74).
Bytes sample() {
    const Bytes& b = theBlock();
    return writeNamesBlock(uint32_t(b.size()), crc32Of(b.data(), b.size()), 1251,
                           {{1, nameFieldCrc("ab"), u"ab"},
                            {2, nameFieldCrc("_____"), u"\u041e\u0442\u0447\u0451\u0442"}});
}

bool read(const Bytes& names, uint32_t recordCount, BoundNames& out) {
    const Bytes& b = theBlock();
    return readBoundNames(names.data(), names.size(), b.data(), b.size(), recordCount, out);
}

void putUnits(Bytes& names, size_t at, const std::u16string& units) {
    for (char16_t u : units) {
        names[at++] = uint8_t(u);
        names[at++] = uint8_t(u >> 8);
    }
}

TEST(NamesBlock, RoundTripAndLayout) {
    const Bytes names = sample();
    ASSERT_EQ(names.size(), 74u);
    const uint32_t header[] = {28, 1, 300, crc32Of(theBlock().data(), 300), 1251, 2, 46};
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(loadU32(&names[4 * i]), header[i]) << "header field " << i;
    EXPECT_EQ(loadU32(&names[28]), 20u);
    EXPECT_EQ(loadU32(&names[32]), 1u);
    EXPECT_EQ(loadU32(&names[36]), nameFieldCrc("ab"));
    EXPECT_EQ(loadU32(&names[40]), 2u);
    EXPECT_EQ(Bytes(names.begin() + 44, names.begin() + 48), (Bytes{'a', 0, 'b', 0}));
    EXPECT_EQ(loadU32(&names[48]), 26u);
    EXPECT_EQ(names[64], 0x1E);  // U+041E, little-endian
    EXPECT_EQ(names[65], 0x04);

    BoundNames bound;
    ASSERT_TRUE(read(names, 3, bound));
    EXPECT_EQ(bound.codePage(), 1251u);
    EXPECT_FALSE(bound.empty());
    ASSERT_NE(bound.find(2, "_____"), nullptr);
    EXPECT_EQ(*bound.find(2, "_____"), u"\u041e\u0442\u0447\u0451\u0442");
    ASSERT_NE(bound.find(1, "ab"), nullptr);
    EXPECT_EQ(*bound.find(1, "ab"), u"ab");
    EXPECT_EQ(bound.find(0, "ab"), nullptr);      // no entry
    EXPECT_EQ(bound.find(2, "____"), nullptr);    // the record's name is not the one the entry was made for
    EXPECT_EQ(bound.find(1, "ab.txt"), nullptr);

    // A later version may grow the header; the entries start where it says.
    Bytes longer = names;
    longer.insert(longer.begin() + 28, 4, 0xEE);
    storeU32(&longer[0], 32);
    ASSERT_TRUE(read(longer, 3, bound));
    ASSERT_NE(bound.find(1, "ab"), nullptr);

    // Pairs and lone surrogates travel as they are.
    const std::u16string odd = u"\U0001F600\xDC00x";
    Bytes raw = writeNamesBlock(300, crc32Of(theBlock().data(), 300), 1252, {{0, nameFieldCrc("__x"), odd}});
    ASSERT_TRUE(read(raw, 1, bound));
    ASSERT_NE(bound.find(0, "__x"), nullptr);
    EXPECT_EQ(*bound.find(0, "__x"), odd);
}

TEST(NamesBlock, WriterLeavesOutWhatTheReaderWouldRefuse) {
    const uint32_t crc = nameFieldCrc("f");
    Bytes names = writeNamesBlock(300, crc32Of(theBlock().data(), 300), 1252,
                                  {{0, crc, u"ok"}, {0, crc, u"again"}, {1, crc, u".."}, {2, crc, u""},
                                   {3, crc, std::u16string(256, u'x')}, {4, crc, u"a\\b"}, {5, crc, u"last"}});
    EXPECT_EQ(loadU32(&names[20]), 2u);
    EXPECT_EQ(names.size(), 28u + 20 + 24);
    BoundNames bound;
    ASSERT_TRUE(read(names, 6, bound));
    ASSERT_NE(bound.find(0, "f"), nullptr);
    EXPECT_EQ(*bound.find(0, "f"), u"ok");
    for (uint32_t i = 1; i < 5; ++i) EXPECT_EQ(bound.find(i, "f"), nullptr) << i;
    ASSERT_NE(bound.find(5, "f"), nullptr);
    EXPECT_EQ(*bound.find(5, "f"), u"last");
}

TEST(NamesBlock, SideFormatOfAnotherBlockIsIgnored) {
    struct Case {
        const char* what;
        std::function<void(Bytes& names, Bytes& block)> change;
    } const cases[] = {
        {"shorter than the binding fields", [](Bytes& n, Bytes&) { n.resize(15); }},
        {"unknown version", [](Bytes& n, Bytes&) { storeU32(&n[4], 2); }},
        {"block one byte longer", [](Bytes&, Bytes& b) { b.push_back(0); }},
        {"block length field", [](Bytes& n, Bytes&) { storeU32(&n[8], 299); }},
        {"a byte of the block changed", [](Bytes&, Bytes& b) { b[150] ^= 1; }},
        {"block CRC field", [](Bytes& n, Bytes&) { n[12] ^= 0x80; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes names = sample(), block = theBlock();
        c.change(names, block);
        BoundNames bound;
        ASSERT_TRUE(read(sample(), 3, bound));  // filled before: must come back empty
        EXPECT_FALSE(readBoundNames(names.data(), names.size(), block.data(), block.size(), 3, bound));
        EXPECT_TRUE(bound.empty());
        EXPECT_EQ(bound.find(1, "ab"), nullptr);
    }
}

TEST(NamesBlock, AnyFaultOfABoundSideFormatIsInvalidData) {
    struct Case {
        const char* what;
        std::function<void(Bytes& names, uint32_t& recordCount)> change;
    } const cases[] = {
        {"header shorter than 28", [](Bytes& n, uint32_t&) { storeU32(&n[0], 27); }},
        {"header past the end", [](Bytes& n, uint32_t&) { storeU32(&n[0], 75); }},
        {"bound, but too short for a header", [](Bytes& n, uint32_t&) { n.resize(20); }},
        {"entry area one byte longer", [](Bytes& n, uint32_t&) { storeU32(&n[24], 47); }},
        {"entry area one byte shorter", [](Bytes& n, uint32_t&) { storeU32(&n[24], 45); }},
        {"one entry more than there is", [](Bytes& n, uint32_t&) { storeU32(&n[20], 3); }},
        {"one entry fewer than there is", [](Bytes& n, uint32_t&) { storeU32(&n[20], 1); }},
        {"entry past the end", [](Bytes& n, uint32_t&) { n.resize(72); storeU32(&n[24], 44); }},
        {"entry length not 16 + 2 units", [](Bytes& n, uint32_t&) { storeU32(&n[28], 22); }},
        {"no units", [](Bytes& n, uint32_t&) { storeU32(&n[28], 16); storeU32(&n[40], 0); }},
        {"256 units", [](Bytes& n, uint32_t&) { storeU32(&n[28], 16 + 512); storeU32(&n[40], 256); }},
        {"units wrap the length", [](Bytes& n, uint32_t&) { storeU32(&n[28], 18); storeU32(&n[40], 0x80000001); }},
        {"same index twice", [](Bytes& n, uint32_t&) { storeU32(&n[52], 1); }},
        {"indexes descending", [](Bytes& n, uint32_t&) { storeU32(&n[52], 0); }},
        {"index beyond the records", [](Bytes&, uint32_t& count) { count = 2; }},
        // The name rules themselves are tested with isSafeWideName.
        {"a dots-only name", [](Bytes& n, uint32_t&) { putUnits(n, 44, u".."); }},
        {"a device name", [](Bytes& n, uint32_t&) { putUnits(n, 64, u"NUL.x"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes names = sample();
        uint32_t recordCount = 3;
        c.change(names, recordCount);
        BoundNames bound;
        ASSERT_TRUE(read(sample(), 3, bound));  // filled before: must come back empty
        const char* text = nullptr;
        try {
            read(names, recordCount, bound);
        } catch (const char* t) {
            text = t;
        }
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "Invalid Tarnwick data.");
        EXPECT_TRUE(bound.empty());
    }
}

}  // namespace
}  // namespace tw
