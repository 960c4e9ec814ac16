// Writes the paste fuzzer's seeds: blocks laid out and packed by the copy
// side's own code (packContent: CRC-32, zlib level 9 when that is smaller;
// writeBlock), each behind the fuzzer's mode byte.
//   make_seeds DIR
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tarnwick/archive/block.h"
#include "tarnwick/copy/pack.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Item {
    int32_t parent;
    bool folder;
    std::string name;
    Bytes content;
};

Bytes text(size_t n, unsigned seed) {
    static const char* const kWords[] = {"clipboard ", "folder ", "record ", "stored ", "the ", "paste ", "\r\n"};
    Bytes out;
    while (out.size() < n) {
        seed = seed * 1103515245u + 12345u;
        const char* w = kWords[(seed >> 16) % 7];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes noise(size_t n, unsigned seed) {
    Bytes out(n);
    for (auto& b : out) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        b = uint8_t(seed);
    }
    return out;
}

// Packs every item as the copy does and lays out the block it would
// publish: the single-file block for one file alone, else the tree block.
Bytes block(const std::vector<Item>& items) {
    std::vector<tw::FileRecord> files;
    std::vector<tw::FolderRecord> folders;
    std::vector<tw::PackedContent> packed;
    files.reserve(items.size());
    folders.reserve(items.size());
    packed.reserve(items.size());
    std::vector<tw::BlockEntry> entries;
    uint32_t fileCount = 0, folderCount = 0;
    uint64_t total = 0;
    for (const Item& it : items) {
        if (it.folder) {
            folders.push_back(tw::makeFolderRecord(it.parent, it.name.c_str(), 0x10));
            entries.push_back({&folders.back().head, nullptr, 0});
            ++folderCount;
            continue;
        }
        tw::HeapBytes content;
        if (!it.content.empty()) {
            content = tw::allocateBytes(it.content.size());
            std::memcpy(content.get(), it.content.data(), it.content.size());
        }
        packed.push_back(tw::packContent(std::move(content), uint32_t(it.content.size())));
        files.push_back(tw::makeFileRecord(it.parent, it.name.c_str()));
        packed.back().applyTo(files.back().info);
        files.back().info.lastWriteTime.set(0x01D9000000000000ull + fileCount);
        files.back().info.attributes.set(0x20);
        entries.push_back({&files.back().head, packed.back().stored.get(), packed.back().storedSize});
        ++fileCount;
        total += packed.back().storedSize;
    }
    tw::BlockPlan plan = tw::planBlock(fileCount, folderCount, total);
    Bytes out(size_t(plan.length));
    tw::writeBlock(out.data(), plan, entries.data(), entries.size());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const std::string sjisName = "\x83\x5C\x83\x74\x83\x67.txt";  // a trail byte 0x5C
    struct Seed {
        const char* name;
        uint8_t mode;  // bit 0 single-file block, bit 1 Shift-JIS, bit 2 force, bits 3-7 answers
        std::vector<Item> items;
    } const seeds[] = {
        {"copy-worked-example", 0,
         {{-1, true, "a", {}}, {0, false, "x.txt", text(100, 1)}, {0, true, "s", {}}, {2, false, "y", {}},
          {-1, false, "z.bin", noise(40, 2)}}},
        {"copy-single-text", 1, {{-1, false, "notes.txt", text(2000, 3)}}},
        {"copy-single-raw", 1, {{-1, false, "short.txt", text(10, 4)}}},
        {"copy-single-zeros", 1, {{-1, false, "zeros.bin", Bytes(300000, 0)}}},
        // The same folder given twice: merge and overwrite questions.
        {"copy-same-folder-twice", 3 << 3,
         {{-1, true, "d", {}}, {0, false, "f.txt", text(700, 5)}, {0, true, "sub", {}}, {2, false, "g.bin", noise(90, 6)},
          {-1, true, "d", {}}, {4, false, "f.txt", text(700, 5)}, {4, true, "sub", {}}, {6, false, "g.bin", noise(90, 6)}}},
        {"copy-same-folder-twice-forced", 4,
         {{-1, true, "d", {}}, {0, false, "f.txt", text(300, 7)}, {-1, true, "d", {}}, {2, false, "f.txt", text(301, 7)}}},
        {"copy-same-file-twice", 9 << 3, {{-1, false, "t.txt", text(500, 8)}, {-1, false, "t.txt", text(500, 8)}}},
        {"copy-deep", 0,
         {{-1, true, "1", {}}, {0, true, "2", {}}, {1, true, "3", {}}, {2, true, "4", {}}, {3, false, "deep.txt", text(64, 9)},
          {1, false, "mid.bin", noise(33, 10)}, {-1, false, "top.txt", text(17, 11)}}},
        {"copy-shift-jis", 2,
         {{-1, true, "\x93\xfa\x96\x7b", {}}, {0, false, sjisName, text(200, 12)}, {0, false, "plain.txt", {}}}},
    };
    for (const Seed& s : seeds) {
        const bool single = s.items.size() == 1 && !s.items[0].folder;
        if (single != ((s.mode & 1) != 0)) return 1;  // the mode byte must name the layout
        Bytes b = block(s.items);
        std::string path = std::string(argv[1]) + "/" + s.name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            std::perror(path.c_str());
            return 1;
        }
        std::fputc(s.mode, f);
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
    return 0;
}
