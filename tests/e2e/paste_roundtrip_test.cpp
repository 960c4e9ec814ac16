// Copy, then paste: what arrives equals what was copied, names, bytes,
// last-write times and the attribute bits a paste restores, for the tree
// block and the single-file block, and the block can be pasted again.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "paste_blocks.h"
#include "tree_compare.h"

namespace e2e {
namespace {

const uint64_t kOld = 0x01A1B2C3D4E5F6A7;  // the late 1970s, odd 100-ns digits

// src\top with nested and empty folders and every kind of file, and
// src\loose.dat beside it.
void makeSource(const std::string& src) {
    const std::string top = src + "\\top";
    makeDir(top);
    makeDir(top + "\\nested");
    makeDir(top + "\\nested\\deeper");
    makeDir(top + "\\nested\\deeper\\deepest");
    makeDir(top + "\\empty");
    makeDir(top + "\\nested\\also empty");
    writeFile(top + "\\empty.txt", "");
    writeFile(top + "\\tiny.txt", "x");
    writeFile(top + "\\fifteen.txt", "123456789012345");
    writeFile(top + "\\compressible.log", repeatedText(300000));
    writeFile(top + "\\nested\\incompressible.bin", randomBytes(70000, 21));
    writeFile(top + "\\nested\\deeper\\deepest\\bottom.txt", repeatedText(1000));
    writeFile(top + "\\nested\\read-only.txt", "do not touch");
    writeFile(top + "\\nested\\hidden.txt", "hidden");
    writeFile(top + "\\nested\\system.txt", repeatedText(40));
    writeFile(top + "\\nested\\all bits.txt", "read-only, hidden, system, archive");
    writeFile(src + "\\loose.dat", randomBytes(333, 8));
    setLastWriteTime(top + "\\compressible.log", kOld);
    setLastWriteTime(top + "\\nested\\incompressible.bin", kOld + 12345);
    setLastWriteTime(top + "\\empty.txt", kOld + 1);
    setLastWriteTime(src + "\\loose.dat", 0x01D9ABCDEF012345);
    setAttributes(top + "\\nested\\read-only.txt", FILE_ATTRIBUTE_READONLY);
    setAttributes(top + "\\nested\\hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    setAttributes(top + "\\nested\\system.txt", FILE_ATTRIBUTE_SYSTEM);
    setAttributes(top + "\\nested\\all bits.txt", 0x27);
    setAttributes(top + "\\nested\\deeper", FILE_ATTRIBUTE_HIDDEN);
}

RunResult copy(const std::vector<std::string>& paths) {
    RunResult r = runTarnwick(paths);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(r.boxes.empty());
    return r;
}

void expectPasted(const RunResult& r, size_t entries) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(r.boxes.empty());
    // Reading clipboard..., an empty line, a line per entry, an empty line, Done.
    ASSERT_EQ(r.lines.size(), entries + 4) << r.out;
    EXPECT_EQ(r.lines[0], "Reading clipboard...");
    EXPECT_EQ(r.lines[1], "");
    EXPECT_EQ(r.lines[entries + 2], "");
    EXPECT_EQ(r.lines[entries + 3], "Done.");
}

TEST(RoundTrip, TreeOfEveryKindOfEntry) {
    TempDir src, one, two;
    makeSource(src.path());
    copy({src / "top", src / "loose.dat"});
    ASSERT_TRUE(getClipboard("Tarnwick_2").has_value());
    // A tree of plain-ASCII names has no exact names beside its block.
    EXPECT_FALSE(getClipboard("Tarnwick_Names").has_value());
    ClipboardSnapshot copied = snapshotClipboard();

    RunResult r = runTarnwick({"/PASTE", one.path()});
    size_t entries = expectSameTree(src.path(), one.path());
    EXPECT_EQ(entries, 17u);
    expectPasted(r, entries);
    EXPECT_TRUE(snapshotClipboard() == copied);

    // The same clipboard again, into another folder.
    RunResult again = runTarnwick({"/FORCEPASTE", two.path()});
    expectSameTree(src.path(), two.path());
    expectPasted(again, entries);
    EXPECT_TRUE(snapshotClipboard() == copied);
}

TEST(RoundTrip, SingleFiles) {
    const std::string text = repeatedText(100000);
    const std::string large = repeatedText((64 << 20) + 1);
    struct Case {
        const char* name;
        Bytes content;
        DWORD attributes;
    } const cases[] = {
        {"empty.txt", Bytes(), FILE_ATTRIBUTE_ARCHIVE},
        {"tiny.txt", Bytes{'a', 'b'}, FILE_ATTRIBUTE_READONLY},
        {"text.txt", Bytes(text.begin(), text.end()), FILE_ATTRIBUTE_HIDDEN},
        {"noise.bin", randomBytes(4096, 77), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
        // Above 64 MiB: inflated in pieces, twice.
        {"large.txt", Bytes(large.begin(), large.end()), FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir src, dest;
        writeFile(src / c.name, c.content);
        setLastWriteTime(src / c.name, kOld + 777);
        setAttributes(src / c.name, c.attributes);
        copy({src / c.name});
        ASSERT_TRUE(getClipboard("Tarnwick_1").has_value());
        ASSERT_FALSE(getClipboard("Tarnwick_2").has_value());
        RunResult r = runTarnwick({"/PASTE", dest.path()});
        EXPECT_EQ(expectSameTree(src.path(), dest.path()), 1u);
        expectPasted(r, 1);
        EXPECT_EQ(r.lines[2], dest / c.name);
    }
}

#ifdef TW_PEER_BIN_DIR_UNIX
// The x64 build and the 32-bit one write the same bytes for the same tree,
// exact names beside it included, and each pastes what the other copied.
// Built in the x64 tree on every machine, so that where the 32-bit build
// cannot run the skip is listed among the tests that did not run.
TEST(RoundTrip, AcrossBuilds) {
    if (!peerRuns()) GTEST_SKIP() << "this machine does not run the 32-bit build (TW_PEER_RUNS is OFF)";
    TempDir src;
    makeSource(src.path());
    writeFile(src / u8"top\\Отчёт 😀.txt", "exact names travel beside the block");
    const std::vector<std::string> paths = {src / "top", src / "loose.dat"};
    struct Build {
        const char* name;
        std::string exe;
    } const builds[] = {{"x64", tarnwickExe()}, {"32-bit", peerTarnwickExe()}};
    std::optional<Bytes> blocks[2], names[2];
    for (int copier = 0; copier < 2; ++copier) {
        SCOPED_TRACE(std::string("copied by the ") + builds[copier].name + " build");
        RunResult c = run(builds[copier].exe, paths);
        ASSERT_EQ(c.exitCode, 0u) << c.out;
        blocks[copier] = getClipboard("Tarnwick_2");
        names[copier] = getClipboard("Tarnwick_Names");
        ASSERT_TRUE(blocks[copier].has_value() && names[copier].has_value());
        TempDir dest;
        RunResult p = run(builds[1 - copier].exe, {"/FORCEPASTE", dest.path()});
        expectPasted(p, expectSameTree(src.path(), dest.path()));
    }
    EXPECT_TRUE(*blocks[0] == *blocks[1]) << "blocks of " << blocks[0]->size() << " and " << blocks[1]->size()
                                          << " bytes differ";
    EXPECT_TRUE(*names[0] == *names[1]);
}
#endif

}  // namespace
}  // namespace e2e
