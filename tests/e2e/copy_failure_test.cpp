// The copy command when it cannot finish: each failure shows its message,
// exits 1 and leaves the clipboard exactly as it was, at the same point of
// the output with one packing thread or several. Also the limits of the
// 32-bit format, and folder links: those that lead back into the tree,
// those that cannot be opened, and folders whose identity is not unique.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "copy_support.h"

namespace e2e {
namespace {

using namespace copytest;

void putMarker() {
    putClipboardText("marker");
    addClipboard("Tarnwick_1", Bytes(300, 0xEE));
}

// Runs a copy that must fail with text, with each count of packing threads;
// returns its output lines, which are the same for every count.
std::vector<std::string> expectFailure(const std::vector<std::string>& args, const std::string& text,
                                       const RunOptions& options = {}) {
    putMarker();
    ClipboardSnapshot before = snapshotClipboard();
    RunResult r = runEachThreadCount(args, putMarker, options);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.boxes.size(), 1u);
    if (!r.boxes.empty()) {
        EXPECT_EQ(r.boxes[0].caption, "Tarnwick");
        EXPECT_EQ(r.boxes[0].text, text);
        EXPECT_EQ(r.boxes[0].icon, "warning");
        EXPECT_EQ(r.boxes[0].buttons, std::vector<int>{IDOK});
    }
    EXPECT_TRUE(snapshotClipboard() == before) << "the clipboard was touched";
    return r.lines;
}

TEST(CopyFailure, BadFirstPathShowsItsMessage) {
    TempDir dir;
    makeDir(dir / "folder");
    writeFile(dir / "a.txt", "a");
    const struct {
        std::string path;
        const char* text;
    } cases[] = {
        {"/HELP", "Path not found."},
        {dir / "missing", "Path not found."},
        {dir / "*.txt", "Path not found."},
        {"C:\\", "Cannot copy an unnamed path."},
        {dir / "folder\\", "Cannot copy an unnamed path."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        // The path, then the line break that the failure leaves.
        EXPECT_EQ(expectFailure({c.path}, c.text), std::vector<std::string>{c.path});
    }
}

TEST(CopyFailure, MissingPathAfterValidOnesIsWalkedLast) {
    TempDir dir;
    makeDir(dir / "d");
    writeFile(dir / "d\\x.txt", repeatedText(400));
    writeFile(dir / "y.txt", "");
    std::vector<std::string> lines = expectFailure({dir / "d", dir / "y.txt", dir / "gone"}, "Path not found.");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], dir / "d>");
    EXPECT_EQ(lines[1].rfind(dir / "d\\x.txt: 400 bytes -> ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], dir / "y.txt: 0 bytes");
    EXPECT_EQ(lines[3], dir / "gone");
}

TEST(CopyFailure, FileLockedAgainstReading) {
    TempDir dir;
    makeDir(dir / "d");
    writeFile(dir / "d\\locked.bin", randomBytes(100));
    FileLock lock(dir / "d\\locked.bin");
    std::vector<std::string> lines = expectFailure({dir / "d"}, "Error opening file.");
    // The interrupted line ends where the failure struck.
    EXPECT_EQ(lines, (std::vector<std::string>{dir / "d>", dir / "d\\locked.bin: "}));
}

// A folder that its owner may not list: the walk stops there with its
// message, after the entries before it were collected.
TEST(CopyFailure, FolderThatCannotBeListed) {
    TempDir dir;
    makeDir(dir / "d");
    makeDir(dir / "d\\closed");
    writeFile(dir / "d\\closed\\inside.txt", "inside");
    const std::string closed = unixPath(dir / "d\\closed");
    ASSERT_EQ(linuxCall(LinuxCall::Chmod, reinterpret_cast<intptr_t>(closed.c_str()), 0), 0);
    std::vector<std::string> lines;
    const bool ran = runWithoutPermissionOverride([&] { lines = expectFailure({dir / "d"}, "Error finding files."); });
    linuxCall(LinuxCall::Chmod, reinterpret_cast<intptr_t>(closed.c_str()), 0755);
    ASSERT_TRUE(ran) << "could not give up the permission override";
    EXPECT_EQ(lines, (std::vector<std::string>{dir / "d>", dir / "d\\closed>"}));
}

// A file whose length changes while it is read: each copy either stores a
// record whose size and CRC-32 describe exactly the bytes stored, or fails
// with its message and leaves the clipboard as it was. Never a record that
// disagrees with its bytes. The changes that count are those made while
// the copy reads the file, from the moment its line shows the size the copy
// took until the line is complete (Wine's start and the clipboard's work
// left out): without any, the test would show nothing.
TEST(CopyFailure, FileThatGrowsOrShrinksWhileRead) {
    TempDir dir;
    const std::string path = dir / "moving.bin";
    writeFile(path, randomBytes(12 << 20, 5));
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> changes{0};
    std::thread changer([&] {
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        for (uint32_t i = 0; !stop && h != INVALID_HANDLE_VALUE; ++i) {
            // Cut to 4 MiB, then grown to 20 MiB with fresh bytes at the end.
            LARGE_INTEGER at;
            at.QuadPart = (i % 2) ? 20 << 20 : 4 << 20;
            ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
            if (::SetEndOfFile(h)) ++changes;
            if (i % 2) {
                const Bytes tail = randomBytes(4096, i);
                DWORD written = 0;
                at.QuadPart -= tail.size();
                ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
                ::WriteFile(h, tail.data(), DWORD(tail.size()), &written, nullptr);
            }
            ::Sleep(1);
        }
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    });
    int stored = 0, refused = 0;
    uint32_t changedWhileRead = 0;
    for (int run = 0; run < 8; ++run) {
        SCOPED_TRACE(run);
        putMarker();
        const ClipboardSnapshot before = snapshotClipboard();
        // The count at the first and at the last look that found the file's
        // line open; looks come every 30 ms.
        bool reading = false;
        uint32_t first = 0, last = 0;
        RunOptions o;
        o.watch = [&](const std::string& out) {
            const size_t line = out.find(path + ": ");
            if (line == std::string::npos || out.find('\n', line) != std::string::npos) return;
            last = changes;
            if (!reading) first = last;
            reading = true;
        };
        RunResult r = runTarnwick({path}, o);
        changedWhileRead += last - first;
        if (r.exitCode != 0) {
            ++refused;
            ASSERT_EQ(r.boxes.size(), 1u) << r.out;
            EXPECT_EQ(r.boxes[0].text, "Error reading file.");
            EXPECT_TRUE(snapshotClipboard() == before) << "the clipboard was touched";
            continue;
        }
        ++stored;
        Record rec = readSingle(getClipboard("Tarnwick_1").value_or(Bytes()));
        const Bytes content = rec.flag ? inflate(rec.data, rec.size) : rec.data;
        EXPECT_EQ(content.size(), rec.size);
        EXPECT_EQ(crcOf(content), rec.crc);
    }
    stop = true;
    changer.join();
    EXPECT_GT(changedWhileRead, 0u) << "the file never changed while it was read";
    std::printf("[ figures  ] a file changing length while read: %d copies stored, %d refused, %u changes while "
                "read\n", stored, refused, changedWhileRead);
}

// With several threads the files after a failing one are being packed when
// it fails, and the walk has gone on to a path that does not exist: the
// failure reported is still the first one the walk met, after the lines
// before it.
TEST(CopyFailure, FirstFailureInWalkOrderWins) {
    TempDir dir;
    std::string d = dir / "d";
    makeDir(d);
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back("file" + std::to_string(i) + ".txt");
        writeFile(d + "\\" + names.back(), wordText(i % 4 == 0 ? 1200000 : 3000 + 100 * i, i + 1));
    }
    // The locked file comes in the middle of the walk, after slow files.
    std::vector<std::string> order = listDir(d);
    ASSERT_EQ(order.size(), names.size());
    const std::string locked = order[6];
    FileLock lock(d + "\\" + locked);

    std::vector<std::string> lines = expectFailure({d, dir / "missing"}, "Error opening file.");
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], d + ">");
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(lines[i + 1].rfind(d + "\\" + order[i] + ": ", 0), 0u) << lines[i + 1];
    EXPECT_EQ(lines[7], d + "\\" + locked + ": ");
}

// Another program holds the clipboard from before the copy starts until a
// while after the copy has printed its totals, just before it opens the
// clipboard. A moment (what clipboard managers and remote-desktop
// redirection take after every change) is waited out; a program that keeps
// holding it ends the copy with the message and the clipboard as it was.
TEST(CopyFailure, ClipboardHeldByAnotherProgram) {
    TempDir dir;
    writeFile(dir / "a.txt", repeatedText(100));
    writeFile(dir / "b.txt", repeatedText(200));
    struct Case {
        DWORD heldMs;
        bool copied;
    } const cases[] = {{200, true}, {5000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heldMs);
        putMarker();
        ClipboardSnapshot before = snapshotClipboard();
        RunResult r;
        {
            ClipboardHolder holder;
            DWORD totalsAt = 0;
            RunOptions o;
            o.watch = [&](const std::string& out) {
                if (!totalsAt && out.find("\n300 bytes -> ") != std::string::npos) totalsAt = ::GetTickCount();
                if (totalsAt && ::GetTickCount() - totalsAt >= c.heldMs) holder.release();
            };
            r = runTarnwick({dir / "a.txt", dir / "b.txt"}, o);
        }
        // Collected and totalled either way.
        ASSERT_GE(r.lines.size(), 4u) << r.out;
        EXPECT_EQ(r.lines[2], "");
        EXPECT_EQ(r.lines[3].rfind("300 bytes -> ", 0), 0u) << r.lines[3];
        if (c.copied) {
            EXPECT_EQ(r.exitCode, 0u);
            EXPECT_TRUE(r.boxes.empty());
            EXPECT_EQ(std::vector<std::string>(r.lines.begin() + 4, r.lines.end()),
                      (std::vector<std::string>{"Copying data to clipboard...", "Done."}));
            EXPECT_EQ(readTree(getClipboard("Tarnwick_2").value_or(Bytes())).records.size(), 2u);
            continue;
        }
        EXPECT_EQ(r.exitCode, 1u);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, "Error opening clipboard.");
        EXPECT_EQ(r.boxes[0].icon, "warning");
        EXPECT_TRUE(snapshotClipboard() == before);
        EXPECT_EQ(r.lines.size(), 4u) << r.out;
    }
}

// A file of the given length that occupies no disk space.
void makeSparse(const std::string& path, uint64_t length) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = LONG(length >> 32);
    ::SetFilePointer(h, LONG(uint32_t(length)), &high, FILE_BEGIN);
    EXPECT_TRUE(::SetEndOfFile(h));
    ::CloseHandle(h);
}

TEST(CopyLimits, FilesOfTwoGigabytesOrMoreAreRefusedBeforeReading) {
    // 4 GiB and 10 bytes would read as 10 bytes to a 32-bit size query.
    for (uint64_t length : {0x80000000ull, 0xFFFFFFFFull, 0x10000000Aull}) {
        SCOPED_TRACE(length);
        TempDir dir;
        std::string path = dir / "huge.bin";
        makeSparse(path, length);
        writeFile(dir / "before.txt", "before");
        std::vector<std::string> lines =
            expectFailure({dir / "before.txt", path}, "Cannot copy a file of 2 GB or more.");
        // No size was printed, none read.
        EXPECT_EQ(lines, (std::vector<std::string>{dir / "before.txt: 6 bytes -> 6 bytes (100.00%)", path + ": "}));
    }
}

struct Walked {
    std::string path;  // joined from the record names
    Record record;
};

std::vector<Walked> walkTree(const Tree& t) {
    std::vector<Walked> out;
    for (const Record& r : t.records) {
        std::string path = r.parent < 0 ? r.name : out.at(size_t(r.parent)).path + "\\" + r.name;
        out.push_back({path, r});
    }
    return out;
}

std::vector<std::string> pathsOf(const std::vector<Walked>& w) {
    std::vector<std::string> p;
    for (const Walked& x : w) p.push_back(x.path);
    return p;
}

TEST(CopyLinks, LinkBackToAnAncestorIsRecordedButNotEntered) {
    TempDir dir;
    UnixEntries unix;
    makeDir(dir / "a");
    makeDir(dir / "a\\sub");
    writeFile(dir / "a\\x.txt", repeatedText(300));
    writeFile(dir / "a\\sub\\y.txt", "y");
    makeDir(dir / "outside");
    writeFile(dir / "outside\\o.txt", "outside the tree");
    unix.symlink("..", dir / "a\\sub\\up");               // a, two levels up the walk
    unix.symlink(".", dir / "a\\self");                    // a itself
    unix.symlink("../outside", dir / "a\\elsewhere");      // no loop: followed
    ASSERT_EQ(attributes(dir / "a\\sub\\up"), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

    RunResult r = runTarnwick({dir / "a"});
    ASSERT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(r.boxes.empty());
    Tree t = readTree(getClipboard("Tarnwick_2").value_or(Bytes()));
    std::vector<Walked> walked = walkTree(t);
    std::vector<std::string> paths = pathsOf(walked);
    std::vector<std::string> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"a", "a\\elsewhere", "a\\elsewhere\\o.txt", "a\\self", "a\\sub",
                                                 "a\\sub\\up", "a\\sub\\y.txt", "a\\x.txt"}));
    for (const Walked& w : walked) {
        if (w.record.name == "up" || w.record.name == "self") {
            EXPECT_EQ(w.record.type, 1u);
            EXPECT_EQ(w.record.attributes, DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        }
    }
    // Each entry printed once, links included, then the empty line, the
    // totals, and the two closing lines.
    EXPECT_EQ(r.lines.size(), walked.size() + 4) << r.out;
}

TEST(CopyLinks, TopLevelLinkIntoItsOwnTreeStopsAtTheLoop) {
    TempDir dir;
    UnixEntries unix;
    makeDir(dir / "a");
    makeDir(dir / "a\\sub");
    writeFile(dir / "a\\sub\\y.txt", repeatedText(50));
    unix.symlink("..", dir / "a\\sub\\up");

    // Walking a through the link: up (= a), sub, then sub\up is a again.
    RunResult r = runTarnwick({dir / "a\\sub\\up"});
    ASSERT_EQ(r.exitCode, 0u) << r.out;
    std::vector<std::string> paths = pathsOf(walkTree(readTree(getClipboard("Tarnwick_2").value_or(Bytes()))));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"up", "up\\sub", "up\\sub\\up", "up\\sub\\y.txt"}));
}

// A link whose path runs past MAX_PATH while its folder's does not: once
// beyond the reach of the ANSI calls, so that the copy ended with "Error
// finding files."; now opened, identified and followed like any other.
TEST(CopyLinks, LinkPastMaxPathIsFollowed) {
    TempDir dir;
    UnixEntries unix;
    makeDir(dir / "target");
    writeFile(dir / "target\\t.txt", "lost if the copy went on");
    std::string deep = dir / std::string(MAX_PATH - 20 - dir.path().size(), 'd');
    makeDir(deep);
    std::string link = deep + "\\" + std::string(30, 'l');
    ASSERT_GT(link.size(), size_t(MAX_PATH));
    unix.symlink(unixPath(dir / "target"), link);

    RunResult r = runTarnwick({deep});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(r.boxes.empty());
    ASSERT_GE(r.lines.size(), 3u) << r.out;
    EXPECT_EQ(r.lines[1], link + ">");
    EXPECT_EQ(r.lines[2], link + "\\t.txt: 24 bytes -> 24 bytes (100.00%)");
}

// Which folder a path is, as the volume serial and the 64-bit file index.
std::pair<DWORD, uint64_t> identity(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE) return {};
    ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    return {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

// File indexes are not unique everywhere: two fresh tmpfs number their
// folders alike, and Wine gives both the same serial. A plain folder that
// shares its identity with one the walk is inside is still a folder of its
// own and is copied whole; so is a link to it, whose final path says that
// it leads elsewhere. (Mounting needs CAP_SYS_ADMIN.)
TEST(CopyLinks, FolderSharingTheIdentityOfAnOuterOneIsCopied) {
    TempDir dir;
    UnixEntries unix;
    makeDir(dir / "m");
    if (!unix.mountTmpfs(dir / "m")) GTEST_SKIP() << "needs root: this process may not mount a file system";
    makeDir(dir / "m\\a");  // the first folder of one file system...
    makeDir(dir / "m\\a\\mnt");
    ASSERT_TRUE(unix.mountTmpfs(dir / "m\\a\\mnt"));
    makeDir(dir / "m\\a\\mnt\\b");  // ...and of the other
    writeFile(dir / "m\\a\\mnt\\b\\f.txt", "inside b");
    if (identity(dir / "m\\a") != identity(dir / "m\\a\\mnt\\b"))
        GTEST_SKIP() << "the two folders do not share an identity here";
    ASSERT_EQ(attributes(dir / "m\\a\\mnt\\b"), DWORD(FILE_ATTRIBUTE_DIRECTORY)) << "a plain folder, not a link";
    unix.symlink(unixPath(dir / "m\\a\\mnt\\b"), dir / "m\\a\\link");

    RunResult r = runTarnwick({dir / "m\\a"});
    ASSERT_EQ(r.exitCode, 0u) << r.out;
    std::vector<std::string> paths = pathsOf(walkTree(readTree(getClipboard("Tarnwick_2").value_or(Bytes()))));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"a", "a\\link", "a\\link\\f.txt", "a\\mnt", "a\\mnt\\b",
                                               "a\\mnt\\b\\f.txt"}));
}

}  // namespace
}  // namespace e2e
