// Copy and paste under load: a tree of 20,000 small files in nested
// folders, one file of 1 GiB of mixed content, and a copy too large for a
// 32-bit address space. Each tree is copied, pasted into an empty folder
// and compared byte for byte with its source, last-write times and
// attributes included. Time and peak memory of both sides are printed as
// figures; nothing here is a timed test.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "tarnwick/archive/layout.h"

namespace e2e {
namespace {

void printRun(const char* what, const RunResult& r) {
    std::printf("[ figures  ] %s: %.1f s, peak working set %.1f MiB\n", what, r.seconds,
                double(r.peakMemory) / 1048576.0);
    std::fflush(stdout);
}

void printBlock(const ClipboardSnapshot& clipboard) {
    for (const auto& format : clipboard.formats)
        if (format.first.rfind("Tarnwick_", 0) == 0)
            std::printf("[ figures  ] block %s: %.1f MiB\n", format.first.c_str(), double(format.second.size()) / 1048576.0);
}

RunResult runChecked(const std::vector<std::string>& args) {
    RunOptions o;
    o.timeoutMs = 20 * 60 * 1000;
    RunResult r = runTarnwick(args, o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << (r.lines.empty() ? "" : r.lines.back());
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
    return r;
}

// Writes a file with its time and attributes through one handle.
void makeFile(const std::string& path, const Bytes& content, uint64_t time, DWORD attributes) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    if (!content.empty()) ::WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr);
    FILETIME t{DWORD(time), DWORD(time >> 32)};
    ::SetFileTime(h, nullptr, nullptr, &t);
    ::CloseHandle(h);
    ASSERT_EQ(written, content.size()) << path;
    if (attributes != FILE_ATTRIBUTE_ARCHIVE) setAttributes(path, attributes);
}

// Compares two files in pieces, so that neither is held whole.
bool sameBytes(const std::string& a, const std::string& b) {
    HANDLE ha = ::CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE hb = ::CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE;
    std::vector<char> pa(1 << 20), pb(1 << 20);
    while (same) {
        DWORD na = 0, nb = 0;
        same = ::ReadFile(ha, pa.data(), DWORD(pa.size()), &na, nullptr) &&
               ::ReadFile(hb, pb.data(), DWORD(pb.size()), &nb, nullptr) && na == nb &&
               std::equal(pa.begin(), pa.begin() + na, pb.begin());
        if (na == 0) break;
    }
    if (ha != INVALID_HANDLE_VALUE) ::CloseHandle(ha);
    if (hb != INVALID_HANDLE_VALUE) ::CloseHandle(hb);
    return same;
}

// Walks both folders side by side: names, bytes, last-write times and the
// attribute bits a paste restores. Returns how many entries it compared.
size_t expectSameTree(const std::string& source, const std::string& pasted) {
    std::vector<std::string> names = listDir(source), got = listDir(pasted);
    std::sort(names.begin(), names.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, names) << source;
    size_t compared = 0;
    for (const std::string& name : names) {
        const std::string a = source + "\\" + name, b = pasted + "\\" + name;
        WIN32_FILE_ATTRIBUTE_DATA da, db;
        if (!::GetFileAttributesExA(a.c_str(), GetFileExInfoStandard, &da) ||
            !::GetFileAttributesExA(b.c_str(), GetFileExInfoStandard, &db)) {
            ADD_FAILURE() << "missing: " << b;
            continue;
        }
        ++compared;
        EXPECT_EQ(db.dwFileAttributes & 0x37, da.dwFileAttributes & 0x37) << b;
        if (da.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            compared += expectSameTree(a, b);
            continue;
        }
        EXPECT_EQ(db.ftLastWriteTime.dwLowDateTime, da.ftLastWriteTime.dwLowDateTime) << b;
        EXPECT_EQ(db.ftLastWriteTime.dwHighDateTime, da.ftLastWriteTime.dwHighDateTime) << b;
        EXPECT_TRUE(sameBytes(a, b)) << "content differs: " << b;
    }
    return compared;
}

// Copies the paths, pastes into an empty folder, compares, and prints the
// figures of both sides.
void roundTrip(const std::string& source, const std::vector<std::string>& names, const char* what,
               size_t expectedEntries) {
    std::vector<std::string> paths;
    for (const std::string& n : names) paths.push_back(source + "\\" + n);
    RunResult copy = runChecked(paths);
    printRun((std::string(what) + ", copy").c_str(), copy);
    if (copy.exitCode != 0) return;
    const ClipboardSnapshot copied = snapshotClipboard();
    printBlock(copied);

    TempDir dest;
    RunResult paste = runChecked({"/PASTE", dest.path()});
    printRun((std::string(what) + ", paste").c_str(), paste);
    ASSERT_FALSE(paste.lines.empty());
    EXPECT_EQ(paste.lines.back(), "Done.");
    EXPECT_EQ(paste.lines.size(), expectedEntries + 4);
    EXPECT_EQ(expectSameTree(source, dest.path()), expectedEntries);
    EXPECT_TRUE(snapshotClipboard() == copied);
}

TEST(Stress, TwentyThousandSmallFilesInNestedFolders) {
    // 20 folders of 10 folders of 100 files: 0 to 2,000 bytes each, text
    // and noise, a time of their own, every fifth one with attribute bits.
    TempDir src;
    const std::string top = src / "tree";
    makeDir(top);
    uint32_t seed = 1;
    size_t files = 0, bytes = 0;
    for (int a = 0; a < 20; ++a) {
        const std::string fa = top + "\\a" + std::to_string(a);
        makeDir(fa);
        for (int b = 0; b < 10; ++b) {
            const std::string fb = fa + "\\b" + std::to_string(b);
            makeDir(fb);
            for (int f = 0; f < 100; ++f, ++files) {
                seed = seed * 1103515245u + 12345u;
                const size_t n = (seed >> 8) % 2001;
                const std::string text = repeatedText(n + f);
                Bytes content = (f % 3) ? Bytes(text.begin() + f, text.end()) : randomBytes(n, seed | 1);
                static const DWORD kBits[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY};
                const DWORD attributes = (f % 5) ? FILE_ATTRIBUTE_ARCHIVE : kBits[(f / 5) % 4];
                bytes += content.size();
                makeFile(fb + "\\f" + std::to_string(f) + ".dat", content, 0x01D5000000000000ull + seed, attributes);
            }
        }
    }
    std::printf("[ figures  ] tree: %zu files, %zu bytes, 221 folders\n", files, bytes);
    roundTrip(src.path(), {"tree"}, "20,000 small files", files + 221);
}

// Words in a random order: text that compresses, but slowly at level 9.
Bytes words(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"clipboard ", "folder ", "archive ", "record ", "stored ", "bytes ",
                                         "window ",    "handle ", "memory ",  "block ",  "index ",  "parent ",
                                         "the ",       "a ",      "of ",      "to ",     "and ",    "is\r\n"};
    Bytes out;
    out.reserve(n + 16);
    while (out.size() < n) {
        seed = seed * 1103515245u + 12345u;
        const char* w = kWords[(seed >> 16) % 18];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

// The single-file block of a file, made here in pieces (zlib's streaming
// deflate at level 9), for a build whose copy cannot hold the file.
Bytes singleFileBlockOf(const std::string& path, const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    Bytes block(tw::kFileInfoSize, 0);
    tw::FileInfo info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.name, name.data(), name.size());
    z_stream z{};
    EXPECT_EQ(::deflateInit(&z, 9), Z_OK);
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<uint8_t> in(1 << 20), out(1 << 20);
    uint32_t crc = uint32_t(::crc32(0, nullptr, 0)), size = 0;
    int rc = Z_OK;
    for (bool last = false; !last;) {
        DWORD got = 0;
        ::ReadFile(h, in.data(), DWORD(in.size()), &got, nullptr);
        last = got == 0;
        crc = uint32_t(::crc32(crc, in.data(), got));
        size += got;
        z.next_in = in.data();
        z.avail_in = got;
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            rc = ::deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            block.insert(block.end(), out.data(), out.data() + (out.size() - z.avail_out));
        } while (z.avail_out == 0);
    }
    ::CloseHandle(h);
    ::deflateEnd(&z);
    EXPECT_EQ(rc, Z_STREAM_END);
    info.uncompressedSize.set(size);
    info.crc32.set(crc);
    info.lastWriteTime.set(uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime);
    info.attributes.set(data.dwFileAttributes);
    info.compressed = 1;
    info.storedSize.set(uint32_t(block.size() - tw::kFileInfoSize));
    std::memcpy(block.data(), &info, sizeof info);
    return block;
}

// 1 GiB in 1 MiB stretches of five kinds: repeated text, words, noise,
// zeros; three eighths noise, so that the block stays large.
TEST(Stress, OneGibibyteFileOfMixedContent) {
    TempDir src;
    // The source, the pasted copy and the prefix's own files: a machine
    // without that much room says so instead of failing half way.
    ULARGE_INTEGER free{};
    if (::GetDiskFreeSpaceExA(src.path().c_str(), &free, nullptr, nullptr) && free.QuadPart < (3ull << 30))
        GTEST_SKIP() << "needs 3 GiB free beside the test prefix, has " << (free.QuadPart >> 20) << " MiB";
    const std::string path = src / "mixed.bin";
    {
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        const std::string text = repeatedText(1 << 20);
        for (uint32_t i = 0; i < 1024; ++i) {
            Bytes piece;
            switch (i % 8) {
                case 0:
                case 5:
                    piece.assign(text.begin(), text.end());
                    piece[i] = 'X';  // no two text stretches alike
                    break;
                case 2:
                case 6:
                    piece.assign(1 << 20, 0);
                    break;
                case 3:
                    piece = words(1 << 20, i);
                    break;
                default:
                    piece = randomBytes(1 << 20, i + 1);
            }
            DWORD written = 0;
            ASSERT_TRUE(::WriteFile(h, piece.data(), DWORD(piece.size()), &written, nullptr) && written == piece.size());
        }
        ::CloseHandle(h);
    }
    if (sizeof(void*) > 4) {
        roundTrip(src.path(), {"mixed.bin"}, "1 GiB file", 1);
        return;
    }
    // The x64 build copies it (above). The 32-bit copy would hold the whole
    // file beside a compression buffer of its size and then the block,
    // more than its address space gives: it must end with its message and
    // leave the clipboard alone. The paste needs only the block and a
    // constant, so it restores the file from a block made here.
    putClipboardText("marker");
    const ClipboardSnapshot before = snapshotClipboard();
    RunOptions o;
    o.timeoutMs = 20 * 60 * 1000;
    RunResult copy = runTarnwick({path}, o);
    printRun("1 GiB file in 32 bits, copy", copy);
    EXPECT_FALSE(copy.timedOut);
    EXPECT_EQ(copy.exitCode, 1u);
    ASSERT_EQ(copy.boxes.size(), 1u) << copy.out;
    EXPECT_EQ(copy.boxes[0].text, "Not enough memory.");
    EXPECT_TRUE(snapshotClipboard() == before) << "the clipboard was touched";
    putClipboard("Tarnwick_1", singleFileBlockOf(path, "mixed.bin"));
    printBlock(snapshotClipboard());
    TempDir dest;
    RunResult paste = runChecked({"/PASTE", dest.path()});
    printRun("1 GiB file in 32 bits, paste", paste);
    EXPECT_EQ(expectSameTree(src.path(), dest.path()), 1u);
}

// A copy that needs more memory than 32 bits can address ends with its
// message and leaves the clipboard as it was. A file of 1.9 GiB has to be
// held whole beside a compression buffer of its size, more than a 32-bit
// process has; the file is sparse, so it costs no disk space.
TEST(Stress, CopyTooLargeForTheAddressSpace) {
    if (sizeof(void*) > 4) GTEST_SKIP() << "a 64-bit copy has the address space for it";
    TempDir src;
    const std::string path = src / "large.bin";
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER length;
    length.QuadPart = 1900ll << 20;
    ::SetFilePointerEx(h, length, nullptr, FILE_BEGIN);
    EXPECT_TRUE(::SetEndOfFile(h));
    ::CloseHandle(h);

    putClipboardText("marker");
    const ClipboardSnapshot before = snapshotClipboard();
    RunOptions o;
    o.timeoutMs = 10 * 60 * 1000;
    RunResult r = runTarnwick({path}, o);
    printRun("1.9 GiB in 32 bits, copy", r);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u) << r.out;
    EXPECT_EQ(r.boxes[0].text, "Not enough memory.");
    EXPECT_EQ(r.boxes[0].icon, "warning");
    EXPECT_TRUE(snapshotClipboard() == before) << "the clipboard was touched";
}

}  // namespace
}  // namespace e2e
