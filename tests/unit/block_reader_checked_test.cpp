// The paste's walk over a block: every record checked whole (structure,
// name, bytes) before it is handed out, the data position kept in step, and
// the row reservation bounded by the block, whatever its header claims.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarnwick/paste/block_walk.h"

namespace tw {
namespace {

using Bytes = std::vector<uint8_t>;

struct Item {
    int32_t parent;
    uint32_t type;  // 0 file, 1 folder
    const char* name;
    uint32_t stored;  // raw files only: stored = uncompressed
};

// A tree block whose raw files hold their index repeated.
Bytes treeBlock(const std::vector<Item>& items) {
    std::vector<FileRecord> files;
    std::vector<FolderRecord> folders;
    files.reserve(items.size());
    folders.reserve(items.size());
    std::vector<Bytes> data;
    data.reserve(items.size());
    std::vector<BlockEntry> entries;
    uint32_t fileCount = 0, folderCount = 0;
    uint64_t total = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& it = items[i];
        if (it.type == kEntryFile) {
            files.push_back(makeFileRecord(it.parent, it.name));
            files.back().info.uncompressedSize.set(it.stored);
            files.back().info.storedSize.set(it.stored);
            data.emplace_back(it.stored, uint8_t(i));
            entries.push_back({&files.back().head, data.back().data(), it.stored});
            ++fileCount;
            total += it.stored;
        } else {
            folders.push_back(makeFolderRecord(it.parent, it.name, 0x10));
            entries.push_back({&folders.back().head, nullptr, 0});
            ++folderCount;
        }
    }
    BlockPlan plan = planBlock(fileCount, folderCount, total);
    Bytes block(size_t(plan.length));
    writeBlock(block.data(), plan, entries.data(), entries.size());
    return block;
}

// Names handed out before the walk stopped, and whether it stopped.
struct Walked {
    std::vector<std::string> names;
    bool refused = false;
};

Walked walk(const Bytes& source) {
    Bytes exact(source);  // exactly sized, so ASan sees the block's end
    Walked w;
    try {
        TreeBlockReader reader(exact.data(), exact.size());
        while (!reader.done()) {
            uint64_t before = reader.dataPosition();
            CheckedEntry c = nextCheckedEntry(reader, noLeadBytes);
            if (c.entry.file) {
                w.names.push_back(c.entry.file->name);
                // The bytes start at the old position; the walk has moved on.
                EXPECT_EQ(c.bytes.data, exact.data() + before);
                EXPECT_EQ(reader.dataPosition(), before + c.entry.file->storedSize.get());
                EXPECT_EQ(Bytes(c.bytes.data, c.bytes.data + c.bytes.length),
                          Bytes(c.bytes.length, uint8_t(c.entry.index)));
            } else if (c.entry.folder) {
                w.names.push_back(std::string(c.entry.folder->name) + ">");
                EXPECT_EQ(reader.dataPosition(), before);
            } else {
                w.names.push_back("?");
                EXPECT_EQ(reader.dataPosition(), before);
            }
        }
    } catch (const char* text) {
        EXPECT_STREQ(text, kInvalidData);
        w.refused = true;
    }
    return w;
}

const std::vector<Item> kTree = {
    {-1, 1, "a", 0}, {0, 0, "x.txt", 100}, {0, 1, "s", 0}, {2, 0, "y", 0}, {-1, 0, "z.bin", 7},
};

TEST(BlockReaderChecked, SoundBlockWalksWhole) {
    Walked w = walk(treeBlock(kTree));
    EXPECT_FALSE(w.refused);
    EXPECT_EQ(w.names, (std::vector<std::string>{"a>", "x.txt", "s>", "y", "z.bin"}));
}

// A bad name stops the walk at its record: the records before it were handed
// out, nothing of it or after it was.
TEST(BlockReaderChecked, UnsafeNameStopsAtItsRecord) {
    struct Case {
        size_t record;
        const char* name;
    } const cases[] = {
        {0, ".."}, {1, "..\\..\\x"}, {2, "C:s"}, {3, "CON"}, {4, "z.bin."}, {1, ""}, {4, "a/b"}, {2, "lpt1.txt"},
    };
    for (const Case& c : cases) {
        std::vector<Item> items = kTree;
        items[c.record].name = c.name;
        Walked w = walk(treeBlock(items));
        EXPECT_TRUE(w.refused) << c.name;
        EXPECT_EQ(w.names.size(), c.record) << c.name;
    }
}

TEST(BlockReaderChecked, UnknownTypeNeedsOnlyAnEntryHead) {
    // Record 2 (folder s, 280 bytes) becomes a record of type 7; its name is
    // never used, so even an unterminated or unsafe one does not matter.
    Bytes b = treeBlock(kTree);
    storeU32(&b[600 + 8], 7);
    std::memset(&b[600 + 12], '\\', kNameField);
    Walked w = walk(b);
    EXPECT_FALSE(w.refused);
    EXPECT_EQ(w.names, (std::vector<std::string>{"a>", "x.txt", "?", "y", "z.bin"}));

    // Shrunk to a bare 12-byte head, the next record must follow at once.
    Bytes small;
    small.insert(small.end(), b.begin(), b.begin() + 600 + 12);
    storeU32(&small[600], 12);
    small.insert(small.end(), b.begin() + 880, b.end());
    storeU32(&small[12], loadU32(&small[12]) - 268);
    Walked w2 = walk(small);
    EXPECT_FALSE(w2.refused);
    EXPECT_EQ(w2.names, w.names);
}

TEST(BlockReaderChecked, FileBytesMustLieInsideTheBlock) {
    const Bytes good = treeBlock(kTree);
    const size_t x = 296 + 12, z = 1184 + 12;  // FileInfo of x.txt and z.bin
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        size_t namesBefore;
    } const cases[] = {
        {"raw size past the end", z + 264, 8, 4},
        {"raw size near 4 GiB", z + 264, 0xFFFFFFFF, 4},
        {"stored size moves z past the end", x + 288, 101, 4},
        // Even the empty file y, with no bytes of its own, stands at a data
        // position past the block's end: the block is refused there.
        {"stored size near 4 GiB", x + 288, 0xFFFFFFFF, 3},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        storeU32(&b[c.at], c.value);
        Walked w = walk(b);
        EXPECT_TRUE(w.refused) << c.what;
        EXPECT_EQ(w.names.size(), c.namesBefore) << c.what;
    }

    // A compressed file is measured by its stored size, and its size may be
    // at most what a stream of that many bytes can inflate to, 1032 times
    // as much; beyond that the record is refused before it is handed out.
    Bytes compressed = good;
    compressed[z + 284] = 1;
    storeU32(&compressed[z + 264], 7 * 1032);
    Bytes ok(compressed);
    TreeBlockReader reader(ok.data(), ok.size());
    for (int i = 0; i < 4; ++i) nextCheckedEntry(reader, noLeadBytes);
    CheckedEntry c = nextCheckedEntry(reader, noLeadBytes);
    EXPECT_EQ(c.bytes.length, 7u);
    const struct {
        const char* what;
        uint32_t size, stored;
    } forged[] = {
        {"stored size past the end", 7 * 1032, 8},
        {"one byte more than 7 bytes can inflate to", 7 * 1032 + 1, 7},
        {"4 GiB from 7 bytes", 0xFFFFFFFF, 7},
        {"anything from no bytes", 1, 0},
    };
    for (const auto& f : forged) {
        Bytes b = compressed;
        storeU32(&b[z + 264], f.size);
        storeU32(&b[z + 288], f.stored);
        Walked w = walk(b);
        EXPECT_TRUE(w.refused) << f.what;
        EXPECT_EQ(w.names.size(), 4u) << f.what;
    }
    EXPECT_EQ(maxInflatedSize(0xFFFFFFFF), 0xFFFFFFFFull * 1032) << "no 32-bit wrap";

    // An empty file has no bytes, whatever its stored size and flag claim;
    // the stored size still moves the data position.
    Bytes empty = good;
    storeU32(&empty[z + 264], 0);
    storeU32(&empty[z + 288], 0xFFFFFFF0);
    empty[z + 284] = 1;
    Walked we = walk(empty);
    EXPECT_FALSE(we.refused);
}

TEST(BlockReaderChecked, ReservationIsBoundedByTheBlock) {
    Bytes b = treeBlock(kTree);
    TreeBlockReader honest(b.data(), b.size());
    EXPECT_EQ(rowsToReserve(honest, b.size()), 5u);

    // A forged count is bounded first by the record area, then by what the
    // whole block could hold as folder records.
    storeU32(&b[8], 0xFFFFFFFF);
    TreeBlockReader forged(b.data(), b.size());
    EXPECT_LE(rowsToReserve(forged, b.size()), b.size() / kFolderRecordSize + 1);
    EXPECT_GE(rowsToReserve(forged, b.size()), 5u);
}

TEST(BlockReaderChecked, SingleFileBlock) {
    FileRecord rec = makeFileRecord(-1, "one.txt");
    rec.info.uncompressedSize.set(5);
    rec.info.storedSize.set(5);
    const uint8_t data[] = {'h', 'e', 'l', 'l', 'o'};
    BlockEntry e{&rec.head, data, 5};
    BlockPlan plan = planBlock(1, 0, 5);
    Bytes good(size_t(plan.length));
    writeBlock(good.data(), plan, &e, 1);

    CheckedSingleFile s = readCheckedSingleFile(good.data(), good.size(), noLeadBytes);
    EXPECT_STREQ(s.info->name, "one.txt");
    EXPECT_EQ(s.bytes.data, good.data() + 292);
    EXPECT_EQ(s.bytes.length, 5u);

    auto refused = [](Bytes b) {
        try {
            readCheckedSingleFile(b.data(), b.size(), noLeadBytes);
        } catch (const char* text) {
            return std::string(text) == kInvalidData;
        }
        return false;
    };
    EXPECT_TRUE(refused(Bytes(good.begin(), good.end() - 1))) << "shorter than FileInfo plus bytes";
    EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 291))) << "shorter than FileInfo";
    EXPECT_TRUE(refused(Bytes())) << "empty";
    for (const char* name : {"..", "a\\b", "AUX", "x:y", "end "}) {
        Bytes b = good;
        std::memset(&b[0], 0, kNameField);
        std::memcpy(&b[0], name, std::strlen(name));
        EXPECT_TRUE(refused(b)) << name;
    }
    Bytes unterminated = good;
    std::memset(&unterminated[0], 'n', kNameField);
    EXPECT_TRUE(refused(unterminated)) << "name without terminator";
}

}  // namespace
}  // namespace tw
