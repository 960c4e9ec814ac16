#include "block.h"

#include <algorithm>
#include <cstring>

namespace tw {

const char kInvalidData[] = "Invalid Tarnwick data.";

bool setRecordName(char (&field)[kNameField], const char* name) {
    std::memset(field, 0, sizeof field);
    size_t n = std::strlen(name);
    if (n >= kNameField) return false;
    std::memcpy(field, name, n);
    return true;
}

FileRecord makeFileRecord(int32_t parentIndex, const char* name) {
    FileRecord r;
    std::memset(&r, 0, sizeof r);
    r.head.recordLength.set(kFileRecordSize);
    r.head.parentIndex.set(parentIndex);
    r.head.entryType.set(kEntryFile);
    setRecordName(r.info.name, name);
    return r;
}

FolderRecord makeFolderRecord(int32_t parentIndex, const char* name, uint32_t attributes) {
    FolderRecord r;
    std::memset(&r, 0, sizeof r);
    r.head.recordLength.set(kFolderRecordSize);
    r.head.parentIndex.set(parentIndex);
    r.head.entryType.set(kEntryFolder);
    setRecordName(r.info.name, name);
    r.info.attributes.set(attributes);
    return r;
}

BlockPlan planBlock(uint32_t fileCount, uint32_t folderCount, uint64_t totalStored) {
    BlockPlan p{};
    if (fileCount == 1 && folderCount == 0) {
        p.version = 1;
        p.recordAreaLength = 0;
        p.dataOffset = kFileInfoSize;
    } else {
        p.version = 2;
        p.recordAreaLength = uint64_t(kFileRecordSize) * fileCount + uint64_t(kFolderRecordSize) * folderCount;
        p.dataOffset = kBlockHeaderSize + p.recordAreaLength;
    }
    p.length = p.dataOffset + totalStored;
    return p;
}

void writeBlock(uint8_t* out, const BlockPlan& plan, const BlockEntry* entries, size_t count) {
    writeBlockPiece(out, plan, entries, count, 0, 1);
}

void writeBlockPiece(uint8_t* out, const BlockPlan& plan, const BlockEntry* entries, size_t count, unsigned piece,
                     unsigned pieces) {
    if (plan.version == 1) {
        if (piece != 0) return;
        // The single-file block is the file record from its name on.
        const auto* rec = reinterpret_cast<const FileRecord*>(entries[0].record);
        std::memcpy(out, &rec->info, kFileInfoSize);
        if (entries[0].storedSize) std::memcpy(out + kFileInfoSize, entries[0].stored, entries[0].storedSize);
        return;
    }
    if (piece == 0) {
        BlockHeader h;
        std::memset(&h, 0, sizeof h);
        h.headerLength.set(kBlockHeaderSize);
        h.version = 2;
        h.entryCount.set(uint32_t(count));
        h.recordAreaLength.set(uint32_t(plan.recordAreaLength));
        std::memcpy(out, &h, sizeof h);
    }

    // An entry belongs to the piece its stored bytes start in (the last
    // piece for entries after the last stored byte), or goes by its index
    // when no entry stores any.
    const uint64_t data = plan.length - plan.dataOffset;
    uint64_t recordAt = kBlockHeaderSize, dataAt = 0;
    for (size_t i = 0; i < count; ++i) {
        const EntryHead& head = *entries[i].record;
        const uint32_t len = head.recordLength.get();
        const uint32_t stored = head.entryType.get() == kEntryFile ? entries[i].storedSize : 0;
        const uint64_t at = data ? dataAt * pieces / data : uint64_t(i) * pieces / count;
        const uint64_t owner = at < pieces ? at : pieces - 1;
        if (owner == piece) {
            std::memcpy(out + recordAt, &head, len);
            if (stored) std::memcpy(out + plan.dataOffset + dataAt, entries[i].stored, stored);
        }
        recordAt += len;
        dataAt += stored;
    }
}

bool nameTerminated(const char (&field)[kNameField]) {
    return std::memchr(field, '\0', kNameField) != nullptr;
}

FileBytes fileBytesAt(const uint8_t* block, size_t blockLength, uint64_t position, const FileInfo& info) {
    uint32_t size = info.uncompressedSize.get();
    uint32_t need = size == 0 ? 0 : info.compressed ? info.storedSize.get() : size;
    if (position > blockLength || need > blockLength - position) throw kInvalidData;
    if (size != 0 && info.compressed && size > maxInflatedSize(need)) throw kInvalidData;
    return {block + position, need};
}

const FileInfo& readSingleFileBlock(const uint8_t* block, size_t blockLength) {
    if (blockLength < kFileInfoSize) throw kInvalidData;
    const auto& info = *reinterpret_cast<const FileInfo*>(block);
    if (!nameTerminated(info.name)) throw kInvalidData;
    return info;
}

uint64_t blockEnd(uint32_t format, const uint8_t* block, size_t length) {
    try {
        if (format == 1) {
            const FileInfo& info = readSingleFileBlock(block, length);
            return kSingleFileDataOffset + fileBytesAt(block, length, kSingleFileDataOffset, info).length;
        }
        TreeBlockReader reader(block, length);
        while (!reader.done()) {
            const TreeEntry entry = reader.next();
            if (entry.file) reader.skipFileData(*entry.file);
        }
        return reader.dataPosition() <= length ? reader.dataPosition() : 0;
    } catch (const char*) {
        return 0;
    }
}

TreeBlockReader::TreeBlockReader(const uint8_t* block, size_t blockLength)
    : block_(block), length_(blockLength) {
    if (blockLength < kBlockHeaderSize) throw kInvalidData;
    const auto& h = *reinterpret_cast<const BlockHeader*>(block);
    // The header may claim to be longer than ours (readers go by the field)
    // but never shorter than the fields just read.
    uint64_t first = h.headerLength.get();
    if (first < kBlockHeaderSize) throw kInvalidData;
    recordAreaLength_ = h.recordAreaLength.get();
    recordAreaEnd_ = first + recordAreaLength_;
    if (recordAreaEnd_ > length_) throw kInvalidData;
    entryCount_ = h.entryCount.get();
    recordPosition_ = first;
    dataPosition_ = recordAreaEnd_;
}

uint32_t TreeBlockReader::plausibleEntryCount() const {
    return std::min<uint32_t>(entryCount_, recordAreaLength_ / kEntryHeadSize);
}

TreeEntry TreeBlockReader::next() {
    uint32_t i = index_;
    if (recordPosition_ + kEntryHeadSize > recordAreaEnd_) throw kInvalidData;
    const auto* head = reinterpret_cast<const EntryHead*>(block_ + recordPosition_);
    uint32_t length = head->recordLength.get();
    uint32_t type = head->entryType.get();
    uint32_t minimum = type == kEntryFile ? kFileRecordSize : type == kEntryFolder ? kFolderRecordSize : kEntryHeadSize;
    if (length < minimum || recordPosition_ + length > recordAreaEnd_) throw kInvalidData;

    TreeEntry e{};
    e.index = i;
    e.parentIndex = head->parentIndex.get();
    e.entryType = type;
    e.head = head;
    if (e.parentIndex >= 0 && uint32_t(e.parentIndex) >= i) throw kInvalidData;
    if (type == kEntryFile) {
        e.file = &reinterpret_cast<const FileRecord*>(head)->info;
        if (!nameTerminated(e.file->name)) throw kInvalidData;
    } else if (type == kEntryFolder) {
        e.folder = &reinterpret_cast<const FolderRecord*>(head)->info;
        if (!nameTerminated(e.folder->name)) throw kInvalidData;
    }
    recordPosition_ += length;
    ++index_;
    return e;
}

}  // namespace tw
