// The copy command end to end: the real Tarnwick.exe copies files and trees,
// and the block it leaves on the clipboard is read back byte for byte and
// compared with the files on disk; its console output line by line. Trees
// are copied with one packing thread and with several, which must give the
// same block and the same output.
#include <gtest/gtest.h>

#include <functional>

#include "copy_support.h"

namespace e2e {
namespace {

using namespace copytest;

const std::vector<std::string> kOnlyFormatOne = {"Tarnwick_1"};
const std::vector<std::string> kOnlyFormatTwo = {"Tarnwick_2"};

// Something else on the clipboard first, under both of our formats, so that
// a run that leaves stale data behind shows.
void putMarker() {
    putClipboardText("marker");
    addClipboard("Tarnwick_1", Bytes(300, 0xEE));
    addClipboard("Tarnwick_2", Bytes(296, 0xEE));
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Distinct last-write times with sub-second digits, so that a time taken
// from the wrong file or rounded shows.
uint64_t timeFor(int i) { return 130000000000000000ull + uint64_t(i) * 8640001234567ull; }

TEST(CopySingleFile, GoesAloneUnderFormatOne) {
    const struct {
        const char* what;
        Bytes content;
        bool compressed;
    } cases[] = {
        {"text", bytesOf(repeatedText(3000)), true},
        {"empty", {}, false},
        {"15 bytes are never compressed", bytesOf("fifteen bytes!!"), false},
        {"16 bytes are", Bytes(16, 'a'), true},
        {"noise does not shrink", randomBytes(2000, 7), false},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string path = dir / "Notes.TXT";
        writeFile(path, c.content);
        setLastWriteTime(path, timeFor(++i));
        putMarker();
        // Typed in another case: the record takes the name as stored.
        std::string typed = dir / "notes.txt";
        RunResult r = runTarnwick({typed});

        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_TRUE(r.boxes.empty());
        EXPECT_EQ(clipboardFormats(), kOnlyFormatOne);
        std::optional<Bytes> block = getClipboard("Tarnwick_1");
        ASSERT_TRUE(block);
        Record rec = readSingle(*block);
        expectFileMatches(rec, path, "Notes.TXT");
        EXPECT_EQ(rec.flag, c.compressed ? 1 : 0);
        if (c.content.empty()) {
            EXPECT_EQ(block->size(), 292u);
        }
        uint32_t size = uint32_t(c.content.size());
        EXPECT_EQ(r.lines, concat({fileLine(typed, size, rec.stored)}, tail(1, size, rec.stored)));
        if (!c.compressed && size) {
            EXPECT_NE(r.lines[0].find("(100.00%)"), std::string::npos);
        }
    }
}

TEST(CopyTreeBlock, EmptyFolderIsATreeOfOne) {
    TempDir dir;
    std::string path = dir / "Empty Folder";
    makeDir(path);
    putMarker();
    RunResult r = runTarnwick({path});

    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(clipboardFormats(), kOnlyFormatTwo);
    Bytes block = getClipboard("Tarnwick_2").value_or(Bytes());
    ASSERT_EQ(block.size(), 296u);
    Tree t = readTree(block);
    EXPECT_EQ(t.headerLength, 16u);
    EXPECT_EQ(t.version, 2);
    EXPECT_EQ(t.count, 1u);
    EXPECT_EQ(t.recordArea, 280u);
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].length, 280u);
    EXPECT_EQ(t.records[0].parent, -1);
    EXPECT_EQ(t.records[0].type, 1u);
    EXPECT_EQ(t.records[0].name, "Empty Folder");
    EXPECT_EQ(t.records[0].attributes, attributes(path));
    EXPECT_EQ(r.lines, concat({path + ">"}, tail(0, 0, 0)));
}

TEST(CopyTreeBlock, TwoEmptyFilesHaveNoDataAndNoTotals) {
    TempDir dir;
    writeFile(dir / "a", "");
    writeFile(dir / "b.txt", "");
    putMarker();
    RunResult r = runTarnwick({dir / "a", dir / "b.txt"});

    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(clipboardFormats(), kOnlyFormatTwo);
    Bytes block = getClipboard("Tarnwick_2").value_or(Bytes());
    ASSERT_EQ(block.size(), 624u);
    Tree t = readTree(block);
    EXPECT_EQ(t.count, 2u);
    EXPECT_EQ(t.recordArea, 608u);
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.offsets, (std::vector<uint32_t>{16, 320}));
    for (const Record& rec : t.records) {
        EXPECT_EQ(rec.parent, -1);
        EXPECT_EQ(rec.length, 304u);
    }
    expectFileMatches(t.records[0], dir / "a", "a");
    expectFileMatches(t.records[1], dir / "b.txt", "b.txt");
    EXPECT_EQ(r.lines, concat({dir / "a: 0 bytes", dir / "b.txt: 0 bytes"}, tail(2, 0, 0)));
}

TEST(CopyTreeBlock, SameFileTwiceIsTwoTopLevelRecords) {
    TempDir dir;
    std::string path = dir / "twice.txt";
    writeFile(path, repeatedText(700));
    RunResult r = runTarnwick({path, path});

    EXPECT_EQ(r.exitCode, 0u);
    Tree t = readTree(getClipboard("Tarnwick_2").value_or(Bytes()));
    ASSERT_EQ(t.records.size(), 2u);
    for (const Record& rec : t.records) {
        EXPECT_EQ(rec.parent, -1);
        expectFileMatches(rec, path, "twice.txt");
    }
    uint32_t stored = t.records[0].stored;
    std::string line = fileLine(path, 700, stored);
    EXPECT_EQ(r.lines, concat({line, line}, tail(2, 1400, 2 * stored)));
}

TEST(CopyTreeBlock, OneFolderWithOneFileHasNoTotalsLine) {
    TempDir dir;
    makeDir(dir / "f");
    writeFile(dir / "f\\only.txt", repeatedText(900));
    RunResult r = runTarnwick({dir / "f"});

    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(clipboardFormats(), kOnlyFormatTwo);
    Tree t = readTree(getClipboard("Tarnwick_2").value_or(Bytes()));
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[1].parent, 0);
    expectFileMatches(t.records[1], dir / "f\\only.txt", "only.txt");
    EXPECT_EQ(r.lines, concat({dir / "f>", fileLine(dir / "f\\only.txt", 900, t.records[1].stored)}, tail(1, 900, 0)));
}

// What the block should hold for a walk: one row per entry in pre-order,
// in the order the directory search lists each folder.
struct Expected {
    std::string shown;  // the path as the progress line shows it
    std::string real;   // where it is
    std::string name;
    int32_t parent;
    bool folder;
};

void expectWalk(const std::string& shown, const std::string& real, const std::string& name, int32_t parent,
                std::vector<Expected>& out) {
    bool folder = isDir(real);
    out.push_back({shown, real, name, parent, folder});
    if (!folder) return;
    int32_t self = int32_t(out.size() - 1);
    for (const std::string& child : listDir(real)) {
        if (child.find_first_not_of('.') == std::string::npos) continue;
        expectWalk(shown + "\\" + child, real + "\\" + child, child, self, out);
    }
}

TEST(CopyTreeBlock, MixedTreeByteForByte) {
    TempDir dir;
    UnixEntries unix;
    std::string tree = dir / "Tree";
    makeDir(tree);
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"small.txt", bytesOf("fifteen bytes!!")},
        {"sixteen.txt", Bytes(16, 'a')},
        {"noise.bin", randomBytes(3000, 3)},
        {"Text.Log", bytesOf(repeatedText(60000))},
        {"empty.dat", {}},
        {"Hidden.txt", bytesOf("hidden file")},
        {"System.sys", bytesOf(repeatedText(100))},
        {".profile", bytesOf("dot first, not dots only")},
        {"Sub\\inner.txt", bytesOf(repeatedText(1000))},
        {"Hidden Folder\\h.txt", bytesOf("x")},
    };
    makeDir(tree + "\\Sub");
    makeDir(tree + "\\Sub\\Deep");
    makeDir(tree + "\\Hidden Folder");
    int i = 0;
    for (const auto& f : files) {
        writeFile(tree + "\\" + f.first, f.second);
        setLastWriteTime(tree + "\\" + f.first, timeFor(++i));
    }
    setAttributes(tree + "\\Hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    setAttributes(tree + "\\System.sys", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    setAttributes(tree + "\\Hidden Folder", FILE_ATTRIBUTE_HIDDEN);
    unix.file(tree + "\\Sub\\...", "a name of dots only");
    std::vector<std::string> subNames = listDir(tree + "\\Sub");
    ASSERT_NE(std::find(subNames.begin(), subNames.end(), "..."), subNames.end()) << "the search must report it";
    std::string single = dir / "z.bin";
    writeFile(single, randomBytes(100, 9));

    // A relative path, typed in lower case, then an absolute one.
    RunOptions options;
    options.cwd = dir.path();
    RunResult r = runEachThreadCount({"tree", single}, putMarker, options);
    ASSERT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(clipboardFormats(), kOnlyFormatTwo);

    std::vector<Expected> want;
    expectWalk("tree", tree, "Tree", -1, want);
    expectWalk(single, single, "z.bin", -1, want);
    ASSERT_EQ(want.size(), 15u);  // 4 folders, 11 files

    Bytes block = getClipboard("Tarnwick_2").value_or(Bytes());
    Tree t = readTree(block);
    EXPECT_EQ(t.headerLength, 16u);
    EXPECT_EQ(t.version, 2);
    EXPECT_EQ(t.count, want.size());
    EXPECT_EQ(t.recordArea, 11u * 304 + 4 * 280);
    ASSERT_EQ(t.records.size(), want.size());

    std::vector<std::string> lines;
    uint32_t files_ = 0, total = 0, stored = 0, offset = 16;
    for (size_t k = 0; k < want.size(); ++k) {
        const Record& rec = t.records[k];
        const Expected& w = want[k];
        SCOPED_TRACE(w.shown);
        EXPECT_EQ(t.offsets[k], offset);
        offset += w.folder ? 280 : 304;
        EXPECT_EQ(rec.length, w.folder ? 280u : 304u);
        EXPECT_EQ(rec.parent, w.parent);
        if (w.folder) {
            EXPECT_EQ(rec.type, 1u);
            EXPECT_EQ(rec.name, w.name);
            EXPECT_EQ(rec.attributes, attributes(w.real));
            lines.push_back(w.shown + ">");
        } else {
            expectFileMatches(rec, w.real, w.name);
            lines.push_back(fileLine(w.shown, rec.size, rec.stored));
            ++files_;
            total += rec.size;
            stored += rec.stored;
        }
    }
    EXPECT_EQ(block.size(), 16u + t.recordArea + stored);
    EXPECT_EQ(r.lines, concat(lines, tail(files_, total, stored)));

    // The cases the walk above does not single out.
    auto find = [&](const std::string& name) -> const Record& {
        for (const Record& rec : t.records)
            if (rec.name == name) return rec;
        static const Record none;
        ADD_FAILURE() << "no record " << name;
        return none;
    };
    EXPECT_EQ(find("small.txt").flag, 0);
    EXPECT_EQ(find("sixteen.txt").flag, 1);
    EXPECT_EQ(find("noise.bin").flag, 0);
    EXPECT_EQ(find("Text.Log").flag, 1);
    EXPECT_TRUE(find("Hidden.txt").attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(find("System.sys").attributes & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(find("Hidden Folder").attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(find("Deep").type, 1u);
    for (const Record& rec : t.records) EXPECT_NE(rec.name, "...");
    EXPECT_EQ(r.out.find("\\...\n"), std::string::npos);
    EXPECT_EQ(r.out.find("\\...:"), std::string::npos);
}

// Files that take long to pack ahead of many that take none, so that with
// several threads the later files are packed first, and a stretch of more
// folders than may wait behind them: the block and the lines still follow
// the walk.
TEST(CopyTreeBlock, ManyFilesKeepTheWalkOrderWhateverThePacking) {
    TempDir dir;
    std::string tree = dir / "many";
    makeDir(tree);
    int made = 0;
    for (int folder = 0; folder < 4; ++folder) {
        std::string sub = tree + "\\part" + std::to_string(folder);
        makeDir(sub);
        writeFile(sub + "\\slow.txt", wordText(1500000 + 300000 * folder, folder + 1));
        for (int i = 0; i < 30; ++i, ++made) {
            size_t n = made % 7 == 0 ? 0 : made % 5 == 0 ? 9 : 100 + 37 * made;
            writeFile(sub + "\\f" + std::to_string(i) + (made % 3 ? ".txt" : ".bin"),
                      made % 3 ? bytesOf(wordText(n, made + 9)) : randomBytes(n, made + 9));
        }
    }
    makeDir(tree + "\\part2\\nested");
    writeFile(tree + "\\part2\\nested\\last.txt", repeatedText(5000));
    makeDir(tree + "\\part3\\stretch");
    for (int i = 0; i < 400; ++i) makeDir(tree + "\\part3\\stretch\\s" + std::to_string(i));

    RunResult r = runEachThreadCount({tree}, putMarker);
    ASSERT_EQ(r.exitCode, 0u) << r.out;
    std::vector<Expected> want;
    expectWalk(tree, tree, "many", -1, want);
    ASSERT_EQ(want.size(), 1u + 4 + 4 * 31 + 1 + 1 + 1 + 400);
    Tree t = readTree(getClipboard("Tarnwick_2").value_or(Bytes()));
    ASSERT_EQ(t.records.size(), want.size());
    std::vector<std::string> lines;
    uint32_t files = 0, total = 0, stored = 0;
    for (size_t k = 0; k < want.size(); ++k) {
        const Record& rec = t.records[k];
        SCOPED_TRACE(want[k].shown);
        EXPECT_EQ(rec.parent, want[k].parent);
        if (want[k].folder) {
            EXPECT_EQ(rec.name, want[k].name);
            lines.push_back(want[k].shown + ">");
            continue;
        }
        expectFileMatches(rec, want[k].real, want[k].name);
        lines.push_back(fileLine(want[k].shown, rec.size, rec.stored));
        ++files;
        total += rec.size;
        stored += rec.stored;
    }
    lines = concat(lines, tail(files, total, stored));
    ASSERT_EQ(r.lines.size(), lines.size()) << r.out;
    for (size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(r.lines[k], lines[k]);
}

}  // namespace
}  // namespace e2e
