#include "entry_list.h"

#include "messages.h"

namespace tw {

const char* const kPathNotFound = "Path not found.";
const char* const kUnnamedPath = "Cannot copy an unnamed path.";
const char* const kErrorFindingFiles = "Error finding files.";
const char* const kErrorOpeningFile = "Error opening file.";
const char* const kNotEnoughMemory = "Not enough memory.";
const char* const kErrorReadingFile = "Error reading file.";
const char* const kErrorGettingFileTime = "Error getting file time.";
const char* const kErrorOpeningClipboard = "Error opening clipboard.";
const char* const kErrorSettingClipboard = "Error copying data to clipboard.";
const char* const kFileTooLarge = "Cannot copy a file of 2 GB or more.";
const char* const kCopyTooLarge = "Cannot copy 4 GB or more at once.";

bool isDotsOnly(const char* name) {
    if (!*name) return false;
    for (; *name; ++name)
        if (*name != '.') return false;
    return true;
}

EntryList::~EntryList() {
    // Last pair first, as they were built.
    while (!entries_.empty()) entries_.pop_back();
}

void EntryList::checkRoom(uint32_t files, uint32_t folders, uint64_t stored) const {
    constexpr uint64_t kLimit = 0xFFFFFFFF;
    if (stored > kLimit || planBlock(files, folders, stored).length > kLimit)
        throw kCopyTooLarge;
}

int32_t EntryList::appendFolder(std::unique_ptr<FolderRecord> record) {
    checkRoom(fileCount_, folderCount_ + 1, totalStored_);
    Entry entry;
    entry.folder = std::move(record);
    entries_.push_back(std::move(entry));
    ++folderCount_;
    return int32_t(entries_.size() - 1);
}

void EntryList::appendFile(std::unique_ptr<FileRecord> record, HeapBytes stored) {
    uint32_t size = record->info.uncompressedSize.get();
    uint64_t storedTotal = uint64_t(totalStored_) + record->info.storedSize.get();
    checkRoom(fileCount_ + 1, folderCount_, storedTotal);
    Entry entry;
    entry.file = std::move(record);
    entry.stored = std::move(stored);
    entries_.push_back(std::move(entry));
    ++fileCount_;
    totalUncompressed_ += size;
    totalStored_ = uint32_t(storedTotal);
}

std::vector<BlockEntry> EntryList::blockEntries() const {
    std::vector<BlockEntry> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) {
        if (e.file)
            out.push_back({&e.file->head, e.stored.get(), e.file->info.storedSize.get()});
        else
            out.push_back({&e.folder->head, nullptr, 0});
    }
    return out;
}

}  // namespace tw
