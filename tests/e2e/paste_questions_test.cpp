// The merge and overwrite questions: their texts byte for byte, their
// buttons, icon and default button, and what Yes, No and Cancel do.
// /FORCEPASTE asks nothing.
#include <gtest/gtest.h>

#include "harness.h"
#include "paste_blocks.h"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

const uint64_t kT = 0x01D5000000000000;  // some time in 2019
const uint64_t kHour = 36000000000ull;
const uint64_t kDay = 24 * kHour;

// The button drawn as the default one. Wine's message box keeps answering
// DM_GETDEFID with its template's IDOK, so the push-button style is what
// tells; it is read while the box is still up.
int defaultPushButton(const Box& box) {
    for (int id : box.buttons) {
        LONG style = ::GetWindowLongA(::GetDlgItem(box.hwnd, id), GWL_STYLE);
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return id;
    }
    return 0;
}

struct Pasted {
    RunResult run;
    std::vector<int> defaults;  // default button of each box, in order
};

Pasted paste(const std::string& dest, std::vector<int> answers) {
    auto defaults = std::make_shared<std::vector<int>>();
    Answer next = pressInOrder(std::move(answers));
    RunOptions o;
    o.answer = [defaults, next](const Box& box) {
        defaults->push_back(defaultPushButton(box));
        return next(box);
    };
    Pasted p;
    p.run = runTarnwick({"/PASTE", dest}, o);
    p.defaults = *defaults;
    return p;
}

std::string joinLines(const Lines& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return text;
}

std::string mergeQuestion(const std::string& path) {
    return joinLines({"The directory", "", path, "", "already exists.", "",
                      "Do you want to merge any contents of the directory being copied",
                      "with those of the existing one?",
                      "(You will still be prompted to overwrite each existing file or subdirectory.)"});
}

struct Side {
    std::string size;  // size text
    uint64_t time;
};

// The eleven lines of the overwrite question.
std::string overwriteQuestion(const std::string& path, bool readOnly, const Side& existing, const Side& pasted,
                              const std::string& timeWord, const std::string& sizeWord) {
    return joinLines({"The file", "", path, "",
                      std::string("already exists") + (readOnly ? " and is marked READ-ONLY" : "") + ".", "",
                      "Do you want to overwrite the existing file",
                      " of size " + existing.size + ", modified on " + dateText(existing.time),
                      "with the file being copied",
                      " of size " + pasted.size + ", modified on " + dateText(pasted.time) + ",",
                      "which is " + timeWord + " and " + sizeWord + "?"});
}

void expectQuestionBoxes(const Pasted& p) {
    ASSERT_EQ(p.defaults.size(), p.run.boxes.size());
    for (size_t i = 0; i < p.run.boxes.size(); ++i) {
        const Box& box = p.run.boxes[i];
        EXPECT_EQ(box.caption, "Tarnwick");
        EXPECT_EQ(box.buttons, (std::vector<int>{IDCANCEL, IDYES, IDNO}));
        EXPECT_EQ(p.defaults[i], IDYES);
        EXPECT_EQ(box.icon, "question");
    }
}

TEST(OverwriteQuestion, TextsAndVerdicts) {
    struct Case {
        const char* what;
        std::string existing;
        uint64_t existingTime;
        bool readOnly;
        std::string pasted;
        uint64_t pastedTime;
        Side existingSide, pastedSide;
        const char* timeWord;
        const char* sizeWord;
    } const cases[] = {
        {"newer and bigger", "", kT, false, repeatedText(1536), kT + kDay, {"0 bytes", kT}, {"1.50 KB", kT + kDay},
         "newer", "bigger"},
        {"older and smaller", "ab", kT + kHour, false, "a", kT, {"2 bytes", kT + kHour}, {"1 byte", kT}, "older",
         "smaller"},
        {"the same, read-only", "12345", kT, true, "abcde", kT, {"5 bytes", kT}, {"5 bytes", kT}, "of the same time",
         "of the same size"},
        // Later by 100 ns: the date texts read the same, the verdict does not.
        {"newer within the second", "12345", kT, false, "abcde", kT + 1, {"5 bytes", kT}, {"5 bytes", kT + 1}, "newer",
         "of the same size"},
        {"across a unit boundary", std::string(1048576, 'e'), kT, false, repeatedText(1048575), kT,
         {"1.00 MB", kT}, {"1024.00 KB", kT}, "of the same time", "smaller"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dest;
        const std::string path = dest / "f.txt";
        Entry e = Entry::file(-1, "f.txt", c.pasted, 0x20);
        e.time = c.pastedTime;
        putClipboard("Tarnwick_2", treeBlock({e, Entry::file(-1, "next.txt", "next")}));
        writeFile(path, c.existing);
        setLastWriteTime(path, c.existingTime);
        if (c.readOnly) setAttributes(path, FILE_ATTRIBUTE_READONLY);
        const DWORD attributesBefore = attributes(path);

        Pasted p = paste(dest.path(), {IDNO});

        const RunResult& r = p.run;

        expectQuestionBoxes(p);
        EXPECT_EQ(r.exitCode, 0u);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text,
                  overwriteQuestion(path, c.readOnly, c.existingSide, c.pastedSide, c.timeWord, c.sizeWord));
        if (&c == &cases[0]) {
            // The dates above are worked out with the calls the program
            // makes. One fixed text as well: the tests run in India
            // Standard Time, UTC+05:30 all year (scripts/wine-run.sh), with
            // en-US formats, and kT is 1 May 2019, 09:26:47 UTC.
            EXPECT_NE(r.boxes[0].text.find("\n of size 0 bytes, modified on Wednesday, May 1, 2019 2:56:47 PM\n"),
                      std::string::npos)
                << r.boxes[0].text;
        }
        // No: the existing file stays exactly as it was; the paste goes on.
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", path, dest / "next.txt", "", "Done."}));
        EXPECT_EQ(readFile(path), c.existing);
        EXPECT_EQ(lastWriteTime(path), c.existingTime);
        EXPECT_EQ(attributes(path), attributesBefore);
        EXPECT_EQ(readFile(dest / "next.txt"), "next");
    }
}

TEST(OverwriteQuestion, YesReplacesAReadOnlyFileWithTheBlocksTimeAndAttributes) {
    TempDir dest;
    Entry e = Entry::file(-1, "f.txt", repeatedText(4000), 0x22);
    e.time = kT;  // older than the file it replaces
    putClipboard("Tarnwick_2", treeBlock({e}));
    writeFile(dest / "f.txt", "old and read-only");
    setLastWriteTime(dest / "f.txt", kT + kDay);
    setAttributes(dest / "f.txt", FILE_ATTRIBUTE_READONLY);

    Pasted p = paste(dest.path(), {IDYES});

    const RunResult& r = p.run;

    expectQuestionBoxes(p);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_NE(r.boxes[0].text.find("already exists and is marked READ-ONLY.\n"), std::string::npos);
    expectRestored(dest.path(), {e});
}

// Every existing file is asked about on its own.
TEST(OverwriteQuestion, EachFileIsAskedAboutOnItsOwn) {
    TempDir dest;
    putClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "a.txt", "new a"), Entry::file(-1, "b.txt", "new b"),
                                          Entry::file(-1, "c.txt", "new c")}));
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) writeFile(dest / name, std::string("old ") + name[0]);
    Pasted p = paste(dest.path(), {IDNO, IDYES, IDNO});
    const RunResult& r = p.run;
    expectQuestionBoxes(p);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 3u);
    EXPECT_NE(r.boxes[1].text.find(dest / "b.txt"), std::string::npos);
    EXPECT_EQ(readFile(dest / "a.txt"), "old a");
    EXPECT_EQ(readFile(dest / "b.txt"), "new b");
    EXPECT_EQ(readFile(dest / "c.txt"), "old c");
}

// Cancel at the first question and at one in the middle: nothing more is
// asked, printed or written; what came before stays, the file asked about
// and those after it keep their content.
TEST(OverwriteQuestion, CancelEndsThePasteSilently) {
    const struct {
        const char* what;
        std::vector<int> answers;
        Lines existing;  // of first, second, third
        Lines after;     // their content afterwards ("" for missing)
    } cases[] = {
        {"at the first question", {IDCANCEL}, {"second.txt"}, {"first", "old second", ""}},
        {"at a middle question", {IDYES, IDCANCEL}, {"first.txt", "second.txt", "third.txt"},
         {"first", "old second", "old third"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dest;
        putClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "first.txt", "first"), Entry::file(-1, "second.txt", "new"),
                                              Entry::file(-1, "third.txt", "third")}));
        for (const std::string& name : c.existing) writeFile(dest / name, "old " + name.substr(0, name.find('.')));
        Pasted p = paste(dest.path(), c.answers);
        const RunResult& r = p.run;
        expectQuestionBoxes(p);
        EXPECT_EQ(r.exitCode, 1u);
        // The questions only, no message after them.
        ASSERT_EQ(r.boxes.size(), c.answers.size());
        EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "first.txt", dest / "second.txt"}));
        const char* const names[] = {"first.txt", "second.txt", "third.txt"};
        for (size_t i = 0; i < 3; ++i) {
            if (c.after[i].empty()) {
                EXPECT_FALSE(exists(dest / names[i])) << names[i];
            } else {
                EXPECT_EQ(readFile(dest / names[i]), c.after[i]) << names[i];
            }
        }
    }
}

// A destination file that another program holds open without sharing:
// without /FORCEPASTE the question cannot be composed, with it the file
// cannot be opened; either way it keeps its content.
TEST(OverwriteQuestion, ExistingFileThatCannotBeRead) {
    const struct {
        const char* command;
        const char* message;
    } cases[] = {
        {"/PASTE", "Error getting file time/size."},
        {"/FORCEPASTE", "Error creating file."},
    };
    putClipboard("Tarnwick_2", treeBlock({Entry::file(-1, "f.txt", "new"), Entry::file(-1, "g.txt", "g")}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        TempDir dest;
        writeFile(dest / "f.txt", "old");
        const ClipboardSnapshot before = snapshotClipboard();
        RunResult r;
        {
            FileLock lock(dest / "f.txt");
            r = runTarnwick({c.command, dest.path()});
        }
        EXPECT_EQ(r.exitCode, 1u);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, c.message);
        EXPECT_EQ(r.boxes[0].icon, "warning");
        EXPECT_EQ(readFile(dest / "f.txt"), "old");
        EXPECT_FALSE(exists(dest / "g.txt"));
        EXPECT_TRUE(snapshotClipboard() == before);
    }
}

TEST(MergeQuestion, YesMergesAndTheFolderTakesTheBlocksAttributes) {
    TempDir dest;
    makeDir(dest / "d");
    writeFile(dest / "d\\keep.txt", "kept");
    putClipboard("Tarnwick_2", treeBlock({Entry::folder(-1, "d", 0x12), Entry::file(0, "x.txt", "x")}));
    Pasted p = paste(dest.path(), {IDYES});
    const RunResult& r = p.run;
    expectQuestionBoxes(p);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, mergeQuestion(dest / "d"));
    EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "d>", dest / "d\\x.txt", "", "Done."}));
    EXPECT_EQ(readFile(dest / "d\\keep.txt"), "kept");
    EXPECT_EQ(readFile(dest / "d\\x.txt"), "x");
    EXPECT_TRUE(attributes(dest / "d") & FILE_ATTRIBUTE_HIDDEN);
}

// No skips the folder's whole subtree: nothing inside is printed, asked or
// written, while later records still find their own bytes.
TEST(MergeQuestion, NoSkipsTheSubtreeAndLaterFilesGetTheirOwnBytes) {
    const Bytes later = randomBytes(3000, 11);
    const std::vector<Entry> entries = {
        Entry::folder(-1, "d", 0x12),                   // 0 exists
        Entry::file(0, "x.txt", repeatedText(7000)),    // 1 compressed
        Entry::folder(0, "s"),                          // 2
        Entry::file(2, "y.bin", randomBytes(500, 5)),   // 3 raw
        Entry::file(0, "keep.txt", "would replace"),    // 4 exists, never asked
        Entry::file(-1, "z.txt", repeatedText(2500)),   // 5
        Entry::folder(-1, "e"),                         // 6
        Entry::file(6, "w.bin", later),                 // 7
    };
    putClipboard("Tarnwick_2", treeBlock(entries));
    TempDir dest;
    makeDir(dest / "d");
    writeFile(dest / "d\\keep.txt", "kept");

    Pasted p = paste(dest.path(), {IDNO});

    const RunResult& r = p.run;

    expectQuestionBoxes(p);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, mergeQuestion(dest / "d"));
    EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "d>", dest / "z.txt", dest / "e>", dest / "e\\w.bin",
                              "", "Done."}));
    EXPECT_EQ(listDir(dest / "d"), Lines{"keep.txt"});
    EXPECT_EQ(readFile(dest / "d\\keep.txt"), "kept");
    EXPECT_FALSE(attributes(dest / "d") & FILE_ATTRIBUTE_HIDDEN);
    Entry w = entries[7];
    w.parent = 1;  // e, in this shorter list
    expectRestored(dest.path(), {entries[5], entries[6], w});
}

// Merging does not end the questions: an existing subfolder is asked about
// again, and an existing file inside it too.
TEST(MergeQuestion, AskedAgainInsideAMergedFolder) {
    TempDir dest;
    makeDir(dest / "d");
    makeDir(dest / "d\\s");
    writeFile(dest / "d\\s\\f.txt", "old");
    putClipboard("Tarnwick_2", treeBlock({Entry::folder(-1, "d"), Entry::folder(0, "s"), Entry::file(1, "f.txt", "new"),
                                          Entry::file(1, "g.txt", "g")}));
    Pasted p = paste(dest.path(), {IDYES, IDYES, IDNO});
    const RunResult& r = p.run;
    expectQuestionBoxes(p);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 3u);
    EXPECT_EQ(r.boxes[0].text, mergeQuestion(dest / "d"));
    EXPECT_EQ(r.boxes[1].text, mergeQuestion(dest / "d\\s"));
    EXPECT_EQ(r.boxes[2].text.rfind("The file\n\n" + dest / "d\\s\\f.txt" + "\n\nalready exists.", 0), 0u);
    EXPECT_EQ(readFile(dest / "d\\s\\f.txt"), "old");
    EXPECT_EQ(readFile(dest / "d\\s\\g.txt"), "g");
}

TEST(MergeQuestion, CancelEndsThePasteSilently) {
    TempDir dest;
    makeDir(dest / "d");
    putClipboard("Tarnwick_2",
                 treeBlock({Entry::folder(-1, "d", 0x12), Entry::file(0, "x.txt", "x"), Entry::file(-1, "z.txt", "z")}));
    Pasted p = paste(dest.path(), {IDCANCEL});
    const RunResult& r = p.run;
    expectQuestionBoxes(p);
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "d>"}));
    EXPECT_TRUE(listDir(dest / "d").empty());
    EXPECT_FALSE(exists(dest / "z.txt"));
    EXPECT_FALSE(attributes(dest / "d") & FILE_ATTRIBUTE_HIDDEN);
}

TEST(ForcePaste, AsksNothingMergesAndReplacesReadOnlyFiles) {
    TempDir dest;
    makeDir(dest / "d");
    writeFile(dest / "d\\x.txt", "old read-only");
    setAttributes(dest / "d\\x.txt", FILE_ATTRIBUTE_READONLY);
    writeFile(dest / "d\\keep.txt", "kept");
    Entry x = Entry::file(0, "x.txt", repeatedText(999), 0x23);
    x.time = kT - kDay;
    const std::vector<Entry> entries = {Entry::folder(-1, "d", 0x12), x};
    putClipboard("Tarnwick_2", treeBlock(entries));

    RunResult r = runTarnwick({"/FORCEPASTE", dest.path()});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(r.lines, (Lines{"Reading clipboard...", "", dest / "d>", dest / "d\\x.txt", "", "Done."}));
    expectRestored(dest.path(), entries);
    EXPECT_EQ(readFile(dest / "d\\keep.txt"), "kept");
}

}  // namespace
}  // namespace e2e
