// The copy command's collection: one (record, stored bytes) pair per folder
// and file, in the order the walk met them, with the counts and totals the
// block is sized from.
//
// The bookkeeping (entry_list.cpp) is platform-free and unit-tested
// natively. The walk and the publication are defined in collect.cpp and
// publish.cpp, which call Windows; only the Windows build links them. The
// walk reaches the list through a PackQueue (pack_queue.h), which packs its
// files on every core and keeps everything in walk order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../archive/block.h"
#include "../archive/names_block.h"
#include "pack.h"

namespace tw {

constexpr uint32_t kUnknownAttributes = 0xFFFFFFFF;
constexpr int32_t kTopLevel = -1;

// Which folder a path really is, whatever links led to it. Volume serials
// and file indexes are not unique everywhere (every mount under Wine has the
// same serial; ReFS ids are wider than the index), so a match is confirmed
// by the final paths before a link is taken for a loop.
struct FolderIdentity {
    uint32_t volume = 0;
    uint64_t index = 0;
    std::u16string finalPath;  // empty when the system could not say
    bool sameFolder(const FolderIdentity& o) const {
        return volume == o.volume && index == o.index && !finalPath.empty() && finalPath == o.finalPath;
    }
};

// True for ".", "..", "..." and so on: names a directory search reports
// that are no entries of their own.
bool isDotsOnly(const char* name);

class PackQueue;

class EntryList {
public:
    EntryList() = default;
    ~EntryList();
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    // ---- walking and publishing (Windows) ----

    // Where the walk sends its progress text, folders and files; set before
    // the walk starts.
    void setQueue(PackQueue* queue) { queue_ = queue; }
    // An entry's name as the system holds it and as its record carries it.
    struct Named;
    // Collects every path and everything beneath it.
    void collectPaths(const std::vector<std::wstring>& paths);
    // Prints the totals and places the block, and beside it the exact names
    // of records whose names are not plain ASCII, on the clipboard.
    void publishBlock();
    // The side format with the exact names, bound to the written block;
    // empty when every record's name is plain ASCII.
    std::vector<uint8_t> exactNamesFor(const uint8_t* block, size_t length) const;

    // ---- bookkeeping ----

    // Both raise kCopyTooLarge, leaving the list as it was, when the block or
    // the stored total would no longer fit 32 bits. The uncompressed total
    // only feeds the totals line and is kept in 64 bits: well-compressed
    // sources may add up to more than 4 GiB and still fit the block.
    int32_t appendFolder(std::unique_ptr<FolderRecord> record);
    void appendFile(std::unique_ptr<FileRecord> record, HeapBytes stored);

    size_t size() const { return entries_.size(); }
    uint32_t fileCount() const { return fileCount_; }
    uint32_t folderCount() const { return folderCount_; }
    uint64_t totalUncompressed() const { return totalUncompressed_; }
    uint32_t totalStored() const { return totalStored_; }

    BlockPlan plan() const { return planBlock(fileCount_, folderCount_, totalStored_); }
    // The entries as writeBlock takes them; valid while the list is unchanged.
    std::vector<BlockEntry> blockEntries() const;

private:
    struct Entry {
        // Declared in this order so that the stored bytes go before the record.
        std::unique_ptr<FolderRecord> folder;
        std::unique_ptr<FileRecord> file;
        HeapBytes stored;
    };
    void checkRoom(uint32_t files, uint32_t folders, uint64_t stored) const;

    std::vector<Entry> entries_;
    uint32_t fileCount_ = 0;
    uint32_t folderCount_ = 0;
    uint64_t totalUncompressed_ = 0;
    uint32_t totalStored_ = 0;

    // Folders the walk is inside, outermost first, for spotting links that
    // lead back into one of them. A folder's identity is asked for only
    // once a link is met beneath it: most trees hold none, and under Wine
    // each query is several trips to the server on the walking thread.
    struct Outer {
        std::wstring path;
        bool asked = false, known = false;
        FolderIdentity id;
    };
    std::vector<Outer> walking_;
    // Records whose name is not plain ASCII, with the name as the system
    // holds it, in record order.
    std::vector<ExactName> exactNames_;

    PackQueue* queue_ = nullptr;

    void collectPath(const std::wstring& path, int32_t parentIndex, uint32_t attributes, const Named& name,
                     uint64_t sizeHint);
    void collectChildren(const std::wstring& path, int32_t index);
    void noteName(int32_t index, const Named& name);
};

}  // namespace tw
