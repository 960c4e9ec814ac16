// The console program's command line: usage, /CLEAR, malformed paste
// commands and the exit codes, against the real Tarnwick.exe.
#include <gtest/gtest.h>

#include "harness.h"
#include "paste_blocks.h"

namespace e2e {
namespace {

const std::vector<std::string> kUsage = {
    "Tarnwick 2.0", "", "Syntax:-", "\tTarnwick  path1 [path2...]", "\tTarnwick  /[FORCE]PASTE path",
    "\tTarnwick  /CLEAR", "\tTarnwick  /TEXT[:size] path1 [path2...]", "\tTarnwick  /NEXT [part]",
    "\tTarnwick  /SELF[:size]", "\tTarnwick  /SEND[:size] [/WAIT:seconds] [/INTERVAL:seconds] path1 [path2...]",
    "\tTarnwick  /[FORCE]RECEIVE path", "",
};
constexpr DWORD kExitUsage = 0xFFFFFFFF;

TEST(CommandLine, UsageTextAndExitMinusOne) {
    const std::vector<std::vector<std::string>> cases = {{},        {"/?"}, {"/?", "more", "words"}, {"/text"},
                                                         {"/send"}, {"/SEND:4M", "/WAIT:5", "/interval:9"},
                                                         {"/SELF", "a"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        RunResult r = runTarnwick(args);
        EXPECT_EQ(r.exitCode, kExitUsage);
        EXPECT_EQ(r.lines, kUsage);
        EXPECT_EQ(r.out, "Tarnwick 2.0\n\nSyntax:-\n\tTarnwick  path1 [path2...]\n\tTarnwick  /[FORCE]PASTE path\n"
                         "\tTarnwick  /CLEAR\n\tTarnwick  /TEXT[:size] path1 [path2...]\n\tTarnwick  /NEXT [part]\n"
                         "\tTarnwick  /SELF[:size]\n"
                         "\tTarnwick  /SEND[:size] [/WAIT:seconds] [/INTERVAL:seconds] path1 [path2...]\n"
                         "\tTarnwick  /[FORCE]RECEIVE path\n\n");
        EXPECT_TRUE(r.boxes.empty());
    }
}

TEST(CommandLine, ClearEmptiesTheClipboardInAnyCase) {
    for (const char* sw : {"/CLEAR", "/clear", "/cLeAr"}) {
        SCOPED_TRACE(sw);
        putClipboardText("marker text");
        addClipboard("Tarnwick_2", Bytes(296, 0));
        ASSERT_EQ(getClipboardText(), std::optional<std::string>("marker text"));
        RunResult r = runTarnwick({sw, "ignored", "args"});
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.boxes.empty());
        EXPECT_TRUE(clipboardFormats().empty());
    }
}

TEST(CommandLine, ClearWhileAnotherProgramHoldsTheClipboard) {
    putClipboardText("still here");
    RunResult r;
    {
        ClipboardHolder holder;
        r = runTarnwick({"/CLEAR"});
    }
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
    EXPECT_EQ(r.boxes[0].text, "Error opening clipboard.");
    EXPECT_EQ(r.boxes[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(r.boxes[0].icon, "warning");
    EXPECT_EQ(getClipboardText(), std::optional<std::string>("still here"));
}

// The paste switches in any case: exactly one path pastes (/FORCEPASTE
// without asking over an existing file, /PASTE after asking, here answered
// with Cancel); any other count of paths shows the usage box.
TEST(CommandLine, PasteSwitchesInAnyCase) {
    const std::string kDest = "<dest>";
    enum Outcome { kUsage, kAsked, kForced };
    const struct Case {
        std::vector<std::string> args;
        Outcome outcome;
    } cases[] = {
        {{"/PASTE"}, kUsage},
        {{"/paste", "a", "b"}, kUsage},
        {{"/FORCEPASTE"}, kUsage},
        {{"/ForcePaste", "x", "y", "z"}, kUsage},
        {{"/paste", kDest}, kAsked},
        {{"/forcePASTE", kDest}, kForced},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " +" + std::to_string(c.args.size() - 1));
        TempDir dest;
        writeFile(dest / "f.txt", "old");
        putClipboard("Tarnwick_1", singleFileBlock(Entry::file(-1, "f.txt", "new")));
        ClipboardSnapshot before = snapshotClipboard();
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a == kDest) a = dest.path();
        RunResult r = runTarnwick(args);
        EXPECT_TRUE(snapshotClipboard() == before);
        if (c.outcome == kForced) {
            EXPECT_EQ(r.exitCode, 0u);
            EXPECT_TRUE(r.boxes.empty());
            EXPECT_EQ(readFile(dest / "f.txt"), "new");
            continue;
        }
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
        EXPECT_EQ(readFile(dest / "f.txt"), "old");
        if (c.outcome == kAsked) {
            EXPECT_EQ(r.exitCode, 1u) << "Cancel ends the paste";
            EXPECT_EQ(r.boxes[0].icon, "question");
            EXPECT_EQ(r.boxes[0].text.rfind("The file\n\n" + dest / "f.txt" + "\n\nalready exists.", 0), 0u);
            continue;
        }
        EXPECT_EQ(r.exitCode, kExitUsage);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.boxes[0].text, "Paste path not specified or incorrect.");
        EXPECT_EQ(r.boxes[0].icon, "warning");
        EXPECT_EQ(r.boxes[0].buttons, std::vector<int>{IDOK});
        EXPECT_EQ(r.boxes[0].defaultButton, IDOK);
    }
}

TEST(CommandLine, UnknownSwitchIsASourcePath) {
    putClipboardText("marker");
    RunResult r = runTarnwick({"/HELP"});
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Path not found.");
    EXPECT_EQ(r.boxes[0].icon, "warning");
    EXPECT_EQ(getClipboardText(), std::optional<std::string>("marker"));
}

// Malformed text-transfer commands, hands-free ones included: a box with
// the reason, the usage exit code, the clipboard untouched.
TEST(CommandLine, MalformedTextCommandsAreUsageErrors) {
    const std::string time = "Time incorrect: /WAIT:seconds and /INTERVAL:seconds take 1 to 86400 seconds.",
                      paste = "Paste path not specified or incorrect.", part = "Part number incorrect.",
                      size = "Part size incorrect: /TEXT:size takes a number of characters of at least 263, with K "
                             "or M after it for 1024 or 1048576 of them, or 0 for one part.",
                      self = "Script size incorrect: /SELF:size takes a number of characters of at least 16K, with K "
                             "or M after it for 1024 or 1048576 of them, or 0 for one script.";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"/TEXT:262", "a"}, size}, {{"/text:1G", "a"}, size}, {{"/NEXT", "x"}, part},
        {{"/next", "0"}, part},     {{"/NEXT", "1", "2"}, part}, {{"/SEND:262", "a"}, size},
        {{"/SEND", "/WAIT:0", "a"}, time}, {{"/send", "/INTERVAL:86401", "a"}, time}, {{"/SEND", "/WAIT:x", "a"}, time},
        {{"/RECEIVE"}, paste}, {{"/forcereceive", "a", "b"}, paste}, {{"/SELF:15K"}, self}, {{"/self:"}, self}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first[0] + " +" + std::to_string(c.first.size() - 1));
        putClipboard("Tarnwick_1", Bytes(292, 0));
        ClipboardSnapshot before = snapshotClipboard();
        RunResult r = runTarnwick(c.first);
        EXPECT_TRUE(snapshotClipboard() == before);
        EXPECT_EQ(r.exitCode, kExitUsage);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, c.second);
    }
}

}  // namespace
}  // namespace e2e
