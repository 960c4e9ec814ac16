// The block as text between two machines (two Wine prefixes, two
// clipboards) through a channel that carries only text: copied with /TEXT
// and /NEXT on one, carried by the relay, pasted on the other.
#include <thread>

#include "copy_support.h"
#include "tarnwick/transfer/text_part.h"
#include "text_support.h"

namespace e2e {
namespace {

std::string toUtf16le(const std::string& ascii) {
    std::string wide;
    for (char c : ascii) wide += std::string{c, '\0'};
    return wide;
}

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
    // Nothing was kept for a copy of one part, on either side.
    EXPECT_FALSE(exists(otherTransferFolder() + "\\outgoing.dat"));
    EXPECT_EQ(keptCopies(transferFolder()), 0u);
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

        // Kept first: a part of the copy's id with another first line, as a
        // copy that was never finished would leave. The genuine parts drop it.
        // The relay's files are UTF-16LE; a part's characters are ASCII.
        const std::string wide = readFile(parts[1]);
        std::string forged;
        for (size_t i = 0; i < wide.size(); i += 2) forged += wide[i];
        ASSERT_NE(forged.find(" crc="), std::string::npos);
        forged.replace(forged.find(" crc=") + 5, 8, "00000000");
        forged = toUtf16le(forged);
        writeFile(tmp / "forged", forged);
        carry(sharedPath(tmp / "forged"));
        RunResult kept = paste();
        ASSERT_EQ(kept.exitCode, 0u) << kept.out << (kept.boxes.empty() ? "" : kept.boxes[0].text);

        // Backwards, the last part twice; /PASTE shows its news in a box.
        const std::string tail = " of " + std::to_string(count) + " ";
        for (size_t i = count; i-- > 1;) {
            carry(parts[i]);
            const bool box = i == 1;
            RunResult r = paste(box ? "/PASTE" : "/FORCEPASTE");
            ASSERT_EQ(r.exitCode, 0u) << r.out;
            const bool replaced = std::find(r.lines.begin(), r.lines.end(),
                                            "Parts kept under this copy's id belonged to another copy: they were "
                                            "dropped.") != r.lines.end();
            EXPECT_EQ(replaced, i == count - 1);
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
        // The parts went once pasted; the last one pasted again starts nothing.
        EXPECT_EQ(keptCopies(transferFolder()), 0u);
        carry(parts.back());
        last = paste("/PASTE");
        EXPECT_EQ(last.exitCode, 0u) << last.out;
        const std::string again = "Part " + std::to_string(count) + tail +
                                  "belongs to a copy that was pasted already. Nothing was done.";
        EXPECT_EQ(last.lines.back(), again);
        ASSERT_EQ(last.boxes.size(), 1u);
        EXPECT_EQ(last.boxes[0].text, again);
        EXPECT_EQ(keptCopies(transferFolder()), 0u);
    }
}

// /NEXT on this machine, where its boxes can be read.
TEST_F(TextTransfer, NextSaysWhatWaitsAndTheKeptCopyGoesWithTheNextCopyOrClear) {
    const std::string kept = transferFolder() + "\\outgoing.dat";
    auto nextSays = [](const std::vector<std::string>& args) {
        std::vector<std::string> all = {"/NEXT"};
        all.insert(all.end(), args.begin(), args.end());
        RunResult r = runTarnwick(all);
        EXPECT_EQ(r.exitCode, 1u);
        return r.boxes.size() == 1 ? r.boxes[0].text : "(" + std::to_string(r.boxes.size()) + " boxes)";
    };
    const std::string nothing = "No copy is waiting to be sent in parts: copy with Tarnwick /TEXT first.";
    EXPECT_EQ(nextSays({}), nothing);
    // What copies stopped before they put their kept file in place left.
    makeDir(transferFolder());
    writeFile(kept + ".4242-1.new", "half");
    writeFile(kept + ".new", "half");
    RunResult r = runTarnwick({"/TEXT:2K", source});
    ASSERT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_FALSE(exists(kept + ".4242-1.new"));
    EXPECT_FALSE(exists(kept + ".new"));
    unsigned count = 0;
    for (const std::string& line : r.lines) std::sscanf(line.c_str(), "The copy is %u parts of text.", &count);
    ASSERT_GE(count, 4u);
    for (unsigned n = 2; n <= count; ++n) ASSERT_EQ(runTarnwick({"/NEXT"}).exitCode, 0u);
    const std::string n = std::to_string(count);
    EXPECT_EQ(nextSays({}), "All " + n + " parts of the copy were placed. Tarnwick /NEXT n places part n again.");
    EXPECT_EQ(nextSays({std::to_string(count + 1)}), "The copy has " + n + " parts: Tarnwick /NEXT n takes n from 1 to " + n + ".");

    // A plain copy, or /CLEAR, puts something else on the clipboard: the
    // copy of the user's files kept for /NEXT goes.
    for (const std::vector<std::string>& other : {std::vector<std::string>{source}, {"/CLEAR"}}) {
        ASSERT_EQ(runTarnwick({"/TEXT:2K", source}).exitCode, 0u);
        ASSERT_TRUE(exists(kept));
        ASSERT_EQ(runTarnwick(other).exitCode, 0u);
        EXPECT_FALSE(exists(kept)) << other[0];
        EXPECT_EQ(nextSays({}), nothing);
    }
}

// Links planted where the kept copies lie are never followed: not by /NEXT
// or /CLEAR, nor when a new copy makes room among the kept ones. A link to
// a file goes itself; one to a folder, which Wine cannot remove alone, stays
// and is never entered.
TEST_F(TextTransfer, LinksInTheTempFolderAreNeverFollowed) {
    const std::string victim = tmp / "victim";
    makeDir(victim);
    writeFile(victim + "\\keep.txt", "mine");
    writeFile(victim + "\\part.txt", "mine too");
    makeDir(transferFolder());
    copytest::UnixEntries unix;
    for (int i = 1; i <= 5; ++i) unix.symlink(unixPath(victim), transferFolder() + "\\in-000000000000000" + std::to_string(i));
    // Four real copies kept, the earliest with a link among its parts.
    for (int i = 6; i <= 9; ++i) {
        const std::string folder = transferFolder() + "\\in-000000000000000" + std::to_string(i);
        makeDir(folder);
        writeFile(folder + "\\first.txt", "TARNWICK PART v1");
        if (i == 6) unix.symlink(unixPath(victim + "\\part.txt"), folder + "\\1.part");
        setLastWriteTime(folder, 0x01D0000000000000ull + uint64_t(i) * 10000000);
    }
    const std::string kept = transferFolder() + "\\outgoing.dat";
    unix.symlink(unixPath(victim + "\\keep.txt"), kept);

    RunResult r = runTarnwick({"/NEXT"});
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "No copy is waiting to be sent in parts: copy with Tarnwick /TEXT first.");
    EXPECT_EQ(readFile(victim + "\\keep.txt"), "mine");
    unix.symlink(unixPath(victim + "\\keep.txt"), kept);
    EXPECT_EQ(runTarnwick({"/CLEAR"}).exitCode, 0u);
    EXPECT_EQ(readFile(victim + "\\keep.txt"), "mine");

    carry(copyAsText(":2K"));
    r = paste();
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.lines.back().rfind("Part 1 of ", 0), 0u) << r.lines.back();
    EXPECT_FALSE(exists(transferFolder() + "\\in-0000000000000006"));
    EXPECT_EQ(readFile(victim + "\\keep.txt"), "mine");
    EXPECT_EQ(readFile(victim + "\\part.txt"), "mine too");
    EXPECT_EQ(listDir(victim).size(), 2u);
}

// Two pastes at once of one copy's part: each keeps it through a file of
// its own, one after the other, and the copy stays whole.
TEST_F(TextTransfer, TwoPastesAtOnceKeepOneCopyWhole) {
    const std::vector<std::string> parts = copyAllParts(":16K");
    ASSERT_GE(parts.size(), 3u);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        carry(parts[i]);
        // Three at once, each with its boxes read and answered, so that one
        // that fails says why instead of waiting on its box.
        RunResult pastes[3];
        std::vector<std::thread> running;
        for (RunResult& r : pastes) running.emplace_back([&r, this] { r = paste(); });
        for (std::thread& t : running) t.join();
        for (const RunResult& r : pastes) {
            EXPECT_EQ(r.exitCode, 0u) << r.out;
            for (const Box& box : r.boxes) ADD_FAILURE() << "box: " << box.text;
        }
    }
    carry(parts.back());
    RunResult r = paste();
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(r.lines.back(), "Done.");
    expectArrived();
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

// A payload of 2 GiB or more does not fit in a 32-bit process: the part
// that completes it ends with "Not enough memory.", the clipboard and the
// destination as they were.
TEST_F(TextTransfer, PayloadTooLargeForTheAddressSpace) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "32-bit build only: an x64 process holds 2 GiB";
    tw::PartHeader h;
    h.copyId = 0x5A5A5A5A00000001ull;
    h.format = 2;
    h.blockLength = 0x80000010u;
    h.partSize = 0x40000000u;
    h.count = 3;
    h.number = 1;
    // Parts 1 and 2 kept already, of their full length (sparse files); the
    // last one, of 16 bytes, travels.
    const std::string folder = transferFolder() + "\\in-5A5A5A5A00000001";
    makeDir(transferFolder());
    makeDir(folder);
    writeFile(folder + "\\first.txt", tw::headerLine(h));
    for (const char* name : {"\\1.part", "\\2.part"}) {
        HANDLE file = ::CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        size.QuadPart = h.partSize;
        EXPECT_TRUE(::SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file));
        ::CloseHandle(file);
    }
    h.number = 3;
    const uint8_t last[16] = {1, 2, 3};
    putClipboardUnicodeText(tw::partText(h, last));
    const ClipboardSnapshot before = snapshotClipboard();
    RunResult r = paste("/PASTE");
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Not enough memory.");
    EXPECT_TRUE(snapshotClipboard() == before);
    EXPECT_TRUE(listDir(dest).empty());
}

}  // namespace
}  // namespace e2e
