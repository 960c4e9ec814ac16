// Helpers shared by the copy tests: an independent reading of the blocks
// Tarnwick leaves on the clipboard, the texts its progress lines should
// hold, runs that compare one packing thread with several, and file-system
// fixtures that Wine cannot make through Win32.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace copytest {

inline uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// One FileInfo or FolderInfo as read from the block, with a file's stored
// bytes.
struct Record {
    uint32_t length = 0;
    int32_t parent = -1;
    uint32_t type = 0;  // 0 file, 1 folder
    std::string name;
    uint32_t size = 0;
    uint32_t crc = 0;
    uint64_t time = 0;
    uint32_t attributes = 0;
    uint8_t flag = 0;
    uint32_t stored = 0;
    Bytes data;
};

inline Record fileInfoAt(const uint8_t* p) {
    Record r;
    r.name = std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 264));
    r.size = u32(p + 264);
    r.crc = u32(p + 268);
    r.time = uint64_t(u32(p + 276)) << 32 | u32(p + 272);
    r.attributes = u32(p + 280);
    r.flag = p[284];
    r.stored = u32(p + 288);
    return r;
}

// The single-file block: a FileInfo and its stored bytes, nothing more.
inline Record readSingle(const Bytes& b) {
    EXPECT_GE(b.size(), 292u);
    if (b.size() < 292) return {};
    Record r = fileInfoAt(b.data());
    r.length = 292;
    EXPECT_EQ(b.size(), 292u + r.stored) << "block length";
    if (b.size() == 292u + r.stored) r.data.assign(b.begin() + 292, b.end());
    return r;
}

struct Tree {
    uint32_t headerLength = 0;
    uint8_t version = 0;
    uint32_t count = 0;
    uint32_t recordArea = 0;
    std::vector<uint32_t> offsets;  // where each record starts
    std::vector<Record> records;
};

// Reads a tree block strictly: every length has to add up to the block.
inline Tree readTree(const Bytes& b) {
    Tree t;
    EXPECT_GE(b.size(), 16u);
    if (b.size() < 16) return t;
    t.headerLength = u32(b.data());
    t.version = b[4];
    t.count = u32(b.data() + 8);
    t.recordArea = u32(b.data() + 12);
    size_t at = t.headerLength, data = size_t(t.headerLength) + t.recordArea;
    for (uint32_t i = 0; i < t.count; ++i) {
        if (at + 12 > b.size()) {
            ADD_FAILURE() << "record " << i << " outside the block";
            return t;
        }
        const uint8_t* p = b.data() + at;
        uint32_t length = u32(p), type = u32(p + 8);
        Record r = type == 0 ? fileInfoAt(p + 12) : Record{};
        if (type == 1) {
            r.name = std::string(reinterpret_cast<const char*>(p + 12), strnlen(reinterpret_cast<const char*>(p + 12), 264));
            r.attributes = u32(p + 276);
        }
        r.length = length;
        r.parent = int32_t(u32(p + 4));
        r.type = type;
        if (type == 0 && r.stored) {
            if (data + r.stored > b.size()) {
                ADD_FAILURE() << "data of record " << i << " outside the block";
                return t;
            }
            r.data.assign(b.begin() + data, b.begin() + data + r.stored);
            data += r.stored;
        }
        t.offsets.push_back(uint32_t(at));
        t.records.push_back(r);
        at += length;
    }
    EXPECT_EQ(at, size_t(t.headerLength) + t.recordArea) << "records fill the record area";
    EXPECT_EQ(data, b.size()) << "data area ends the block";
    return t;
}

inline uint32_t crcOf(const Bytes& b) { return uint32_t(crc32(0L, b.empty() ? Z_NULL : b.data(), uInt(b.size()))); }

inline Bytes inflate(const Bytes& stream, uint32_t size) {
    Bytes out(size ? size : 1);
    uLongf length = size;
    int rc = uncompress(out.data(), &length, stream.data(), uLong(stream.size()));
    EXPECT_EQ(rc, Z_OK);
    EXPECT_EQ(length, size);
    out.resize(length);
    return out;
}

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A file record against the file on disk: sizes, CRC, time, attributes,
// and stored bytes that give back the content. Raw when shorter than 16
// bytes or when compression would not shrink it.
inline void expectFileMatches(const Record& r, const std::string& path, const std::string& name) {
    SCOPED_TRACE(path);
    Bytes content = bytesOf(readFile(path));
    EXPECT_EQ(r.type, 0u);
    EXPECT_EQ(r.name, name);
    EXPECT_EQ(r.size, content.size());
    EXPECT_EQ(r.crc, crcOf(content));
    EXPECT_EQ(r.time, lastWriteTime(path));
    EXPECT_EQ(r.attributes, attributes(path));
    EXPECT_EQ(r.stored, r.data.size());
    if (content.empty()) {
        EXPECT_EQ(r.flag, 0);
        EXPECT_EQ(r.stored, 0u);
        EXPECT_EQ(r.crc, 0u);
    } else if (r.flag) {
        EXPECT_GE(content.size(), 16u) << "short files stay raw";
        EXPECT_LT(r.stored, r.size) << "compressed only when smaller";
        EXPECT_EQ(inflate(r.data, r.size), content);
        // Exactly compress2 at level 9.
        uLongf bound = compressBound(uLong(content.size()));
        Bytes expected(bound);
        EXPECT_EQ(compress2(expected.data(), &bound, content.data(), uLong(content.size()), 9), Z_OK);
        expected.resize(bound);
        EXPECT_EQ(r.data, expected);
    } else {
        EXPECT_EQ(r.stored, r.size);
        EXPECT_EQ(r.data, content);
    }
}

// The size texts of the progress lines, for the ranges the tests use.
inline std::string sizeText(uint32_t n) {
    char t[64];
    if (n == 1) return "1 byte";
    if (n < 1024) {
        std::snprintf(t, sizeof t, "%u bytes", unsigned(n));
        return t;
    }
    // Two decimals, an exact half rounded up.
    const uint64_t unit = n < 1024 * 1024 ? 1024 : 1024 * 1024;
    const uint64_t hundredths = (uint64_t(n) * 100 + unit / 2) / unit;
    std::snprintf(t, sizeof t, "%u.%02u %s", unsigned(hundredths / 100), unsigned(hundredths % 100),
                  unit == 1024 ? "KB" : "MB");
    return t;
}

inline std::string ratioText(uint32_t part, uint32_t whole) {
    char t[64];
    std::snprintf(t, sizeof t, " (%.2f%%)", double(part) / double(whole) * 100.0);
    return t;
}

// "path: size -> stored (ratio%)", or "path: 0 bytes" for an empty file.
inline std::string fileLine(const std::string& shownPath, uint32_t size, uint32_t stored) {
    std::string line = shownPath + ": " + sizeText(size);
    if (size) line += " -> " + sizeText(stored) + ratioText(stored, size);
    return line;
}

// What ends every successful run, with the totals line when one is due.
inline std::vector<std::string> tail(uint32_t files, uint32_t total, uint32_t stored) {
    std::vector<std::string> t = {""};
    if (files > 1 && total) t.push_back(sizeText(total) + " -> " + sizeText(stored) + ratioText(stored, total));
    t.push_back("Copying data to clipboard...");
    t.push_back("Done.");
    return t;
}

// Text of pseudo-random words: it shrinks, but level 9 works for it, so a
// few megabytes keep a packing thread busy while others pack later files.
inline std::string wordText(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"clipboard", "folder", "record", "stored", "bytes", "block", "index",
                                         "parent", "time", "name", "path", "copy", "paste", "the", "a", "of",
                                         "to", "and", "with", "while", "every", "file", "walk", "thread"};
    std::string s;
    s.reserve(n + 16);
    uint32_t x = seed ? seed : 1;
    while (s.size() < n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s += kWords[x % (sizeof kWords / sizeof *kWords)];
        s += (x >> 8) % 11 ? ' ' : '\n';
    }
    s.resize(n);
    return s;
}

// Tarnwick packs files on as many threads as TARNWICK_PACK_THREADS says
// (a test aid); the runs started while this object lives inherit it.
class PackThreads {
public:
    explicit PackThreads(unsigned n) {
        ::SetEnvironmentVariableA("TARNWICK_PACK_THREADS", std::to_string(n).c_str());
    }
    ~PackThreads() { ::SetEnvironmentVariableA("TARNWICK_PACK_THREADS", nullptr); }
    PackThreads(const PackThreads&) = delete;
    PackThreads& operator=(const PackThreads&) = delete;
};

// Every file on the walking thread, then on several workers whatever this
// machine has.
constexpr unsigned kThreadCounts[] = {1, 4};

inline std::vector<std::string> boxTexts(const RunResult& r) {
    std::vector<std::string> t;
    for (const Box& b : r.boxes) t.push_back(b.caption + "|" + b.text + "|" + b.icon);
    return t;
}

// Runs the same copy once for each count of kThreadCounts, the clipboard
// set up by prepare before each, and expects the same from every run: exit
// code, output to the byte, message boxes and the clipboard afterwards
// (the same block, or the clipboard as prepare left it). Returns the last
// run, with the clipboard as it left it.
inline RunResult runEachThreadCount(const std::vector<std::string>& args, const std::function<void()>& prepare,
                                    const RunOptions& options = {}) {
    RunResult first, r;
    ClipboardSnapshot firstClipboard;
    for (unsigned threads : kThreadCounts) {
        SCOPED_TRACE("packing threads: " + std::to_string(threads));
        if (prepare) prepare();
        {
            PackThreads set(threads);
            r = runTarnwick(args, options);
        }
        ClipboardSnapshot clipboard = snapshotClipboard();
        if (threads == kThreadCounts[0]) {
            first = r;
            firstClipboard = clipboard;
            continue;
        }
        EXPECT_EQ(r.exitCode, first.exitCode);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, first.out);
        EXPECT_EQ(boxTexts(r), boxTexts(first));
        EXPECT_TRUE(clipboard == firstClipboard) << "the clipboard differs from the one-thread run's";
    }
    return r;
}

// Wine's CreateSymbolicLink is a stub and Win32 cannot make a name of dots
// only or mount a file system, but under Wine the test itself is a Linux
// process: such entries are made with the kernel's own calls, and removed
// the same way, since DeleteFile cannot name them either.
class UnixEntries {
public:
    UnixEntries() = default;
    ~UnixEntries() {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) linuxCall(LinuxCall::Unlink, word(it->c_str()));
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it)
            linuxCall(LinuxCall::Umount2, word(it->c_str()), 2 /* MNT_DETACH */);
    }
    UnixEntries(const UnixEntries&) = delete;
    UnixEntries& operator=(const UnixEntries&) = delete;

    // A symbolic link at the Windows path linkPath pointing to target (a
    // Unix path, relative to the link's folder or absolute).
    void symlink(const std::string& target, const std::string& linkPath) {
        std::string link = unixPath(linkPath);
        ASSERT_EQ(linuxCall(LinuxCall::Symlink, word(target.c_str()), word(link.c_str())), 0) << link;
        made_.push_back(link);
    }
    // A regular file under any name the kernel takes.
    void file(const std::string& windowsPath, const std::string& content) {
        std::string path = unixPath(windowsPath);
        intptr_t fd = linuxCall(LinuxCall::Open, word(path.c_str()), 0x41 /* O_WRONLY|O_CREAT */, 0644);
        ASSERT_GE(fd, 0) << path;
        linuxCall(LinuxCall::Write, fd, word(content.data()), intptr_t(content.size()));
        linuxCall(LinuxCall::Close, fd);
        made_.push_back(path);
    }
    // A new, empty tmpfs over the existing folder at the Windows path. False
    // where this process may not mount (no CAP_SYS_ADMIN).
    bool mountTmpfs(const std::string& windowsPath) {
        std::string target = unixPath(windowsPath);
        if (linuxCall(LinuxCall::Mount, word("none"), word(target.c_str()), word("tmpfs"), 0, 0) != 0) return false;
        mounts_.push_back(target);
        return true;
    }

private:
    static intptr_t word(const char* p) { return reinterpret_cast<intptr_t>(p); }
    std::vector<std::string> made_;
    std::vector<std::string> mounts_;
};

}  // namespace copytest
}  // namespace e2e
