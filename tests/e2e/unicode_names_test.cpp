// Names that the ANSI code page cannot hold, and paths of any length, end
// to end: what the block's name fields carry, the exact names beside them,
// what a paste makes of both (and of either alone, as an older copy of the
// program or a stale clipboard leaves them), and a copy and a paste that run
// with different code pages, as on two machines. Paths in these tests are
// UTF-8 (see harness.h); the tests themselves run with code page 1252.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "copy_support.h"
#include "harness.h"
#include "tree_compare.h"

namespace e2e {
namespace {

const uint64_t kTime = 0x01D8F00DCAFEBABE;

// A code page's bytes in UTF-8, to compare with what listDir reports.
std::string fromCodePage(const std::string& bytes, UINT codePage) {
    int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), &wide[0], n);
    return narrow(wide);
}

std::string repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

// What a name becomes in the block under code page 1252: the exact bytes
// when 1252 holds it (given here in UTF-8), a substitute otherwise.
struct NameCase {
    std::string name;    // UTF-8
    std::string record;  // the record's name field, in 1252 bytes
};

const std::vector<NameCase>& nameTable() {
    static const std::vector<NameCase> table = {
        {u8"Отчёт.txt", "_____.txt"},
        {u8"Ελληνικά.txt", "________.txt"},
        {u8"中文名.txt", "___.txt"},
        {u8"😀 emoji.txt", "_ emoji.txt"},  // one character, two units
        {u8"e\u0301te\u0301.txt", "e_te_.txt"},  // combining marks
        {repeat(u8"ж", 127), repeat("_", 127)},  // 254 bytes, as long as Linux allows
        {u8"Жuk.txt", ""},                       // these two differ only in characters
        {u8"Щuk.txt", ""},                       // 1252 lacks: "_uk.txt" and "_uk~2.txt"
        {u8"．．", "__"},                        // fullwidth full stops, never ".."
        {u8"a＼b.txt", "a_b.txt"},               // fullwidth backslash, never a separator
        {u8"ｑ＂.txt", "__.txt"},                // fullwidth quote
        {u8"café.txt", "caf\xE9.txt"},           // held exactly by 1252
        {"plain.txt", "plain.txt"},
    };
    return table;
}

// Folder Папка holding every name of the table, and a folder a with b.txt,
// the file a＼b.txt must never be taken for.
std::string makeNamedTree(const TempDir& src) {
    const std::string top = src / u8"Папка";
    makeDir(top);
    for (const NameCase& c : nameTable()) {
        writeFile(top + "\\" + c.name, "content of " + c.name);
        setLastWriteTime(top + "\\" + c.name, kTime);
    }
    makeDir(top + "\\a");
    writeFile(top + "\\a\\b.txt", "the other b.txt");
    return top;
}

// The table's names as the block holds them, keyed by UTF-8 name.
std::map<std::string, std::string> recordNames(const Bytes& block) {
    copytest::Tree tree = copytest::readTree(block);
    std::map<std::string, std::string> byContent;
    for (const copytest::Record& r : tree.records) {
        if (r.type != 0 || r.parent != 0) continue;
        const Bytes content = r.flag ? copytest::inflate(r.data, r.size) : r.data;
        std::string text(content.begin(), content.end());
        if (text.rfind("content of ", 0) == 0) byContent[text.substr(11)] = r.name;
    }
    return byContent;
}

RunResult paste(const std::string& dest, const char* command = "/FORCEPASTE") {
    return runTarnwick({command, dest});
}

TEST(UnicodeNames, EveryNameThroughCopyAndPaste) {
    TempDir src, dest;
    const std::string top = makeNamedTree(src);

    // As Send To passes it: the folder's own name is not ANSI either.
    RunResult copy = runTarnwick({top});
    ASSERT_EQ(copy.exitCode, 0u) << copy.out;
    EXPECT_TRUE(copy.boxes.empty());
    // Standard output is a pipe: ANSI bytes, '?' for what 1252 lacks.
    ASSERT_FALSE(copy.lines.empty());
    EXPECT_EQ(copy.lines[0], src.path() + "\\" + std::string(5, '?') + ">");

    const std::optional<Bytes> block = getClipboard("Tarnwick_2");
    ASSERT_TRUE(block.has_value());
    ASSERT_TRUE(getClipboard("Tarnwick_Names").has_value());
    const std::map<std::string, std::string> records = recordNames(*block);
    std::set<std::string> fields;
    for (const NameCase& c : nameTable()) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(records.count(c.name), 1u) << "no record carries it";
        const std::string& field = records.at(c.name);
        if (!c.record.empty()) {
            EXPECT_EQ(field, c.record);
        }
        EXPECT_EQ(field.find_first_of("\\/:*?\"<>|"), std::string::npos) << field;
        EXPECT_TRUE(fields.insert(field).second) << "two records named " << field;
    }
    EXPECT_EQ(fields.count("_uk.txt") + fields.count("_uk~2.txt"), 2u);

    RunResult pasted = paste(dest.path());
    EXPECT_EQ(pasted.exitCode, 0u) << pasted.out;
    EXPECT_TRUE(pasted.boxes.empty());
    EXPECT_EQ(expectSameTree(src.path(), dest.path()), nameTable().size() + 3);
    EXPECT_EQ(readFile(dest / u8"Папка\\a＼b.txt"), u8"content of a＼b.txt");
    EXPECT_EQ(readFile(dest / u8"Папка\\a\\b.txt"), "the other b.txt");

    // What an older copy of the program sees, and a side format that
    // belongs to another block or a later version: the names the block
    // holds, every one of them a name Windows accepts.
    const Bytes side = *getClipboard("Tarnwick_Names");
    const std::function<void(Bytes&)> stale[] = {
        [](Bytes& s) { s.clear(); },
        [](Bytes& s) { s[12] ^= 1; },  // the block's CRC-32
        [](Bytes& s) { s[4] = 2; },    // the version
    };
    for (const auto& mutate : stale) {
        TempDir older;
        Bytes names = side;
        mutate(names);
        putClipboard("Tarnwick_2", *block);
        if (!names.empty()) addClipboard("Tarnwick_Names", names);
        RunResult r = paste(older.path());
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        std::set<std::string> expected = {"a"}, got;
        for (const auto& record : records) expected.insert(fromCodePage(record.second, 1252));
        for (const std::string& name : listDir(older / "_____")) got.insert(name);
        EXPECT_EQ(got, expected);
    }
    // A clipboard owner that rounds memory up hands over more bytes than
    // the block and its names hold: the exact names belong to it all the same.
    Bytes padded = *block, names = side;
    padded.resize(padded.size() + 13, 0);
    names.resize(names.size() + 7, 0);
    putClipboard("Tarnwick_2", padded);
    addClipboard("Tarnwick_Names", names);
    TempDir roundedUp;
    RunResult r = paste(roundedUp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(expectSameTree(src.path(), roundedUp.path()), nameTable().size() + 3);
}

// A side format that belongs to the block is checked like the block: one
// forged name and nothing at all is written.
TEST(UnicodeNames, ForgedExactNameIsRefusedBeforeAnythingIsWritten) {
    TempDir src;
    makeNamedTree(src);
    ASSERT_EQ(runTarnwick({src / u8"Папка"}).exitCode, 0u);
    const Bytes block = *getClipboard("Tarnwick_2");
    const Bytes side = *getClipboard("Tarnwick_Names");
    // Forged in the first entry, near the first thing a paste creates, and in
    // the last, which a paste that checked each name only as it reached it
    // would write everything else before (entries of four units or more, so
    // that every forgery fits).
    std::vector<size_t> nameAt;  // where each entry's name starts: after its head of 16 bytes
    for (size_t at = copytest::u32(side.data()); at < side.size(); at += copytest::u32(side.data() + at))
        if (copytest::u32(side.data() + at + 12) >= 4) nameAt.push_back(at + 16);
    ASSERT_GE(nameAt.size(), 2u);
    nameAt.erase(nameAt.begin() + 1, nameAt.end() - 1);
    for (size_t firstName : nameAt) {
        const struct {
            const char* what;
            std::u16string units;  // laid over the name's first units
        } forged[] = {{"dots only", std::u16string(copytest::u32(side.data() + firstName - 4), u'.')},
                      {"separator", u"a\\b"},
                      {"device", u"CON."},
                      {"colon", u"a:b"}};
        for (const auto& f : forged) {
            SCOPED_TRACE(f.what + std::string(firstName == nameAt[0] ? ", first entry" : ", last entry"));
            Bytes names = side;
            for (size_t i = 0; i < f.units.size(); ++i) {
                names[firstName + 2 * i] = uint8_t(f.units[i]);
                names[firstName + 2 * i + 1] = uint8_t(f.units[i] >> 8);
            }
            putClipboard("Tarnwick_2", block);
            addClipboard("Tarnwick_Names", names);
            TempDir dest;
            RunResult r = paste(dest.path());
            EXPECT_EQ(r.exitCode, 1u);
            ASSERT_EQ(r.boxes.size(), 1u);
            EXPECT_EQ(r.boxes[0].text, "Invalid Tarnwick data.");
            EXPECT_TRUE(listDir(dest.path()).empty());
        }
    }
}

// Cyrillic copied where the code page is 1251 and pasted where it is 1252:
// the block holds the 1251 bytes, and the names arrive exactly.
TEST(UnicodeNames, CopiedWithOneCodePagePastedWithAnother) {
    TempDir src, dest;
    const std::string top = src / u8"Отчёты";
    makeDir(top);
    writeFile(top + u8"\\Отчёт.txt", "report");
    writeFile(top + u8"\\Файл № 2.txt", "file");
    RunResult copy = runUnderLocale("ru_RU.UTF-8", tarnwickExe(), {top});
    ASSERT_FALSE(copy.timedOut);
    ASSERT_EQ(copy.exitCode, 0u) << copy.out;
    const std::optional<Bytes> block = getClipboard("Tarnwick_2");
    ASSERT_TRUE(block.has_value());
    std::set<std::string> fields;
    for (const copytest::Record& r : copytest::readTree(*block).records) fields.insert(r.name);
    EXPECT_EQ(fields, (std::set<std::string>{"\xCE\xF2\xF7\xB8\xF2\xFB", "\xCE\xF2\xF7\xB8\xF2.txt",
                                              "\xD4\xE0\xE9\xEB \xB9 2.txt"}));
    RunResult r = paste(dest.path());
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    expectSameTree(src.path(), dest.path());

    // The block alone, as an older copy of the program leaves it: its 1251
    // bytes read as 1252 text, each a name Windows accepts.
    putClipboard("Tarnwick_2", *block);
    TempDir alone;
    r = paste(alone.path());
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    const std::string folder = fromCodePage("\xCE\xF2\xF7\xB8\xF2\xFB", 1252);
    EXPECT_EQ(listDir(alone.path()), std::vector<std::string>{folder});
    std::set<std::string> names;
    for (const std::string& name : listDir(alone / folder)) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{fromCodePage("\xCE\xF2\xF7\xB8\xF2.txt", 1252),
                                            fromCodePage("\xD4\xE0\xE9\xEB \xB9 2.txt", 1252)}));
    EXPECT_EQ(readFile(alone / (folder + "\\" + fromCodePage("\xCE\xF2\xF7\xB8\xF2.txt", 1252))), "report");
}

// Thirteen folders of 32 characters: paths of more than 400 characters,
// copied and pasted whole.
TEST(UnicodeNames, PathsLongerThanFourHundredCharacters) {
    TempDir src, dest;
    std::string path = src / "deep";
    makeDir(path);
    for (int i = 0; i < 13; ++i) {
        path += "\\" + std::string(30, char('a' + i)) + u8"ю" + std::to_string(i % 10);
        makeDir(path);
    }
    ASSERT_GT(widen(path).size(), 400u);
    writeFile(path + "\\bottom.txt", "at the bottom");
    setLastWriteTime(path + "\\bottom.txt", kTime);
    RunResult copy = runTarnwick({src / "deep"});
    ASSERT_EQ(copy.exitCode, 0u) << copy.out;
    RunResult r = paste(dest.path());
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(expectSameTree(src.path(), dest.path()), 15u);
}

// The folder verb's command into a folder whose name is not ANSI: the
// question shows the exact path, and No keeps the file.
TEST(UnicodeNames, FolderVerbIntoANamedFolderAsksWithTheExactName) {
    TempDir src, parent;
    writeFile(src / u8"Отчёт.txt", "new");
    ASSERT_EQ(runTarnwick({src / u8"Отчёт.txt"}).exitCode, 0u);
    const std::string dest = parent / u8"Цель";
    makeDir(dest);
    writeFile(dest + u8"\\Отчёт.txt", "old");
    RunOptions options;
    options.answer = [](const Box&) { return IDNO; };
    RunResult r = runTarnwick({"/PASTE", dest}, options);
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text.rfind("The file\n\n" + dest + u8"\\Отчёт.txt\n\nalready exists.", 0), 0u)
        << r.boxes[0].text;
    EXPECT_EQ(readFile(dest + u8"\\Отчёт.txt"), "old");
}

}  // namespace
}  // namespace e2e
