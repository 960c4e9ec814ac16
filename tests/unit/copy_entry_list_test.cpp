// The copy side's collection: indexes, counts and totals, the block it
// plans, and the refusals that keep every 32-bit size honest.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tarnwick/copy/entry_list.h"
#include "tarnwick/copy/messages.h"

namespace tw {
namespace {

std::unique_ptr<FolderRecord> folder(int32_t parent, const char* name) {
    return std::make_unique<FolderRecord>(makeFolderRecord(parent, name, 0x10));
}

// A file record claiming the given sizes. Only the bookkeeping reads the
// claims here, so the stored bytes need not be that long unless a block is
// written.
std::unique_ptr<FileRecord> file(int32_t parent, const char* name, uint32_t size, uint32_t stored) {
    auto r = std::make_unique<FileRecord>(makeFileRecord(parent, name));
    r->info.uncompressedSize.set(size);
    r->info.storedSize.set(stored);
    r->info.compressed = stored != size;
    return r;
}

HeapBytes bytesOf(const char* text) {
    size_t n = std::strlen(text);
    HeapBytes b = allocateBytes(n);
    std::memcpy(b.get(), text, n);
    return b;
}

TEST(EntryList, IndexesCountsAndTotalsFollowTheAppends) {
    EntryList list;
    EXPECT_EQ(list.appendFolder(folder(kTopLevel, "a")), 0);
    list.appendFile(file(0, "x.txt", 100, 40), bytesOf(std::string(40, 'x').c_str()));
    EXPECT_EQ(list.appendFolder(folder(0, "s")), 2);
    list.appendFile(file(2, "y", 0, 0), HeapBytes());
    list.appendFile(file(kTopLevel, "z.bin", 7, 7), bytesOf("zzzzzzz"));

    EXPECT_EQ(list.size(), 5u);
    EXPECT_EQ(list.fileCount(), 3u);
    EXPECT_EQ(list.folderCount(), 2u);
    EXPECT_EQ(list.totalUncompressed(), 107u);
    EXPECT_EQ(list.totalStored(), 47u);

    BlockPlan plan = list.plan();
    EXPECT_EQ(plan.version, 2u);
    EXPECT_EQ(plan.length, 16u + 3 * 304 + 2 * 280 + 47);

    // The block built from the list: records in order, data back to back.
    std::vector<BlockEntry> parts = list.blockEntries();
    std::vector<uint8_t> block(size_t(plan.length));
    writeBlock(block.data(), plan, parts.data(), parts.size());
    const uint8_t* p = block.data();
    EXPECT_EQ(loadU32(p + 8), 5u);
    const uint32_t starts[] = {16, 296, 600, 880, 1184};
    const int32_t parents[] = {-1, 0, 0, 2, -1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(int32_t(loadU32(p + starts[i] + 4)), parents[i]) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 1488), 47), std::string(40, 'x') + "zzzzzzz");
}

TEST(EntryList, OneFileAloneMakesTheSingleFileBlock) {
    const struct {
        int files;
        int folders;
        uint32_t version;
    } cases[] = {{1, 0, 1}, {2, 0, 2}, {1, 1, 2}, {0, 1, 2}};
    for (const auto& c : cases) {
        EntryList list;
        for (int i = 0; i < c.folders; ++i) list.appendFolder(folder(kTopLevel, "d"));
        for (int i = 0; i < c.files; ++i) list.appendFile(file(kTopLevel, "f", 3, 3), bytesOf("abc"));
        EXPECT_EQ(list.plan().version, c.version) << c.files << " files, " << c.folders << " folders";
    }
}

TEST(EntryList, RefusesWhatWouldOverflowThirtyTwoBits) {
    constexpr uint32_t kBig = 0x7FFFFFFF;
    // With three file records, 16 + 3 * 304 + kBig + kFill is 0xFFFFFFFF.
    constexpr uint32_t kFill = 0xFFFFFFFFu - 16 - 3 * 304 - kBig;
    const struct {
        const char* what;
        std::vector<std::pair<uint32_t, uint32_t>> files;  // size, stored
        size_t accepted;                                     // how many go in
    } cases[] = {
        {"exactly full", {{kBig, kBig}, {kBig, kFill}, {0, 0}}, 3},
        {"one stored byte too many", {{kBig, kBig}, {kBig, kFill + 1}, {0, 0}}, 2},
        {"one record too many", {{kBig, kBig}, {kBig, kFill}, {0, 0}, {0, 0}}, 3},
        // Well compressed files: the block is small, the total is not, and
        // only the block has to fit.
        {"total uncompressed past 4 GiB", {{kBig, 10}, {kBig, 10}, {kBig, 10}}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EntryList list;
        size_t accepted = 0;
        uint64_t sizes = 0;
        for (const auto& f : c.files) {
            uint32_t before = list.totalStored();
            try {
                list.appendFile(file(kTopLevel, "f", f.first, f.second), allocateBytes(1));
                ++accepted;
                sizes += f.first;
            } catch (const char* text) {
                EXPECT_STREQ(text, kCopyTooLarge);
                EXPECT_EQ(list.size(), accepted);  // left as it was
                EXPECT_EQ(list.totalStored(), before);
                break;
            }
        }
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(list.totalUncompressed(), sizes);
        EXPECT_LE(list.plan().length, 0xFFFFFFFFu);
    }
}

TEST(EntryList, RefusesAFolderThatNoLongerFits) {
    EntryList list;
    list.appendFile(file(kTopLevel, "f", 0x7FFFFFFF, 0x7FFFFFFF), allocateBytes(1));
    list.appendFile(file(kTopLevel, "g", 0x7FFFFFFF, 0xFFFFFFFFu - 16 - 2 * 304 - 280 - 0x7FFFFFFF), allocateBytes(1));
    EXPECT_EQ(list.appendFolder(folder(kTopLevel, "d")), 2);
    EXPECT_EQ(list.plan().length, 0xFFFFFFFFu);
    try {
        list.appendFolder(folder(kTopLevel, "e"));
        ADD_FAILURE() << "a folder past 4 GiB was accepted";
    } catch (const char* text) {
        EXPECT_STREQ(text, kCopyTooLarge);
    }
    EXPECT_EQ(list.folderCount(), 1u);
}

TEST(EntryList, DotsOnlyNames) {
    const struct {
        const char* name;
        bool dots;
    } cases[] = {{".", true}, {"..", true}, {"...", true}, {"", false}, {".a", false},
                 {"a.", false}, {". .", false}, {"x", false}};
    for (const auto& c : cases) EXPECT_EQ(isDotsOnly(c.name), c.dots) << '"' << c.name << '"';
}

}  // namespace
}  // namespace tw
