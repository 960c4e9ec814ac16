// Tarnwick blocks made by the paste tests themselves: sound ones, to paste
// without depending on the copy command, and broken or hostile ones, made
// by editing a sound block's bytes at the documented offsets.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "tarnwick/archive/block.h"

namespace e2e {

// One entry of a block to build.
struct Entry {
    enum Kind { File, Folder, Other };
    enum Store { Auto, Raw, Compressed };
    Kind kind = File;
    int32_t parent = -1;
    std::string name;
    Bytes content;                     // files
    uint32_t attributes = 0x20;        // as the source reported them
    uint64_t time = 0x01C0E0F012345678;  // last-write time, 2001-ish
    Store store = Auto;
    uint32_t otherType = 7;            // entry type of an Other record

    static Entry file(int32_t parent, std::string name, Bytes content, uint32_t attributes = 0x20) {
        Entry e;
        e.parent = parent;
        e.name = std::move(name);
        e.content = std::move(content);
        e.attributes = attributes;
        return e;
    }
    static Entry file(int32_t parent, std::string name, const std::string& text, uint32_t attributes = 0x20) {
        return file(parent, std::move(name), Bytes(text.begin(), text.end()), attributes);
    }
    static Entry folder(int32_t parent, std::string name, uint32_t attributes = 0x10) {
        Entry e;
        e.kind = Folder;
        e.parent = parent;
        e.name = std::move(name);
        e.attributes = attributes;
        return e;
    }
};

inline uint32_t crcOf(const Bytes& b) {
    return uint32_t(::crc32(::crc32(0, nullptr, 0), b.data(), uInt(b.size())));
}

// The record and stored bytes of a file, packed as the copy side does: zlib
// level 9 from 16 bytes on when that is smaller, unless the entry says.
inline tw::FileRecord fileRecord(const Entry& e, Bytes& stored) {
    tw::FileRecord r = tw::makeFileRecord(e.parent, "");
    std::memset(r.info.name, 0, sizeof r.info.name);
    std::memcpy(r.info.name, e.name.data(), std::min(e.name.size(), sizeof r.info.name - 1));
    r.info.uncompressedSize.set(uint32_t(e.content.size()));
    r.info.crc32.set(e.content.empty() ? 0 : crcOf(e.content));
    r.info.lastWriteTime.set(e.time);
    r.info.attributes.set(e.attributes);
    bool compress = e.store == Entry::Compressed || (e.store == Entry::Auto && e.content.size() >= 16);
    stored = e.content;
    r.info.compressed = 0;
    if (compress && !e.content.empty()) {
        uLongf n = ::compressBound(uLong(e.content.size()));
        Bytes z(n);
        ::compress2(z.data(), &n, e.content.data(), uLong(e.content.size()), 9);
        z.resize(n);
        if (e.store == Entry::Compressed || z.size() < e.content.size()) {
            stored = z;
            r.info.compressed = 1;
        }
    }
    r.info.storedSize.set(uint32_t(stored.size()));
    return r;
}

// A tree block (format index 2) with the entries in the given order.
inline Bytes treeBlock(const std::vector<Entry>& entries) {
    std::vector<tw::FileRecord> files;
    std::vector<tw::FolderRecord> folders;
    std::vector<Bytes> stored(entries.size());
    files.reserve(entries.size());
    folders.reserve(entries.size());
    std::vector<tw::BlockEntry> list;
    uint32_t fileCount = 0, folderCount = 0;
    uint64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.kind == Entry::Folder) {
            folders.push_back(tw::makeFolderRecord(e.parent, "", e.attributes));
            std::memcpy(folders.back().info.name, e.name.data(),
                        std::min(e.name.size(), sizeof folders.back().info.name - 1));
            list.push_back({&folders.back().head, nullptr, 0});
            ++folderCount;
        } else {
            files.push_back(fileRecord(e, stored[i]));
            if (e.kind == Entry::Other) files.back().head.entryType.set(e.otherType);
            list.push_back({&files.back().head, stored[i].data(), uint32_t(stored[i].size())});
            ++fileCount;
            if (e.kind == Entry::File) total += stored[i].size();
        }
    }
    // Always the tree layout, also for one file alone.
    tw::BlockPlan plan{};
    plan.version = 2;
    plan.recordAreaLength = uint64_t(tw::kFileRecordSize) * fileCount + uint64_t(tw::kFolderRecordSize) * folderCount;
    plan.dataOffset = tw::kBlockHeaderSize + plan.recordAreaLength;
    plan.length = plan.dataOffset + total;
    Bytes block(size_t(plan.length));
    tw::writeBlock(block.data(), plan, list.data(), list.size());
    // writeBlock passes the stored bytes of type-0 records only; an Other
    // record built from a file record keeps its bytes out of the data area.
    return block;
}

// A single-file block (format index 1).
inline Bytes singleFileBlock(const Entry& e) {
    Bytes stored;
    tw::FileRecord r = fileRecord(e, stored);
    Bytes block(tw::kFileInfoSize + stored.size());
    std::memcpy(block.data(), &r.info, tw::kFileInfoSize);
    if (!stored.empty()) std::memcpy(block.data() + tw::kFileInfoSize, stored.data(), stored.size());
    return block;
}

// Offsets of each record in a tree block, walking by the record lengths.
inline std::vector<size_t> recordOffsets(const Bytes& block) {
    std::vector<size_t> offsets;
    uint32_t count = tw::loadU32(&block[8]);
    size_t at = tw::loadU32(&block[0]);
    for (uint32_t i = 0; i < count; ++i) {
        offsets.push_back(at);
        at += tw::loadU32(&block[at]);
    }
    return offsets;
}

inline void putU32(Bytes& block, size_t at, uint32_t value) { tw::storeU32(&block[at], value); }

// Writes a name into the name field of the record at the offset, raw bytes
// and all, terminated and zero-filled.
inline void putName(Bytes& block, size_t recordAt, const std::string& name) {
    std::memset(&block[recordAt + 12], 0, tw::kNameField);
    std::memcpy(&block[recordAt + 12], name.data(), std::min(name.size(), tw::kNameField));
}

// The date text of the overwrite question, worked out here on its own: the
// user's long date, one blank, the user's time of day, in local time.
inline std::string dateText(uint64_t fileTime) {
    FILETIME utc{DWORD(fileTime), DWORD(fileTime >> 32)}, local;
    SYSTEMTIME st;
    ::FileTimeToLocalFileTime(&utc, &local);
    ::FileTimeToSystemTime(&local, &st);
    char date[128] = {}, time[128] = {};
    ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, date, sizeof date);
    ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

// Destination paths of the entries, composed from their parents.
inline std::vector<std::string> entryPaths(const std::string& dest, const std::vector<Entry>& entries) {
    std::vector<std::string> paths;
    for (const Entry& e : entries)
        paths.push_back((e.parent < 0 ? dest : paths[size_t(e.parent)]) + "\\" + e.name);
    return paths;
}

// Every file and folder of the entries stands under dest as the block has
// it: bytes, last-write time, and the attribute bits a paste restores.
inline void expectRestored(const std::string& dest, const std::vector<Entry>& entries) {
    std::vector<std::string> paths = entryPaths(dest, entries);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        SCOPED_TRACE(paths[i]);
        if (e.kind == Entry::Folder) {
            EXPECT_TRUE(isDir(paths[i]));
            // Wine keeps no read-only mark on a folder; the other bits stay.
            EXPECT_EQ(attributes(paths[i]) & 0x26, e.attributes & 0x26);
        } else if (e.kind == Entry::File) {
            ASSERT_TRUE(exists(paths[i]) && !isDir(paths[i]));
            std::string content = readFile(paths[i]);
            EXPECT_TRUE(Bytes(content.begin(), content.end()) == e.content) << "content differs";
            EXPECT_EQ(lastWriteTime(paths[i]), e.time);
            // Wine reports every regular file as archive, whatever was set.
            EXPECT_EQ(attributes(paths[i]) & 0x27, (e.attributes & 0x27) | FILE_ATTRIBUTE_ARCHIVE);
        }
    }
}

}  // namespace e2e
