// Block layouts: the writer and the tree reader agree, byte for byte, with
// the documented example, and the reader refuses blocks that lie.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarnwick/archive/block.h"

namespace tw {
namespace {

// The message text that f raises; "" when it raises none.
template <class F>
std::string raisedText(F&& f) {
    try {
        f();
    } catch (const char* text) {
        return text ? text : "(null)";
    }
    return "";
}

struct Built {
    std::vector<uint8_t> block;
    BlockPlan plan;
};

// Folder a (x.txt of 100 bytes, then folder s with the empty file y), then
// the file z.bin: the example every reader of the format is checked against.
// pieces > 1 writes it with writeBlockPiece, last piece first; trailing
// adds an empty folder after the last stored byte.
Built buildExample(unsigned pieces = 1, bool trailing = false) {
    FolderRecord a = makeFolderRecord(-1, "a", 0x10);
    FileRecord x = makeFileRecord(0, "x.txt");
    x.info.uncompressedSize.set(100);
    x.info.storedSize.set(100);
    FolderRecord s = makeFolderRecord(0, "s", 0x12);
    FileRecord y = makeFileRecord(2, "y");
    FileRecord z = makeFileRecord(-1, "z.bin");
    z.info.uncompressedSize.set(7);
    z.info.storedSize.set(7);
    static const std::vector<uint8_t> xData(100, 'x');
    static const std::vector<uint8_t> zData = {'z', 'z', 'z', 'z', 'z', 'z', 'z'};
    FolderRecord e = makeFolderRecord(-1, "e", 0x10);
    BlockEntry entries[] = {
        {&a.head, nullptr, 0}, {&x.head, xData.data(), 100}, {&s.head, nullptr, 0},
        {&y.head, nullptr, 0}, {&z.head, zData.data(), 7},   {&e.head, nullptr, 0},
    };
    const size_t count = trailing ? 6 : 5;
    Built b;
    b.plan = planBlock(3, trailing ? 3 : 2, 107);
    b.block.assign(size_t(b.plan.length), 0xCC);
    if (pieces == 1)
        writeBlock(b.block.data(), b.plan, entries, count);
    else
        for (unsigned piece = pieces; piece-- > 0;)
            writeBlockPiece(b.block.data(), b.plan, entries, count, piece, pieces);
    return b;
}

// Pieces written in any order (one per thread) give the block writeBlock
// gives, also with more pieces than entries and with entries after the
// last stored byte.
TEST(Block, WrittenInPiecesIsTheSameBlock) {
    for (bool trailing : {false, true}) {
        const Built built = buildExample(1, trailing);
        const std::vector<uint8_t>& whole = built.block;
        if (trailing) {
            // The last record ends where the data begins.
            const FolderRecord e = makeFolderRecord(-1, "e", 0x10);
            const uint32_t len = e.head.recordLength.get();
            ASSERT_EQ(std::memcmp(whole.data() + built.plan.dataOffset - len, &e.head, len), 0);
        }
        for (unsigned pieces : {2u, 3u, 7u})
            EXPECT_EQ(buildExample(pieces, trailing).block, whole) << pieces << " pieces, trailing " << trailing;
    }
}

TEST(Block, WorkedExampleLayout) {
    Built b = buildExample();
    EXPECT_EQ(b.plan.version, 2u);
    EXPECT_EQ(b.plan.recordAreaLength, 1472u);
    EXPECT_EQ(b.plan.dataOffset, 1488u);
    ASSERT_EQ(b.block.size(), 1488u + 107u);

    const uint8_t* p = b.block.data();
    EXPECT_EQ(loadU32(p + 0), 16u);
    EXPECT_EQ(p[4], 2);
    EXPECT_EQ(loadU32(p + 8), 5u);
    EXPECT_EQ(loadU32(p + 12), 1472u);

    struct Row {
        uint32_t offset, length;
        int32_t parent;
        uint32_t type;
        const char* name;
    } const rows[] = {
        {16, 280, -1, 1, "a"}, {296, 304, 0, 0, "x.txt"}, {600, 280, 0, 1, "s"},
        {880, 304, 2, 0, "y"}, {1184, 304, -1, 0, "z.bin"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(loadU32(p + r.offset), r.length);
        EXPECT_EQ(int32_t(loadU32(p + r.offset + 4)), r.parent);
        EXPECT_EQ(loadU32(p + r.offset + 8), r.type);
        EXPECT_STREQ(reinterpret_cast<const char*>(p + r.offset + 12), r.name);
    }
    // File fields at their absolute record offsets.
    EXPECT_EQ(loadU32(p + 296 + 276), 100u);  // uncompressed size
    EXPECT_EQ(loadU32(p + 296 + 300), 100u);  // stored size
    EXPECT_EQ(loadU32(p + 16 + 276), 0x10u);  // folder attributes
    EXPECT_EQ(loadU32(p + 600 + 276), 0x12u);
    EXPECT_EQ(std::vector<uint8_t>(p + 1488, p + 1588), std::vector<uint8_t>(100, 'x'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 1588), 7), "zzzzzzz");
}

TEST(Block, WorkedExampleReadsBack) {
    Built b = buildExample();
    TreeBlockReader r(b.block.data(), b.block.size());
    ASSERT_EQ(r.entryCount(), 5u);
    EXPECT_EQ(r.dataPosition(), 1488u);

    struct Expect {
        int32_t parent;
        uint32_t type;
        const char* name;
        uint64_t dataBefore;
    } const expect[] = {{-1, 1, "a", 1488}, {0, 0, "x.txt", 1488}, {0, 1, "s", 1588}, {2, 0, "y", 1588},
                        {-1, 0, "z.bin", 1588}};
    for (const Expect& e : expect) {
        ASSERT_FALSE(r.done());
        TreeEntry t = r.next();
        EXPECT_EQ(t.parentIndex, e.parent);
        EXPECT_EQ(t.entryType, e.type);
        EXPECT_EQ(r.dataPosition(), e.dataBefore);
        if (t.file) {
            EXPECT_STREQ(t.file->name, e.name);
            FileBytes bytes = r.fileBytes(*t.file);
            EXPECT_EQ(bytes.data, b.block.data() + e.dataBefore);
            EXPECT_EQ(bytes.length, t.file->uncompressedSize.get());
            r.skipFileData(*t.file);
        } else {
            ASSERT_NE(t.folder, nullptr);
            EXPECT_STREQ(t.folder->name, e.name);
        }
    }
    EXPECT_TRUE(r.done());
    EXPECT_EQ(r.dataPosition(), b.block.size());
}

TEST(Block, PlanChoosesLayoutAndLength) {
    struct Case {
        uint32_t files, folders;
        uint64_t stored;
        uint32_t version;
        uint64_t length;
    } const cases[] = {
        {1, 0, 0, 1, 292},          // one empty file
        {1, 0, 50, 1, 342},         // one file
        {0, 1, 0, 2, 296},          // one empty folder
        {2, 0, 0, 2, 624},          // two empty files
        {1, 1, 10, 2, 610},         // a folder holding a file
        {0, 3, 0, 2, 16 + 840},     // folders only
        {3, 2, 107, 2, 1488 + 107},
    };
    for (const Case& c : cases) {
        BlockPlan p = planBlock(c.files, c.folders, c.stored);
        EXPECT_EQ(p.version, c.version) << c.files << "/" << c.folders;
        EXPECT_EQ(p.length, c.length) << c.files << "/" << c.folders;
    }
    // Lengths beyond 32 bits are reported, not wrapped.
    EXPECT_GT(planBlock(2, 0, 0xFFFFFFFFull).length, 0xFFFFFFFFull);
}

TEST(Block, SingleFileBlockIsTheFileInfo) {
    FileRecord rec = makeFileRecord(-1, "ReadMe.TXT");
    rec.info.uncompressedSize.set(3);
    rec.info.storedSize.set(3);
    rec.info.crc32.set(0x12345678);
    rec.info.lastWriteTime.set(0x01D2030405060708ull);
    rec.info.attributes.set(0x21);
    const uint8_t data[] = {'a', 'b', 'c'};
    BlockEntry e{&rec.head, data, 3};
    BlockPlan p = planBlock(1, 0, 3);
    std::vector<uint8_t> block(size_t(p.length));
    writeBlock(block.data(), p, &e, 1);
    ASSERT_EQ(block.size(), 295u);
    EXPECT_EQ(std::memcmp(block.data(), &rec.info, 292), 0);
    EXPECT_EQ(loadU32(&block[272]), 0x05060708u);
    EXPECT_EQ(loadU32(&block[276]), 0x01D20304u);
    EXPECT_EQ(std::string(block.begin() + 292, block.end()), "abc");

    const FileInfo& info = readSingleFileBlock(block.data(), block.size());
    EXPECT_STREQ(info.name, "ReadMe.TXT");
    FileBytes bytes = fileBytesAt(block.data(), block.size(), kSingleFileDataOffset, info);
    EXPECT_EQ(bytes.length, 3u);
    EXPECT_EQ(raisedText([&] { fileBytesAt(block.data(), block.size() - 1, kSingleFileDataOffset, info); }),
              "Invalid Tarnwick data.");
    EXPECT_EQ(raisedText([&] { readSingleFileBlock(block.data(), 291); }), "Invalid Tarnwick data.");
}

// Every way a foreign block can lie about its lengths ends in kInvalidData,
// never in a read outside the block (the native build runs under ASan).
TEST(Block, ReaderRefusesLies) {
    const Built good = buildExample();
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> b = good.block;
        storeU32(&b[at], value);
        return b;
    };
    auto compressedWithStored = [&](uint32_t stored) {
        std::vector<uint8_t> b = patched(1184 + 12 + 288, stored);
        b[1184 + 12 + 284] = 1;
        return b;
    };
    auto walk = [](const std::vector<uint8_t>& b) {
        // Copy to an exact-size heap block so that ASan sees its end.
        std::vector<uint8_t> exact(b);
        TreeBlockReader r(exact.data(), exact.size());
        while (!r.done()) {
            TreeEntry t = r.next();
            if (t.file) {
                r.fileBytes(*t.file);
                r.skipFileData(*t.file);
            }
        }
    };
    ASSERT_NO_THROW(walk(good.block));

    struct Case {
        const char* what;
        std::vector<uint8_t> block;
    } const cases[] = {
        {"shorter than a header", std::vector<uint8_t>(good.block.begin(), good.block.begin() + 15)},
        {"header length below 16", patched(0, 8)},
        {"header length past the end", patched(0, 0xFFFFFFF0)},
        {"record area past the end", patched(12, 0xFFFFFFFF)},
        {"more entries than records", patched(8, 6)},
        {"huge entry count", patched(8, 0xFFFFFFFF)},
        {"record length zero", patched(296, 0)},
        {"file record too short", patched(296, 280)},
        {"record runs past the area", patched(1184, 400)},
        {"parent equal to own index", patched(296 + 4, 1)},
        {"parent after own index", patched(1184 + 4, 7)},
        {"stored bytes past the end", compressedWithStored(1000)},
        {"raw size past the end", patched(1184 + 12 + 264, 8)},
    };
    for (const Case& c : cases) EXPECT_EQ(raisedText([&] { walk(c.block); }), "Invalid Tarnwick data.") << c.what;

    std::vector<uint8_t> unterminated = good.block;
    std::memset(&unterminated[296 + 12], 'n', kNameField);
    EXPECT_EQ(raisedText([&] { walk(unterminated); }), "Invalid Tarnwick data.");

    // A negative parent of any value means top level; the padding and the
    // tail of a name field are ignored.
    std::vector<uint8_t> tolerant = patched(1184 + 4, 0x80000000);
    tolerant[5] = tolerant[6] = tolerant[7] = 0xAB;
    tolerant[16 + 12 + 100] = 'q';
    EXPECT_NO_THROW(walk(tolerant));
}

TEST(Block, PlausibleEntryCountIsBoundedByTheRecordArea) {
    Built b = buildExample();
    storeU32(&b.block[8], 0xFFFFFFFF);
    TreeBlockReader r(b.block.data(), b.block.size());
    EXPECT_EQ(r.plausibleEntryCount(), 1472u / 12u);
}

}  // namespace
}  // namespace tw
