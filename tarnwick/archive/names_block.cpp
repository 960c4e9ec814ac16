#include "names_block.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "block.h"
#include "../paste/names.h"

namespace tw {

static_assert(kNamesMaxUnits == kMaxNameUnits, "the format holds any Windows name");

namespace {

[[noreturn]] void invalid() { throw static_cast<const char*>(kInvalidData); }

}  // namespace

uint32_t nameFieldCrc(const char* fieldName) {
    return crc32Of(reinterpret_cast<const uint8_t*>(fieldName), std::strlen(fieldName));
}

std::vector<uint8_t> writeNamesBlock(uint32_t blockLength, uint32_t blockCrc32, uint32_t codePage,
                                     const std::vector<ExactName>& names) {
    std::vector<const ExactName*> kept;
    kept.reserve(names.size());
    uint64_t area = 0;
    for (const ExactName& n : names) {
        if (!kept.empty() && n.recordIndex <= kept.back()->recordIndex) continue;
        if (!isSafeWideName(n.name.data(), n.name.size())) continue;
        uint64_t length = kNamesEntryHeadSize + 2 * uint64_t(n.name.size());
        if (kNamesHeaderSize + area + length > std::numeric_limits<uint32_t>::max()) break;
        area += length;
        kept.push_back(&n);
    }

    std::vector<uint8_t> out(size_t(kNamesHeaderSize + area));
    NamesHeader h;
    h.headerLength.set(kNamesHeaderSize);
    h.version.set(kNamesVersion);
    h.blockLength.set(blockLength);
    h.blockCrc32.set(blockCrc32);
    h.codePage.set(codePage);
    h.entryCount.set(uint32_t(kept.size()));
    h.entryAreaLength.set(uint32_t(area));
    std::memcpy(out.data(), &h, sizeof h);

    uint8_t* p = out.data() + kNamesHeaderSize;
    for (const ExactName* n : kept) {
        const uint32_t units = uint32_t(n->name.size());
        NamesEntryHead e;
        e.entryLength.set(kNamesEntryHeadSize + 2 * units);
        e.recordIndex.set(n->recordIndex);
        e.nameCrc32.set(n->nameCrc32);
        e.nameUnits.set(units);
        std::memcpy(p, &e, sizeof e);
        p += sizeof e;
        for (char16_t c : n->name) {
            *p++ = uint8_t(c);
            *p++ = uint8_t(c >> 8);
        }
    }
    return out;
}

const std::u16string* BoundNames::find(uint32_t recordIndex, const char* fieldName) const {
    auto it = std::lower_bound(names_.begin(), names_.end(), recordIndex,
                               [](const ExactName& n, uint32_t index) { return n.recordIndex < index; });
    if (it == names_.end() || it->recordIndex != recordIndex) return nullptr;
    if (it->nameCrc32 != nameFieldCrc(fieldName)) return nullptr;
    return &it->name;
}

size_t namesDeclaredLength(const uint8_t* names, size_t length) {
    if (length < kNamesHeaderSize) return length;
    const auto& h = *reinterpret_cast<const NamesHeader*>(names);
    const uint64_t declared = uint64_t(h.headerLength.get()) + h.entryAreaLength.get();
    return declared >= kNamesHeaderSize && declared <= length ? size_t(declared) : length;
}

bool readBoundNames(const uint8_t* names, size_t namesLength, const uint8_t* block, size_t blockLength,
                    uint32_t recordCount, BoundNames& out) {
    out.names_.clear();
    out.codePage_ = 0;

    // Does it belong to this block? Anything that says no makes it stale,
    // not wrong: it may come from another copy, or from a later version.
    if (namesLength < kNamesBindingSize) return false;
    const auto& h = *reinterpret_cast<const NamesHeader*>(names);
    if (h.version.get() != kNamesVersion) return false;
    if (h.blockLength.get() != blockLength) return false;
    if (h.blockCrc32.get() != crc32Of(block, blockLength)) return false;

    // It does: from here on every fault is the data's.
    const uint64_t headerLength = h.headerLength.get();
    if (headerLength < kNamesHeaderSize || headerLength > namesLength) invalid();
    const uint64_t end = namesLength;
    const uint32_t count = h.entryCount.get();
    if (h.entryAreaLength.get() != end - headerLength) invalid();

    BoundNames read;
    read.codePage_ = h.codePage.get();
    // The count is only believed as far as the area can hold entries.
    read.names_.reserve(std::min<uint64_t>(count, (end - headerLength) / (kNamesEntryHeadSize + 2)));
    uint64_t position = headerLength;
    for (uint32_t i = 0; i < count; ++i) {
        if (end - position < kNamesEntryHeadSize) invalid();
        const auto& e = *reinterpret_cast<const NamesEntryHead*>(names + position);
        const uint32_t units = e.nameUnits.get();
        if (units == 0 || units > kNamesMaxUnits) invalid();
        if (e.entryLength.get() != kNamesEntryHeadSize + 2 * units) invalid();
        if (end - position < e.entryLength.get()) invalid();
        const uint32_t index = e.recordIndex.get();
        if (index >= recordCount) invalid();
        if (!read.names_.empty() && index <= read.names_.back().recordIndex) invalid();

        std::u16string name(units, u'\0');
        const uint8_t* p = names + position + kNamesEntryHeadSize;
        for (uint32_t u = 0; u < units; ++u) name[u] = char16_t(p[2 * u] | p[2 * u + 1] << 8);
        if (!isSafeWideName(name.data(), name.size())) invalid();

        read.names_.push_back(ExactName{index, e.nameCrc32.get(), std::move(name)});
        position += e.entryLength.get();
    }
    if (position != end) invalid();
    out = std::move(read);
    return true;
}

}  // namespace tw
