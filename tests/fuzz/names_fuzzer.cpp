// libFuzzer target: the exact-names side format's reader and writer, and
// the name rules in UTF-16.
//
// Input: a mode byte, the block's record count, the block's length (one
// byte each), that many block bytes, and the side format's bytes. The mode's
// low two bits say what becomes of the side format's bytes:
//   0  read as they are (almost never bound: the CRC must match);
//   1  bound to the block first (version 1, the block's length and CRC-32),
//      so that every later fault is the reader's to find; bit 2 keeps the
//      input's version instead;
//   2  read as entries (index step, unit count, units) that go through the
//      writer, whose output the reader must take back whole;
//   3  the same entries laid out as they are, in a bound side format that
//      the reader must take exactly when every entry keeps the rules.
// The run fails when
//  - a failure other than "Invalid Tarnwick data." leaves the reader, or a
//    bound side format is taken for stale;
//  - a side format that was read holds an entry that breaks the format's
//    rules (checked here without the reader's code), or does not write back
//    to the same bytes;
//  - isSafeWideName disagrees with the rules written out plainly here.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarnwick/archive/block.h"
#include "tarnwick/archive/names_block.h"
#include "tarnwick/paste/names.h"

namespace {

using Bytes = std::vector<uint8_t>;

void check(bool ok) {
    if (!ok) std::abort();
}

std::u16string upperAscii(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    return s;
}

// The name rules, spelt out.
bool referenceSafe(const std::u16string& name) {
    if (name.empty() || name.size() > 255) return false;
    for (char16_t c : name)
        if (c < 0x20 || std::u16string(u"\\/:<>\"|?*").find(c) != std::u16string::npos) return false;
    if (name.find_first_not_of(u'.') == std::u16string::npos) return false;
    if (name.back() == u'.' || name.back() == u' ') return false;
    std::u16string base = upperAscii(name.substr(0, name.find(u'.')));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
        if (base == device) return false;
    if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0) &&
        std::u16string(u"0123456789\u00B9\u00B2\u00B3").find(base[3]) != std::u16string::npos)
        return false;
    return true;
}

std::u16string unitsOf(const uint8_t* p, size_t count) {
    std::u16string s(count, u'\0');
    for (size_t i = 0; i < count; ++i) s[i] = char16_t(p[2 * i] | p[2 * i + 1] << 8);
    return s;
}

// What a side format that was read must be: bound entries in strict order,
// inside the block's records, each name safe; and the writer, given the
// same entries, makes the same bytes after the header.
void checkRead(const tw::BoundNames& bound, const Bytes& names, uint32_t recordCount) {
    const auto& entries = bound.entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        check(entries[i].recordIndex < recordCount);
        check(i == 0 || entries[i - 1].recordIndex < entries[i].recordIndex);
        check(referenceSafe(entries[i].name));
        const char* field = "x";
        check((bound.find(entries[i].recordIndex, field) != nullptr) == (entries[i].nameCrc32 == tw::nameFieldCrc(field)));
    }
    const uint32_t headerLength = tw::loadU32(names.data());
    Bytes again = tw::writeNamesBlock(tw::loadU32(&names[8]), tw::loadU32(&names[12]), bound.codePage(), entries);
    check(again.size() - tw::kNamesHeaderSize == names.size() - headerLength);
    check(std::memcmp(again.data() + tw::kNamesHeaderSize, names.data() + headerLength, names.size() - headerLength) == 0);
    check(std::memcmp(again.data() + 4, names.data() + 4, 24) == 0);
}

// Entries described by the input: index step, unit count, the units.
std::vector<tw::ExactName> entriesOf(const Bytes& in) {
    std::vector<tw::ExactName> out;
    uint32_t index = 0;
    for (size_t p = 0; p + 2 <= in.size();) {
        index += in[p];
        size_t units = std::min<size_t>(in[p + 1], (in.size() - p - 2) / 2);
        out.push_back({index, tw::nameFieldCrc(index & 1 ? "x" : "y"), unitsOf(&in[p + 2], units)});
        p += 2 + 2 * units;
    }
    return out;
}

void checkSame(const std::vector<tw::ExactName>& a, const std::vector<tw::ExactName>& b) {
    check(a.size() == b.size());
    for (size_t i = 0; i < a.size(); ++i)
        check(a[i].recordIndex == b[i].recordIndex && a[i].nameCrc32 == b[i].nameCrc32 && a[i].name == b[i].name);
}

// Reads, and tells what happened: 1 read, 0 ignored, -1 refused.
int readSide(const Bytes& names, const Bytes& block, uint32_t recordCount, tw::BoundNames& bound) {
    try {
        return tw::readBoundNames(names.data(), names.size(), block.data(), block.size(), recordCount, bound) ? 1 : 0;
    } catch (const char* text) {
        check(std::strcmp(text, tw::kInvalidData) == 0);
        check(bound.empty());
        return -1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint8_t mode = data[0];
    uint32_t recordCount = data[1];
    const size_t blockLength = std::min<size_t>(data[2], size - 3);
    // Heap copies of exactly their size, so that ASan sees both ends.
    const Bytes block(data + 3, data + 3 + blockLength);
    Bytes names(data + 3 + blockLength, data + size);

    // The rules on the side format's bytes taken as units.
    const std::u16string asUnits = unitsOf(names.data(), names.size() / 2);
    check(tw::isSafeWideName(asUnits.data(), asUnits.size()) == referenceSafe(asUnits));

    tw::BoundNames bound;
    switch (mode & 3) {
        case 0: {
            if (readSide(names, block, recordCount, bound) == 1) checkRead(bound, names, recordCount);
            break;
        }
        case 1: {
            if (names.size() < tw::kNamesBindingSize) break;
            if (!(mode & 4)) tw::storeU32(&names[4], tw::kNamesVersion);
            tw::storeU32(&names[8], uint32_t(block.size()));
            tw::storeU32(&names[12], tw::crc32Of(block.data(), block.size()));
            int outcome = readSide(names, block, recordCount, bound);
            check(outcome != 0 || tw::loadU32(&names[4]) != tw::kNamesVersion);
            if (outcome == 1) checkRead(bound, names, recordCount);
            break;
        }
        case 2: {
            // Through the writer, which leaves out what the reader would refuse.
            std::vector<tw::ExactName> given = entriesOf(names), kept;
            for (const tw::ExactName& e : given)
                if (referenceSafe(e.name) && (kept.empty() || kept.back().recordIndex < e.recordIndex)) kept.push_back(e);
            const Bytes side = tw::writeNamesBlock(uint32_t(block.size()), tw::crc32Of(block.data(), block.size()),
                                                   mode, given);
            recordCount = given.empty() ? 0 : given.back().recordIndex + 1;
            check(readSide(side, block, recordCount, bound) == 1);
            checkSame(bound.entries(), kept);
            check(bound.codePage() == mode);
            checkRead(bound, side, recordCount);
            break;
        }
        case 3: {
            // Laid out by hand, as they are: taken exactly when every entry
            // keeps the rules, refused otherwise.
            std::vector<tw::ExactName> given = entriesOf(names);
            Bytes side(tw::kNamesHeaderSize);
            bool valid = true;
            for (size_t i = 0; i < given.size(); ++i) {
                const tw::ExactName& e = given[i];
                valid = valid && referenceSafe(e.name) && e.recordIndex < recordCount &&
                        (i == 0 || given[i - 1].recordIndex < e.recordIndex);
                uint8_t head[tw::kNamesEntryHeadSize];
                tw::storeU32(head, uint32_t(tw::kNamesEntryHeadSize + 2 * e.name.size()));
                tw::storeU32(head + 4, e.recordIndex);
                tw::storeU32(head + 8, e.nameCrc32);
                tw::storeU32(head + 12, uint32_t(e.name.size()));
                side.insert(side.end(), head, head + sizeof head);
                for (char16_t u : e.name) {
                    side.push_back(uint8_t(u));
                    side.push_back(uint8_t(u >> 8));
                }
            }
            const uint32_t header[] = {tw::kNamesHeaderSize, tw::kNamesVersion, uint32_t(block.size()),
                                       tw::crc32Of(block.data(), block.size()), 932, uint32_t(given.size()),
                                       uint32_t(side.size() - tw::kNamesHeaderSize)};
            for (size_t i = 0; i < 7; ++i) tw::storeU32(&side[4 * i], header[i]);
            check(readSide(side, block, recordCount, bound) == (valid ? 1 : -1));
            if (valid) {
                checkSame(bound.entries(), given);
                checkRead(bound, side, recordCount);
            }
            break;
        }
    }
    return 0;
}
