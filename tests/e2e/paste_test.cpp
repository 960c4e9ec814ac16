// Pasting blocks that the tests build themselves: what lands on disk, what
// is printed, how the destination text is read, and every failure the
// clipboard, the destination or the file data can cause.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"
#include "paste_blocks.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

RunResult paste(const std::string& dest, const RunOptions& options = {}) {
    return runTarnwick({"/PASTE", dest}, options);
}
RunResult forcePaste(const std::string& dest, const RunOptions& options = {}) {
    return runTarnwick({"/FORCEPASTE", dest}, options);
}

// Reading clipboard..., an empty line, the given lines, an empty line, Done.
Lines pasteOutput(const Lines& body) {
    Lines lines = {"Reading clipboard...", ""};
    lines.insert(lines.end(), body.begin(), body.end());
    lines.push_back("");
    lines.push_back("Done.");
    return lines;
}

// The one warning box of a failed command.
void expectFailure(const RunResult& r, const std::string& message) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u) << r.out;
    EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
    EXPECT_EQ(r.boxes[0].text, message);
    EXPECT_EQ(r.boxes[0].icon, "warning");
    EXPECT_EQ(r.boxes[0].buttons, std::vector<int>{IDOK});
}

void expectSuccess(const RunResult& r) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
}

const uint64_t kOld = 0x01B9A2C3D4E5F607;  // mid-1990s, odd 100-ns digits

std::vector<Entry> sampleTree() {
    std::vector<Entry> t = {
        Entry::folder(-1, "top"),                                          // 0
        Entry::file(0, "empty.txt", ""),                                   // 1
        Entry::file(0, "tiny.txt", "hi"),                                  // 2
        Entry::folder(0, "nested", 0x12),                                  // 3 hidden
        Entry::folder(3, "deeper"),                                        // 4
        Entry::file(4, "text.log", repeatedText(200000), 0x21),            // 5 read-only
        Entry::folder(0, "empty folder"),                                  // 6
        Entry::folder(0, "ro", 0x11),                                      // 7 read-only folder
        Entry::file(7, "inside.bin", randomBytes(5000, 3)),                // 8 incompressible
        Entry::file(0, "hidden.sys", "secret contents here 1234", 0x26),   // 9 hidden, system
        Entry::file(0, "exact16.txt", "0123456789abcdef"),                 // 10
        Entry::file(-1, "loose.dat", randomBytes(100, 7), 0x01),           // 11 read-only only
        Entry::file(-1, "plain", "no attribute bits at all", 0x80),        // 12
    };
    t[5].time = kOld;
    t[8].time = kOld + 1;
    t[11].time = 0x01D0000000000001;
    return t;
}

Lines sampleLines(const std::string& d) {
    return pasteOutput({d + "\\top>", d + "\\top\\empty.txt", d + "\\top\\tiny.txt", d + "\\top\\nested>",
                        d + "\\top\\nested\\deeper>", d + "\\top\\nested\\deeper\\text.log", d + "\\top\\empty folder>",
                        d + "\\top\\ro>", d + "\\top\\ro\\inside.bin", d + "\\top\\hidden.sys", d + "\\top\\exact16.txt",
                        d + "\\loose.dat", d + "\\plain"});
}

TEST(Paste, RebuildsATreeAndLeavesTheBlockOnTheClipboard) {
    const std::vector<Entry> tree = sampleTree();
    const Bytes block = treeBlock(tree);
    // Both kinds of storage occur.
    ASSERT_EQ(block[recordOffsets(block)[5] + 12 + 284], 1);
    ASSERT_EQ(block[recordOffsets(block)[8] + 12 + 284], 0);
    putClipboard("Tarnwick_2", block);
    ClipboardSnapshot before = snapshotClipboard();

    TempDir one, two;
    RunResult r = paste(one.path());
    expectSuccess(r);
    EXPECT_EQ(r.lines, sampleLines(one.path()));
    expectRestored(one.path(), tree);
    EXPECT_TRUE(listDir(one / "top\\empty folder").empty());
    EXPECT_TRUE(snapshotClipboard() == before);

    // The same block again, into another folder.
    RunResult again = forcePaste(two.path());
    expectSuccess(again);
    EXPECT_EQ(again.lines, sampleLines(two.path()));
    expectRestored(two.path(), tree);
    EXPECT_TRUE(snapshotClipboard() == before);
}

TEST(Paste, SingleFileBlock) {
    struct Case {
        const char* what;
        Entry entry;
    } cases[] = {
        {"compressed", Entry::file(-1, "one.txt", repeatedText(3000), 0x21)},
        {"raw", Entry::file(-1, "one.bin", randomBytes(40, 9), 0x02)},
        {"empty", Entry::file(-1, "zero", "")},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.entry.time = kOld;
        putClipboard("Tarnwick_1", singleFileBlock(c.entry));
        TempDir dest;
        RunResult r = paste(dest.path());
        expectSuccess(r);
        EXPECT_EQ(r.lines, pasteOutput({dest / c.entry.name}));
        expectRestored(dest.path(), {c.entry});
        EXPECT_EQ(listDir(dest.path()), Lines{c.entry.name});
    }
    // An empty file's block is exactly its FileInfo.
    EXPECT_EQ(singleFileBlock(Entry::file(-1, "zero", "")).size(), 292u);
}

TEST(Paste, TreeBlockWinsOverTheSingleFileBlock) {
    putClipboard("Tarnwick_1", singleFileBlock(Entry::file(-1, "single.txt", "from the single-file block")));
    addClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "tree.txt", "from the tree block")}));
    TempDir dest;
    RunResult r = paste(dest.path());
    expectSuccess(r);
    EXPECT_EQ(r.lines, pasteOutput({dest / "tree.txt"}));
    EXPECT_EQ(listDir(dest.path()), Lines{"tree.txt"});
}

// Readers go by the length fields, not by the sizes of our own records, and
// ignore padding, the tails of name fields and the header's version byte;
// any negative parent index means top level.
TEST(Paste, ReadsByTheLengthFields) {
    const std::vector<Entry> entries = {Entry::folder(-1, "d", 0x12), Entry::file(0, "f.txt", repeatedText(800)),
                                        Entry::file(-1, "g.bin", randomBytes(50, 3))};
    const Bytes plain = treeBlock(entries);
    const std::vector<size_t> at = recordOffsets(plain);
    const size_t dataAt = 16 + tw::loadU32(&plain[12]);

    // Four junk bytes after the header and after every record.
    Bytes b(plain.begin(), plain.begin() + 16);
    b.insert(b.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    putU32(b, 0, 20);
    b[4] = 99;
    b[5] = b[6] = b[7] = 0x77;
    std::vector<size_t> newAt;
    for (size_t i = 0; i < at.size(); ++i) {
        size_t end = i + 1 < at.size() ? at[i + 1] : dataAt;
        size_t start = b.size();
        newAt.push_back(start);
        b.insert(b.end(), plain.begin() + at[i], plain.begin() + end);
        b.insert(b.end(), {0x55, 0x66, 0x77, 0x88});
        putU32(b, start, uint32_t(end - at[i] + 4));
        b[start + 12 + 200] = 'q';  // after the name's terminator
    }
    putU32(b, 12, uint32_t(b.size() - 20));
    putU32(b, newAt[2] + 4, 0x80000000);  // g.bin's parent: the lowest negative value
    b.insert(b.end(), plain.begin() + dataAt, plain.end());
    putClipboard("Tarnwick_2", b);

    TempDir dest;
    RunResult r = paste(dest.path());
    expectSuccess(r);
    EXPECT_EQ(r.lines, pasteOutput({dest / "d>", dest / "d\\f.txt", dest / "g.bin"}));
    expectRestored(dest.path(), entries);
}

// How the destination text becomes the folder that receives the entries.
TEST(Paste, DestinationText) {
    putClipboard("Tarnwick_2", treeBlock({Entry::folder(-1, "d"), Entry::file(0, "x.txt", "x")}));
    TempDir dest;
    writeFile(dest / "target.tarnwk", "");
    const std::string d = dest.path();
    const Lines expected = pasteOutput({d + "\\d>", d + "\\d\\x.txt"});

    struct Case {
        const char* what;
        std::string text;
    } const cases[] = {
        {"folder", d},
        {"trailing backslash", d + "\\"},
        {"an existing file in it", d + "\\target.tarnwk"},
        {"a missing item in it", d + "\\missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        removeTree(dest / "d");
        RunResult r = paste(c.text);
        expectSuccess(r);
        EXPECT_EQ(r.lines, expected);
        EXPECT_EQ(readFile(dest / "d\\x.txt"), "x");
        EXPECT_FALSE(exists(dest / "missing"));
    }

    // Empty text: the current folder.
    removeTree(dest / "d");
    RunOptions here;
    here.cwd = d;
    RunResult r = paste("", here);
    expectSuccess(r);
    EXPECT_EQ(r.lines, pasteOutput({".\\d>", ".\\d\\x.txt"}));
    EXPECT_EQ(readFile(dest / "d\\x.txt"), "x");

    // A missing item in a missing folder.
    RunResult missing = paste(d + "\\missing\\more");
    expectFailure(missing, "Paste path does not exist.");
    EXPECT_EQ(missing.out, "");
    EXPECT_FALSE(exists(dest / "missing"));
}

TEST(Paste, DestinationLengthLimit) {
    putClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "x.txt", "x")}));
    TempDir dest;
    // A missing item inside the destination, padded to the length wanted.
    auto textOf = [&](size_t length) {
        std::string t = dest.path() + "\\";
        t.append(length - t.size(), 'm');
        return t;
    };
    ASSERT_LT(dest.path().size() + 2, 260u);

    RunResult ok = paste(textOf(260));
    expectSuccess(ok);
    EXPECT_EQ(ok.lines, pasteOutput({dest / "x.txt"}));
    EXPECT_EQ(readFile(dest / "x.txt"), "x");

    // One more character is refused before the clipboard is opened: even
    // with another program holding it, the message is about the path.
    RunResult tooLong;
    {
        ClipboardHolder holder;
        tooLong = paste(textOf(261));
    }
    expectFailure(tooLong, "Paste path too long.");
    EXPECT_EQ(tooLong.out, "");
}

TEST(Paste, DriveRootGivesOneBackslash) {
    const std::string name = "tw-paste-root-" + std::to_string(::GetCurrentProcessId()) + ".txt";
    putClipboard("Tarnwick_1", singleFileBlock(Entry::file(-1, name, "at the root")));
    RunResult r = paste("C:\\");
    expectSuccess(r);
    EXPECT_EQ(r.lines, pasteOutput({"C:\\" + name}));
    EXPECT_EQ(readFile("C:\\" + name), "at the root");
    removeTree("C:\\" + name);
}

TEST(Paste, ClipboardWithoutTarnwickData) {
    TempDir dest;
    const char* const notOurs = "The clipboard does not contain data in Tarnwick format.";
    const struct {
        const char* text;
        const char* message;
    } texts[] = {
        {"just text", notOurs},
        {"An ordinary sentence, longer than a part's first mark.", notOurs},
        {u8"Привет, мир — обычный текст", notOurs},
        {"TARNWICK PARTY tonight, bring snacks", notOurs},
        {"TARNWICK PART of the minutes\r\nsecond line\r\n", "Invalid Tarnwick data."},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.text);
        if (t.text == texts[0].text) putClipboardText(t.text);  // CF_TEXT, as ANSI programs place it
        else putClipboardUnicodeText(t.text);
        RunResult r = paste(dest.path());
        expectFailure(r, t.message);
        EXPECT_EQ(r.lines, Lines{"Reading clipboard..."});
    }

    emptyClipboard();
    RunResult empty = paste(dest.path());
    expectFailure(empty, "The clipboard does not contain data in Tarnwick format.");
    EXPECT_EQ(empty.lines, Lines{"Reading clipboard..."});
    EXPECT_TRUE(listDir(dest.path()).empty());
}

// Another program holds the clipboard from before the paste starts until
// a while after it has said it reads the clipboard. A moment is waited out;
// a program that keeps holding it ends the paste before anything is made.
TEST(Paste, ClipboardHeldByAnotherProgram) {
    putClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "x.txt", "x")}));
    struct Case {
        DWORD heldMs;
        bool pasted;
    } const cases[] = {{200, true}, {5000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heldMs);
        TempDir dest;
        RunResult r;
        {
            ClipboardHolder holder;
            DWORD readingAt = 0;
            RunOptions o;
            o.watch = [&](const std::string& out) {
                if (!readingAt && out.find("Reading clipboard...\n") != std::string::npos) readingAt = ::GetTickCount();
                if (readingAt && ::GetTickCount() - readingAt >= c.heldMs) holder.release();
            };
            r = paste(dest.path(), o);
        }
        if (c.pasted) {
            expectSuccess(r);
            EXPECT_EQ(r.lines, pasteOutput({dest / "x.txt"}));
            EXPECT_EQ(readFile(dest / "x.txt"), "x");
            continue;
        }
        expectFailure(r, "Error opening clipboard.");
        EXPECT_EQ(r.lines, Lines{"Reading clipboard..."});
        EXPECT_TRUE(listDir(dest.path()).empty());
        // Released again: the next paste works.
        expectSuccess(paste(dest.path()));
    }
}

TEST(Paste, FolderStandingWhereAFileGoes) {
    putClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "a.txt", "new"), Entry::file(-1, "b.txt", "b")}));
    struct Case {
        bool force;
        const char* message;
    } const cases[] = {{false, "Error getting file time/size."}, {true, "Error creating file."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.force ? "/FORCEPASTE" : "/PASTE");
        TempDir dest;
        makeDir(dest / "a.txt");
        writeFile(dest / "a.txt\\kept", "kept");
        RunResult r = c.force ? forcePaste(dest.path()) : paste(dest.path());
        expectFailure(r, c.message);
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "a.txt"}));
        EXPECT_TRUE(isDir(dest / "a.txt"));
        EXPECT_EQ(readFile(dest / "a.txt\\kept"), "kept");
        EXPECT_FALSE(exists(dest / "b.txt"));
    }
}

TEST(Paste, FileStandingWhereAFolderGoes) {
    putClipboard("Tarnwick_2", treeBlock({Entry::folder(-1, "sub"), Entry::file(0, "x.txt", "x")}));
    for (bool force : {false, true}) {
        SCOPED_TRACE(force ? "/FORCEPASTE" : "/PASTE");
        TempDir dest;
        writeFile(dest / "sub", "a file");
        RunResult r = force ? forcePaste(dest.path()) : paste(dest.path());
        expectFailure(r, "Error creating directory.");
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "sub>"}));
        EXPECT_EQ(readFile(dest / "sub"), "a file");
    }
}

// File data that fails a check never replaces an existing file's content;
// a confirmed (here: forced) overwrite has already reset its attributes.
TEST(Paste, DamagedFileDataNeverReplacesAFile) {
    struct Case {
        const char* what;
        Entry::Store store;
        std::function<void(Bytes&, size_t info, size_t data)> damage;
        const char* message;
    } const cases[] = {
        {"raw, CRC off", Entry::Raw, [](Bytes& b, size_t i, size_t) { putU32(b, i + 268, tw::loadU32(&b[i + 268]) ^ 1); },
         "CRC failed on file data."},
        {"compressed, CRC off", Entry::Compressed,
         [](Bytes& b, size_t i, size_t) { putU32(b, i + 268, tw::loadU32(&b[i + 268]) + 1); }, "CRC failed on file data."},
        {"compressed, stream damaged", Entry::Compressed,
         // The stream's Adler-32 trailer.
         [](Bytes& b, size_t i, size_t data) { b[data + tw::loadU32(&b[i + 288]) - 1] ^= 0x55; },
         "Error decompressing data."},
        {"compressed, size larger than the stream gives", Entry::Compressed,
         [](Bytes& b, size_t i, size_t) { putU32(b, i + 264, tw::loadU32(&b[i + 264]) + 1); },
         "Incorrect decompressed data length."},
        {"compressed, size smaller than the stream gives", Entry::Compressed,
         [](Bytes& b, size_t i, size_t) { putU32(b, i + 264, tw::loadU32(&b[i + 264]) - 1); }, "Error decompressing data."},
        {"compressed, stream cut short by its stored size", Entry::Compressed,
         [](Bytes& b, size_t i, size_t) { putU32(b, i + 288, tw::loadU32(&b[i + 288]) - 5); }, "Error decompressing data."},
    };
    // Small files are checked in one buffer; above 64 MiB the stream is
    // inflated in pieces, with the same verdicts.
    for (size_t size : {size_t(5000), size_t(64 << 20) + 4096}) {
        for (const Case& c : cases) {
            // Raw bytes are checked where they lie, whatever their size.
            if (size > 5000 && c.store == Entry::Raw) continue;
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(size) + " bytes");
            Entry e = Entry::file(-1, "a.txt", repeatedText(size));
            e.store = c.store;
            Bytes block = treeBlock({e, Entry::file(-1, "later.txt", "later")});
            c.damage(block, recordOffsets(block)[0] + 12, 16 + tw::loadU32(&block[12]));
            putClipboard("Tarnwick_2", block);

            TempDir dest;
            writeFile(dest / "a.txt", "old content");
            setAttributes(dest / "a.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
            RunResult r = forcePaste(dest.path());
            expectFailure(r, c.message);
            EXPECT_EQ(readFile(dest / "a.txt"), "old content");
            EXPECT_EQ(attributes(dest / "a.txt") & 0x07, 0u);
            EXPECT_FALSE(exists(dest / "later.txt"));

            // With nothing in the way, nothing is created.
            TempDir fresh;
            expectFailure(paste(fresh.path()), c.message);
            EXPECT_TRUE(listDir(fresh.path()).empty());
        }
    }
}

// The destination volume fills up while a file is written: the paste ends
// with the write's message, the clipboard and everything written before
// stay as they were, and nothing after it is written. Of the file being
// written there stays what fitted: a file holding the first bytes of its
// content (as many as the volume took), closed, with neither the block's
// time nor its attributes.
TEST(PasteFault, DestinationVolumeFillsUp) {
    const struct {
        const char* what;
        size_t size;
    } cases[] = {
        {"written in one piece", 8 << 20},
        {"inflated and written in pieces", (64 << 20) + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SmallVolume volume(4 << 20);
        if (!volume.ok()) GTEST_SKIP() << "needs root: no small volume: " << volume.error();
        const std::string dest = volume.drive() + "\\dest";
        makeDir(dest);
        writeFile(dest + "\\keep.txt", "keep");
        const std::string content = repeatedText(c.size);
        Entry big = Entry::file(0, "big.txt", content, 0x21);
        const std::vector<Entry> entries = {Entry::folder(-1, "d"), Entry::file(0, "first.bin", randomBytes(1 << 20, 3)),
                                            big, Entry::file(0, "after.txt", "after")};
        putClipboard("Tarnwick_2", treeBlock(entries));
        const ClipboardSnapshot before = snapshotClipboard();

        RunResult r = forcePaste(dest);

        expectFailure(r, "Error writing to file.");
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest + "\\d>", dest + "\\d\\first.bin",
                                  dest + "\\d\\big.txt"}));
        EXPECT_TRUE(snapshotClipboard() == before);
        expectRestored(dest, {entries[0], entries[1]});
        EXPECT_EQ(readFile(dest + "\\keep.txt"), "keep");
        EXPECT_FALSE(exists(dest + "\\d\\after.txt"));
        const std::string partial = readFile(dest + "\\d\\big.txt");
        EXPECT_GT(partial.size(), 0u);
        EXPECT_LT(partial.size(), content.size());
        EXPECT_TRUE(content.compare(0, partial.size(), partial) == 0) << "not the file's first bytes";
        EXPECT_NE(lastWriteTime(dest + "\\d\\big.txt"), big.time);
        EXPECT_EQ(attributes(dest + "\\d\\big.txt") & 0x07, 0u);
        std::printf("[ figures  ] volume full, %s: %zu of %zu bytes of the file stayed\n", c.what, partial.size(),
                    content.size());
    }
}

// A folder on a write-protected volume: the first entry that would write
// there ends the paste with its step's message; what came before stays, and
// so does what the folder held.
TEST(PasteFault, DestinationFolderThatCannotBeWritten) {
    const struct {
        const char* what;
        Entry inside;
        const char* message;
    } cases[] = {
        {"a file", Entry::file(1, "new.txt", repeatedText(3000)), "Error creating file."},
        {"a folder", Entry::folder(1, "sub"), "Error creating directory."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dest;
        makeDir(dest / "ro");
        SmallVolume volume(1 << 20, dest / "ro");
        if (!volume.ok()) GTEST_SKIP() << "needs root: no small volume: " << volume.error();
        writeFile(dest / "ro\\old.txt", "old");
        ASSERT_TRUE(volume.makeReadOnly());
        const std::vector<Entry> entries = {Entry::file(-1, "first.txt", "first"), Entry::folder(-1, "ro"), c.inside,
                                            Entry::file(-1, "last.txt", "last")};
        putClipboard("Tarnwick_2", treeBlock(entries));
        const ClipboardSnapshot before = snapshotClipboard();

        RunResult r = forcePaste(dest.path());

        expectFailure(r, c.message);
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "first.txt", dest / "ro>",
                                  dest / "ro\\" + c.inside.name + (c.inside.kind == Entry::Folder ? ">" : "")}));
        EXPECT_TRUE(snapshotClipboard() == before);
        EXPECT_EQ(readFile(dest / "first.txt"), "first");
        EXPECT_EQ(listDir(dest / "ro"), Lines{"old.txt"});
        EXPECT_EQ(readFile(dest / "ro\\old.txt"), "old");
        EXPECT_FALSE(exists(dest / "last.txt"));
    }
}

// A record of another type is reported; OK skips it and everything beneath
// it, Cancel ends the paste without a further message.
TEST(Paste, UnknownEntryType) {
    Entry other = Entry::file(0, "other", "ignored bytes");
    other.kind = Entry::Other;
    const std::vector<Entry> entries = {
        Entry::folder(-1, "d"),                         // 0
        other,                                          // 1 type 7
        Entry::file(1, "under-other.txt", "no"),        // 2
        Entry::folder(1, "sub-of-other"),               // 3
        Entry::file(3, "deep.txt", "no"),               // 4
        Entry::file(0, "after.txt", repeatedText(900)), // 5 its own bytes
    };
    putClipboard("Tarnwick_2", treeBlock(entries));

    TempDir dest;
    RunOptions ok;
    ok.answer = pressInOrder({IDOK});
    RunResult r = paste(dest.path(), ok);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
    EXPECT_EQ(r.boxes[0].text, "Unknown entry type in Tarnwick data.");
    EXPECT_EQ(r.boxes[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(r.boxes[0].icon, "error");
    EXPECT_EQ(r.lines, pasteOutput({dest / "d>", dest / "d\\after.txt"}));
    EXPECT_EQ(listDir(dest / "d"), Lines{"after.txt"});
    EXPECT_EQ(readFile(dest / "d\\after.txt"), repeatedText(900));

    TempDir cancelled;
    RunOptions cancel;
    cancel.answer = pressInOrder({IDCANCEL});
    RunResult c = paste(cancelled.path(), cancel);
    EXPECT_EQ(c.exitCode, 1u);
    ASSERT_EQ(c.boxes.size(), 1u);
    EXPECT_EQ(c.boxes[0].text, "Unknown entry type in Tarnwick data.");
    EXPECT_EQ(c.lines, (Lines{"Reading clipboard...", "", cancelled / "d>"}));
    EXPECT_TRUE(listDir(cancelled / "d").empty());
}

}  // namespace
}  // namespace e2e
