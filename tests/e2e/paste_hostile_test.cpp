// Blocks that another program could have put on the clipboard: lengths
// that run past the block, parents that point forward, names that would
// leave the destination. Each ends with a clear message and exit code 1,
// without a crash or a hang, with what came before the bad record restored
// and nothing written outside the destination.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "paste_blocks.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

const char kInvalid[] = "Invalid Tarnwick data.";

// root\dest receives the paste; root\sentinel beside it must stay as it is.
// The paste runs with the sentinel as its current folder, so anything that
// a name resolved against the current folder would show up there.
class Scene {
public:
    Scene() : dest(root / "dest"), sentinel(root / "sentinel") {
        makeDir(dest);
        makeDir(sentinel);
        writeFile(sentinel + "\\keep.txt", "keep");
    }

    RunResult paste(const char* format, const Bytes& block, bool force = true) {
        putClipboard(format, block);
        ClipboardSnapshot before = snapshotClipboard();
        RunOptions o;
        o.cwd = sentinel;
        o.timeoutMs = 60000;
        RunResult r = runTarnwick({force ? "/FORCEPASTE" : "/PASTE", dest}, o);
        // Read in place, never changed or taken off the clipboard.
        EXPECT_TRUE(snapshotClipboard() == before);
        return r;
    }

    Lines destNames() const {
        Lines names = listDir(dest);
        std::sort(names.begin(), names.end());
        return names;
    }

    void expectNothingOutside() const {
        Lines names = listDir(root.path());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (Lines{"dest", "sentinel"}));
        EXPECT_EQ(listDir(sentinel), Lines{"keep.txt"});
        EXPECT_EQ(readFile(sentinel + "\\keep.txt"), "keep");
        for (const std::string& probe : {root / "..\\tw-evil", std::string("C:\\tw-evil"), std::string("Z:\\tw-evil"),
                                         std::string("Z:\\tmp\\tw-evil")})
            EXPECT_FALSE(exists(probe)) << probe;
    }

    TempDir root;
    const std::string dest, sentinel;
};

void expectRefused(const RunResult& r, const std::string& message) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u) << r.out;
    EXPECT_EQ(r.boxes[0].text, message);
    EXPECT_EQ(r.boxes[0].icon, "warning");
}

// Names that are not one plain path component. Several carry "tw-evil" so
// that a file or folder they made anywhere nearby would be found.
std::vector<std::string> unsafeNames() {
    return {"",
            ".",
            "..",
            "...",
            "..\\tw-evil",
            "..\\..\\tw-evil",
            "..\\sentinel\\tw-evil",
            "\\tw-evil",
            "/tw-evil",
            "../tw-evil",
            "..",
            "Z:\\tw-evil",
            "C:tw-evil",
            "tw-evil:stream",
            std::string("tw\x01") + "evil",
            "tw\tevil",
            "tw<evil",
            "tw>evil",
            "tw\"evil",
            "tw|evil",
            "tw?evil",
            "tw*evil",
            "tw-evil.",
            "tw-evil ",
            "CON",
            "prn.txt",
            "Aux",
            "nul",
            "COM1",
            "com9.txt",
            "LPT1",
            "lpt0",
            "CONIN$",
            "conout$",
            "nul .txt"};
}

// Each unsafe name as a folder (with a file inside) and as a file, after a
// sound folder and file that must stay.
void pasteUnsafeNames(bool asFolder) {
    for (const std::string& name : unsafeNames()) {
        {
            SCOPED_TRACE(testing::PrintToString(name) + (asFolder ? " as a folder" : " as a file"));
            std::vector<Entry> entries = {Entry::folder(-1, "ok"), Entry::file(0, "a.txt", "a")};
            if (asFolder) {
                entries.push_back(Entry::folder(-1, name));
                entries.push_back(Entry::file(2, "tw-evil", "evil"));
            } else {
                entries.push_back(Entry::file(-1, name, "evil"));
            }
            Scene s;
            RunResult r = s.paste("Tarnwick_2", treeBlock(entries));
            expectRefused(r, kInvalid);
            // Refused before anything of the record was printed or written.
            EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", s.dest + "\\ok>", s.dest + "\\ok\\a.txt"}));
            EXPECT_EQ(s.destNames(), Lines{"ok"});
            EXPECT_EQ(readFile(s.dest + "\\ok\\a.txt"), "a");
            s.expectNothingOutside();
        }
    }
}

TEST(HostileNames, FolderNames) { pasteUnsafeNames(true); }
TEST(HostileNames, FileNames) { pasteUnsafeNames(false); }

TEST(HostileNames, NameWithoutTerminator) {
    Bytes block = treeBlock({Entry::folder(-1, "ok"), Entry::file(-1, "x", "x")});
    std::fill_n(&block[recordOffsets(block)[1] + 12], tw::kNameField, 'n');
    Scene s;
    expectRefused(s.paste("Tarnwick_2", block), kInvalid);
    EXPECT_EQ(s.destNames(), Lines{"ok"});
    s.expectNothingOutside();
}

TEST(HostileNames, SingleFileBlock) {
    for (const std::string& name : {std::string(".."), std::string("..\\tw-evil"), std::string("CON"),
                                    std::string("Z:\\tw-evil"), std::string(""), std::string("tw-evil.")}) {
        SCOPED_TRACE(name);
        Scene s;
        RunResult r = s.paste("Tarnwick_1", singleFileBlock(Entry::file(-1, name, "evil")));
        expectRefused(r, kInvalid);
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", ""}));
        EXPECT_TRUE(s.destNames().empty());
        s.expectNothingOutside();
    }
}

// A sound tree, then damaged one field at a time.
const std::vector<Entry>& baseTree() {
    static const std::vector<Entry> tree = [] {
        std::vector<Entry> t = {
            Entry::folder(-1, "ok"),                         // 0
            Entry::file(0, "a.txt", "aaa"),                  // 1 raw
            Entry::folder(-1, "b"),                          // 2
            Entry::file(2, "c.bin", randomBytes(100, 4)),    // 3 raw
            Entry::file(-1, "z.txt", repeatedText(2000)),    // 4 compressed
        };
        return t;
    }();
    return tree;
}

TEST(HostileStructure, TreeBlockLengthsAndParents) {
    const Bytes good = treeBlock(baseTree());
    const std::vector<size_t> at = recordOffsets(good);
    ASSERT_EQ(good[at[4] + 12 + 284], 1);  // z.txt is stored compressed
    auto patched = [&](size_t offset, uint32_t value) {
        Bytes b = good;
        putU32(b, offset, value);
        return b;
    };
    Bytes wrapped = patched(0, 0x80000000);
    putU32(wrapped, 12, 0x80000000);  // header + area = 2^32

    struct Case {
        const char* what;
        Bytes block;
        Lines restored;  // what stands in dest afterwards
    } const cases[] = {
        {"shorter than a header", Bytes(good.begin(), good.begin() + 10), {}},
        {"header length below 16", patched(0, 8), {}},
        {"header length past the end", patched(0, 0xFFFFFFF0), {}},
        {"record area past the end", patched(12, uint32_t(good.size())), {}},
        {"record area near 4 GiB", patched(12, 0xFFFFFFFF), {}},
        {"header and area wrap 32 bits", wrapped, {}},
        {"more entries than records", patched(8, 6), {"b", "ok", "z.txt"}},
        {"entry count near 4 GiB", patched(8, 0xFFFFFFFF), {"b", "ok", "z.txt"}},
        {"record length zero", patched(at[1], 0), {"ok"}},
        {"file record shorter than a file record", patched(at[1], 280), {"ok"}},
        {"folder record shorter than a folder record", patched(at[2], 276), {"ok"}},
        {"record runs past the record area", patched(at[4], 400), {"b", "ok"}},
        {"parent equal to its own index", patched(at[2] + 4, 2), {"ok"}},
        {"parent after its own index", patched(at[1] + 4, 3), {"ok"}},
        {"stored bytes past the end", patched(at[4] + 12 + 288, 1000000), {"b", "ok"}},
        {"raw size past the end", patched(at[3] + 12 + 264, 0x7FFFFFFF), {"b", "ok"}},
        {"stored size near 4 GiB moves later bytes away", patched(at[1] + 12 + 288, 0xFFFFFFFF), {"b", "ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene s;
        RunResult r = s.paste("Tarnwick_2", c.block);
        expectRefused(r, kInvalid);
        EXPECT_EQ(s.destNames(), c.restored);
        s.expectNothingOutside();
    }
}

TEST(HostileStructure, SingleFileBlockLengths) {
    Entry raw = Entry::file(-1, "one.bin", randomBytes(64, 2));
    Entry packed = Entry::file(-1, "one.txt", repeatedText(5000));
    const Bytes goodRaw = singleFileBlock(raw);
    const Bytes goodPacked = singleFileBlock(packed);
    ASSERT_EQ(goodPacked[284], 1);
    auto patched = [](Bytes b, size_t offset, uint32_t value) {
        putU32(b, offset, value);
        return b;
    };
    struct Case {
        const char* what;
        Bytes block;
    } const cases[] = {
        {"shorter than a FileInfo", Bytes(goodRaw.begin(), goodRaw.begin() + 291)},
        {"raw bytes cut short", Bytes(goodRaw.begin(), goodRaw.end() - 1)},
        {"stored bytes cut short", Bytes(goodPacked.begin(), goodPacked.end() - 1)},
        {"raw size near 4 GiB", patched(goodRaw, 264, 0xFFFFFFFF)},
        {"stored size near 4 GiB", patched(goodPacked, 288, 0xFFFFFFFF)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene s;
        expectRefused(s.paste("Tarnwick_1", c.block), kInvalid);
        EXPECT_TRUE(s.destNames().empty());
        s.expectNothingOutside();
    }
}

// A size that no buffer can hold is a clear message, not a crash, and the
// same one in the 32-bit and the x64 build: nothing is allocated for it.
// A compressed file that claims more than its stream could ever inflate to
// (1032 times the stored size) is refused before anything of it is printed;
// one whose stream is long enough to claim it is inflated in pieces and
// found short.
TEST(HostileStructure, HugeUncompressedSize) {
    const Entry text = Entry::file(-1, "big.txt", repeatedText(5000));
    Entry noise = Entry::file(-1, "noise.bin", randomBytes(4200000, 9));
    noise.store = Entry::Compressed;  // 4.2 MB of stream: may claim 4 GiB
    auto single = [](const Entry& e, uint32_t size) {
        Bytes b = singleFileBlock(e);
        putU32(b, 264, size);
        return b;
    };
    auto tree = [](const Entry& last, uint32_t size) {
        std::vector<Entry> entries = baseTree();
        entries.back() = last;
        Bytes b = treeBlock(entries);
        putU32(b, recordOffsets(b)[4] + 12 + 264, size);
        return b;
    };
    const uint32_t textStored = tw::loadU32(&singleFileBlock(text)[288]);
    struct Case {
        const char* what;
        const char* format;
        Bytes block;
        const char* message;
        Lines restored;
    } const cases[] = {
        {"4 GiB from a short stream", "Tarnwick_1", single(text, 0xFFFFFFF0), kInvalid, {}},
        {"one byte more than the stream could give", "Tarnwick_1", single(text, textStored * 1032 + 1), kInvalid, {}},
        {"4 GiB from a short stream, in a tree", "Tarnwick_2", tree(text, 0xFFFFFFF0), kInvalid, {"b", "ok"}},
        {"4 GiB from a stream that could give it", "Tarnwick_1", single(noise, 0xFFFFFFF0),
         "Incorrect decompressed data length.", {}},
        {"the same in a tree", "Tarnwick_2", tree(noise, 0xFFFFFFF0), "Incorrect decompressed data length.",
         {"b", "ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scene s;
        RunResult r = s.paste(c.format, c.block);
        expectRefused(r, c.message);
        EXPECT_EQ(s.destNames(), c.restored);
        // A forged size is refused before the path is printed; a stream
        // found short was printed, then checked.
        const std::string last = r.lines.empty() ? "" : r.lines.back();
        EXPECT_EQ(last.find("big.txt"), std::string::npos);
        EXPECT_EQ(last == s.dest + "\\noise.bin", std::string(c.message) != kInvalid);
        s.expectNothingOutside();
    }
}

// Blocks too short for anything, under either format.
TEST(HostileStructure, TinyBlocks) {
    for (const char* format : {"Tarnwick_1", "Tarnwick_2"}) {
        for (size_t length : {1u, 15u}) {
            SCOPED_TRACE(std::string(format) + ", " + std::to_string(length) + " bytes");
            Scene s;
            RunResult r = s.paste(format, Bytes(length, 0x10));
            expectRefused(r, kInvalid);
            EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", ""}));
            EXPECT_TRUE(s.destNames().empty());
            s.expectNothingOutside();
        }
    }
}

// A folder that the user declines to merge may hold a subtree of any depth;
// its rows keep no paths, so a deep chain of long names costs nothing.
TEST(HostileStructure, DeepSkippedSubtree) {
    std::vector<Entry> entries = {Entry::folder(-1, "d")};
    const std::string longName(250, 'n');
    for (int i = 0; i < 5000; ++i) entries.push_back(Entry::folder(int32_t(i), longName));
    entries.push_back(Entry::file(5000, "deep.txt", "deep"));
    entries.push_back(Entry::file(-1, "after.txt", "after"));
    Scene s;
    makeDir(s.dest + "\\d");
    putClipboard("Tarnwick_2", treeBlock(entries));
    RunOptions o;
    o.answer = pressInOrder({IDNO});
    o.timeoutMs = 60000;
    RunResult r = runTarnwick({"/PASTE", s.dest}, o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", s.dest + "\\d>", s.dest + "\\after.txt", "", "Done."}));
    EXPECT_TRUE(listDir(s.dest + "\\d").empty());
    EXPECT_EQ(readFile(s.dest + "\\after.txt"), "after");
}

}  // namespace
}  // namespace e2e
