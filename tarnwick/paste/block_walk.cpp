#include "block_walk.h"

#include <algorithm>

namespace tw {

namespace {

[[noreturn]] void refuse() {
    throw static_cast<const char*>(kInvalidData);
}

}  // namespace

CheckedEntry nextCheckedEntry(TreeBlockReader& reader, LeadBytePredicate isLeadByte) {
    CheckedEntry c{};
    c.entry = reader.next();
    if (c.entry.file) {
        if (!isSafeName(c.entry.file->name, isLeadByte)) refuse();
        c.bytes = reader.fileBytes(*c.entry.file);
        reader.skipFileData(*c.entry.file);
    } else if (c.entry.folder) {
        if (!isSafeName(c.entry.folder->name, isLeadByte)) refuse();
    }
    return c;
}

size_t rowsToReserve(const TreeBlockReader& reader, size_t blockLength) {
    return std::min<size_t>(reader.plausibleEntryCount(), blockLength / kFolderRecordSize + 1);
}

CheckedSingleFile readCheckedSingleFile(const uint8_t* block, size_t blockLength, LeadBytePredicate isLeadByte) {
    const FileInfo& info = readSingleFileBlock(block, blockLength);
    if (!isSafeName(info.name, isLeadByte)) refuse();
    return {&info, fileBytesAt(block, blockLength, kSingleFileDataOffset, info)};
}

}  // namespace tw
