// The console program's command line: usage, /CLEAR, malformed paste
// commands and the exit codes, against the real Tarnwick.exe.
#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

const std::vector<std::string> kUsage = {
    "Tarnwick 2.0", "", "Syntax:-", "\tTarnwick  path1 [path2...]", "\tTarnwick  /[FORCE]PASTE path",
    "\tTarnwick  /CLEAR", "",
};
constexpr DWORD kExitUsage = 0xFFFFFFFF;

TEST(CommandLine, UsageTextAndExitMinusOne) {
    const std::vector<std::vector<std::string>> cases = {{}, {"/?"}, {"/?", "more", "words"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.back());
        RunResult r = runTarnwick(args);
        EXPECT_EQ(r.exitCode, kExitUsage);
        EXPECT_EQ(r.lines, kUsage);
        EXPECT_EQ(r.out, "Tarnwick 2.0\n\nSyntax:-\n\tTarnwick  path1 [path2...]\n\tTarnwick  /[FORCE]PASTE path\n"
                         "\tTarnwick  /CLEAR\n\n");
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

TEST(CommandLine, PasteNeedsExactlyOnePath) {
    const std::vector<std::vector<std::string>> cases = {
        {"/PASTE"}, {"/paste", "a", "b"}, {"/FORCEPASTE"}, {"/ForcePaste", "x", "y", "z"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " +" + std::to_string(args.size() - 1));
        putClipboard("Tarnwick_1", Bytes(292, 0));
        ClipboardSnapshot before = snapshotClipboard();
        RunResult r = runTarnwick(args);
        EXPECT_EQ(r.exitCode, kExitUsage);
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
        EXPECT_EQ(r.boxes[0].text, "Paste path not specified or incorrect.");
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
