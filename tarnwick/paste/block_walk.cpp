#include "block_walk.h"

#include <algorithm>

namespace tw {

namespace {

[[noreturn]] void refuse() {
    throw static_cast<const char*>(kInvalidData);
}

}  // namespace

std::u16string decodeLatin1(const char* name) {
    std::u16string out;
    for (; *name; ++name) out.push_back(char16_t(static_cast<unsigned char>(*name)));
    return out;
}

std::u16string NameRules::nameOf(uint32_t index, const char (&field)[kNameField]) const {
    if (exact) {
        if (const std::u16string* name = exact->find(index, field)) return *name;
    }
    if (!isSafeName(field, isLeadByte)) refuse();
    return decode(field);
}

CheckedEntry nextCheckedEntry(TreeBlockReader& reader, const NameRules& names) {
    CheckedEntry c{};
    c.entry = reader.next();
    if (c.entry.file) {
        c.name = names.nameOf(c.entry.index, c.entry.file->name);
        c.bytes = reader.fileBytes(*c.entry.file);
        reader.skipFileData(*c.entry.file);
    } else if (c.entry.folder) {
        c.name = names.nameOf(c.entry.index, c.entry.folder->name);
    }
    return c;
}

size_t rowsToReserve(const TreeBlockReader& reader, size_t blockLength) {
    return std::min<size_t>(reader.plausibleEntryCount(), blockLength / kFolderRecordSize + 1);
}

CheckedSingleFile readCheckedSingleFile(const uint8_t* block, size_t blockLength, const NameRules& names) {
    const FileInfo& info = readSingleFileBlock(block, blockLength);
    std::u16string name = names.nameOf(0, info.name);
    return {&info, fileBytesAt(block, blockLength, kSingleFileDataOffset, info), std::move(name)};
}

}  // namespace tw
