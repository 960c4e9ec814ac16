// libFuzzer target: the paste's walk over a clipboard block.
//
// The first input byte picks the layout (bit 0: single-file block) and the
// code page model (bit 1: Shift-JIS lead bytes); the rest is the block,
// copied to a heap buffer of exactly its size so that ASan sees its end.
// Beyond "no bad read", every record handed out must keep the promises the
// paste relies on: a parent before the record, a name that is one safe
// component, file bytes inside the block.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarnwick/paste/block_walk.h"

namespace {

bool shiftJisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

void check(bool ok) {
    if (!ok) std::abort();
}

// What every accepted name must be, checked here without the checker's own
// code: terminated, not empty, no separator, drive or stream mark outside a
// double-byte character, no dots-only name.
void checkName(const char* field, tw::LeadBytePredicate lead) {
    const void* end = std::memchr(field, '\0', tw::kNameField);
    check(end != nullptr);
    size_t n = static_cast<const char*>(end) - field;
    check(n > 0);
    bool dotsOnly = true;
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(field[i]);
        if (lead(c)) {
            check(i + 1 < n);
            ++i;
            dotsOnly = false;
            continue;
        }
        check(c >= 0x20 && c != '\\' && c != '/' && c != ':');
        if (c != '.') dotsOnly = false;
    }
    check(!dotsOnly);
}

void checkBytes(const tw::FileBytes& bytes, const uint8_t* block, size_t length) {
    check(bytes.data >= block && bytes.length <= length && size_t(bytes.data - block) <= length - bytes.length);
    volatile uint8_t sink = 0;
    for (uint32_t i = 0; i < bytes.length; ++i) sink = sink ^ bytes.data[i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    std::vector<uint8_t> block(data + 1, data + size);
    const uint8_t* p = block.data();
    const size_t length = block.size();
    tw::LeadBytePredicate lead = (mode & 2) ? shiftJisLead : tw::noLeadBytes;
    try {
        if (mode & 1) {
            tw::CheckedSingleFile single = tw::readCheckedSingleFile(p, length, lead);
            checkName(single.info->name, lead);
            checkBytes(single.bytes, p, length);
            return 0;
        }
        tw::TreeBlockReader reader(p, length);
        check(tw::rowsToReserve(reader, length) <= length / tw::kFolderRecordSize + 1);
        uint32_t index = 0;
        while (!reader.done()) {
            tw::CheckedEntry c = tw::nextCheckedEntry(reader, lead);
            check(c.entry.index == index++);
            check(c.entry.parentIndex < 0 || uint32_t(c.entry.parentIndex) < c.entry.index);
            if (c.entry.file) {
                checkName(c.entry.file->name, lead);
                checkBytes(c.bytes, p, length);
            } else if (c.entry.folder) {
                checkName(c.entry.folder->name, lead);
            }
        }
    } catch (const char* text) {
        check(std::strcmp(text, tw::kInvalidData) == 0);
    }
    return 0;
}
