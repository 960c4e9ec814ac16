// The block as text between two machines (two Wine prefixes, two
// clipboards) through a channel that carries only text: copied with /TEXT
// and /NEXT on one, carried by the relay, pasted on the other.
#include "text_support.h"

namespace e2e {
namespace {

TEST_F(TextTransfer, OnePartArrivesExactlyWhateverTheLineEnds) {
    for (const char* lineEnds : {"lf", "crlf"}) {
        removeTree(dest + "\\tree");
        carry(copyAsText(""), 0, lineEnds);
        RunResult r = paste();
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        EXPECT_EQ(r.lines.back(), "Done.");
        EXPECT_TRUE(r.boxes.empty());
        expectArrived();
    }
    // Nothing was kept for a copy of one part.
    EXPECT_EQ(runOnOtherMachine(tarnwickExe(), {"/NEXT"}).exitCode, 1u);
}

TEST_F(TextTransfer, SeveralPartsArriveInAnyOrderAndRepeatsAreIgnored) {
    std::vector<std::pair<std::string, std::string>> builds = {{"this build", tarnwickExe()}};
#ifdef TW_PEER_RUNS
    builds.push_back({"copied by the 32-bit build", peerTarnwickExe()});
#endif
    for (const auto& build : builds) {
        SCOPED_TRACE(build.first);
        removeTree(dest + "\\tree");
        const std::vector<std::string> parts = copyAllParts(":2K", build.second);
        const size_t count = parts.size();
        ASSERT_GE(count, 4u);
        EXPECT_EQ(runOnOtherMachine(build.second, {"/NEXT"}).exitCode, 1u);  // none left

        // Backwards, the last part twice; /PASTE shows its news in a box.
        const std::string tail = " of " + std::to_string(count) + " ";
        for (size_t i = count; i-- > 1;) {
            carry(parts[i]);
            const bool box = i == 1;
            RunResult r = paste(box ? "/PASTE" : "/FORCEPASTE");
            ASSERT_EQ(r.exitCode, 0u) << r.out;
            const std::string missing = "Still missing: 1" +
                                        (i > 1 ? (i == 2 ? ", " : "-") + std::to_string(i) : std::string()) +
                                        ". Paste each of them in the same way.";
            EXPECT_EQ(r.lines.back(), "Part " + std::to_string(i + 1) + tail + "arrived. " + missing);
            ASSERT_EQ(r.boxes.size(), box ? 1u : 0u);
            if (box) {
                EXPECT_EQ(r.boxes[0].text, r.lines.back());
            }
            if (i == count - 1) {
                r = paste();
                EXPECT_EQ(r.lines.back(), "Part " + std::to_string(count) + tail + "had arrived already. " + missing);
            }
            EXPECT_FALSE(exists(dest + "\\tree"));
        }
        carry(parts[0]);
        RunResult last = paste();
        EXPECT_EQ(last.exitCode, 0u) << last.out;
        EXPECT_EQ(last.lines.back(), "Done.");
        expectArrived();
    }
}

TEST_F(TextTransfer, APartCutByTheChannelWritesNothingAndASmallerSizePasses) {
    carry(copyAsText(":16K"), 5000);
    RunResult r = paste();
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text,
              "The text on the clipboard is an incomplete Tarnwick part. The channel may limit its size: copy again "
              "with /TEXT:4K.");
    EXPECT_TRUE(listDir(dest).empty());

    const std::vector<std::string> parts = copyAllParts(":4K");
    EXPECT_GE(parts.size(), 4u);
    for (const std::string& part : parts) {
        carry(part, 5000, "crlf");
        r = paste();
        EXPECT_EQ(r.exitCode, 0u) << r.out;
    }
    EXPECT_EQ(r.lines.back(), "Done.");
    expectArrived();
}

TEST_F(TextTransfer, TheRegisteredFormatWinsOverText) {
    const std::string other = tmp / "other";
    makeDir(other);
    writeFile(other + "\\only-here.txt", "registered");
    ASSERT_EQ(runTarnwick({other}).exitCode, 0u);
    const std::string part = copyAsText("");
    // Still here: the text copy ran on the other machine's clipboard.
    const auto block = getClipboard("Tarnwick_2");
    ASSERT_TRUE(block);
    carry(part);
    addClipboard("Tarnwick_2", *block);
    RunResult r = paste();
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(exists(dest + "\\other\\only-here.txt"));
    EXPECT_FALSE(exists(dest + "\\tree"));
}

}  // namespace
}  // namespace e2e
