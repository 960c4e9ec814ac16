// The console program's command line: usage, /CLEAR, malformed paste
// commands and the exit codes, against the real Tarnwick.exe.
#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

const std::vector<std::string> kUsage = {
    "Tarnwick 2.0", "", "Syntax:-", "\tTarnwick  path1 [path2...]", "\tTarnwick  /[FORCE]PASTE path",
    "\tTarnwick  /CLEAR", "\tTarnwick  /TEXT[:size] path1 [path2...]", "\tTarnwick  /NEXT [part]", "",
};
constexpr DWORD kExitUsage = 0xFFFFFFFF;

TEST(CommandLine, UsageTextAndExitMinusOne) {
    const std::vector<std::vector<std::string>> cases = {{}, {"/?"}, {"/?", "more", "words"}, {"/text"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        RunResult r = runTarnwick(args);
        EXPECT_EQ(r.exitCode, kExitUsage);
        EXPECT_EQ(r.lines, kUsage);
        EXPECT_EQ(r.out, "Tarnwick 2.0\n\nSyntax:-\n\tTarnwick  path1 [path2...]\n\tTarnwick  /[FORCE]PASTE path\n"
                         "\tTarnwick  /CLEAR\n\tTarnwick  /TEXT[:size] path1 [path2...]\n\tTarnwick  /NEXT [part]\n\n");
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

TEST(CommandLine, MalformedCommandsAreUsageErrors) {
    const std::string paste = "Paste path not specified or incorrect.", part = "Part number incorrect.",
                      size = "Part size incorrect: /TEXT:size takes a number of characters of at least 263, with K "
                             "or M after it for 1024 or 1048576 of them, or 0 for one part.";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"/PASTE"}, paste},         {{"/paste", "a", "b"}, paste}, {{"/FORCEPASTE"}, paste},
        {{"/ForcePaste", "x", "y", "z"}, paste}, {{"/TEXT:262", "a"}, size}, {{"/text:1G", "a"}, size},
        {{"/NEXT", "x"}, part},      {{"/next", "0"}, part},        {{"/NEXT", "1", "2"}, part}};
    for (const auto& c : cases) {
        const auto& args = c.first;
        SCOPED_TRACE(args[0] + " +" + std::to_string(args.size() - 1));
        putClipboard("Tarnwick_1", Bytes(292, 0));
        ClipboardSnapshot before = snapshotClipboard();
        RunResult r = runTarnwick(args);
        EXPECT_EQ(r.exitCode, kExitUsage);
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
        EXPECT_EQ(r.boxes[0].text, c.second);
        EXPECT_EQ(r.boxes[0].icon, "warning");
        EXPECT_EQ(r.boxes[0].buttons, std::vector<int>{IDOK});
        EXPECT_EQ(r.boxes[0].defaultButton, IDOK);
        EXPECT_TRUE(snapshotClipboard() == before);
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

}  // namespace
}  // namespace e2e
