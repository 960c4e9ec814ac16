#include "part_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tw {

const char* const kPartsDisagree =
    "The Tarnwick parts received do not make up the copy they belong to. Copy again and send every part.";

bool payloadMatches(const PartHeader& h, const uint8_t* payload) {
    return crc32Of(payload, h.blockLength) == h.blockCrc &&
           (h.namesLength ? crc32Of(payload + h.blockLength, h.namesLength) : 0) == h.namesCrc;
}

const char* const kKeptCopyReplaced =
    "Parts kept under this copy's id belonged to another copy: they were dropped.";

Arrival receivePart(PartStorage& storage, const ReadPart& part) {
    const PartHeader& h = part.header;
    if (part.status != PartStatus::Part || !h.sound() || part.bytes.size() != h.length()) throw kPartInvalid;

    Arrival arrival;
    arrival.header = h;
    const std::vector<uint64_t> pasted = storage.pasted();
    if (std::find(pasted.begin(), pasted.end(), h.copyId) != pasted.end()) {
        arrival.pastedAlready = true;
        return arrival;
    }
    std::string line;
    bool kept = storage.header(h.copyId, line);
    if (kept) {
        PartHeader first;
        if (!readHeaderLine(line, first) || !first.sameCopy(h)) {
            // The part being pasted now is what the user means.
            storage.drop(h.copyId);
            arrival.replaced = true;
            kept = false;
        }
    }
    if (!kept) {
        // Room for the new copy: the earliest ones go.
        std::vector<uint64_t> others = storage.copies();
        for (size_t i = 0; i + kMaxKeptCopies <= others.size(); ++i) storage.drop(others[i]);
        PartHeader first = h;
        first.number = 1;
        storage.begin(h.copyId, headerLine(first));
    }

    arrival.present.assign(h.count, false);
    for (uint32_t number : storage.parts(h.copyId))
        if (number >= 1 && number <= h.count) arrival.present[number - 1] = true;
    arrival.repeated = arrival.present[h.number - 1];
    if (!arrival.repeated) {
        storage.keep(h.copyId, h.number, part.bytes.data(), part.bytes.size());
        arrival.present[h.number - 1] = true;
    }
    arrival.missing = uint32_t(std::count(arrival.present.begin(), arrival.present.end(), false));
    if (arrival.missing) return arrival;

    // Every part is here and was checked on arrival; the whole is checked
    // once more, which catches a kept part that changed on disk.
    std::vector<uint8_t> payload(size_t(h.total()));
    PartHeader each = h;
    for (uint32_t n = 1; n <= h.count; ++n) {
        each.number = n;
        if (!storage.load(h.copyId, n, payload.data() + each.offset(), each.length())) {
            storage.drop(h.copyId);
            throw kPartsDisagree;
        }
    }
    if (!payloadMatches(h, payload.data())) {
        storage.drop(h.copyId);
        throw kPartsDisagree;
    }
    arrival.payload = std::move(payload);
    return arrival;
}

std::string arrivalText(const Arrival& a) {
    char text[160];
    if (a.pastedAlready) {
        std::snprintf(text, sizeof text,
                      "Part %lu of %lu belongs to a copy that was pasted already. Nothing was done.",
                      (unsigned long)a.header.number, (unsigned long)a.header.count);
        return text;
    }
    std::snprintf(text, sizeof text, "Part %lu of %lu %s. Still missing: ", (unsigned long)a.header.number,
                  (unsigned long)a.header.count, a.repeated ? "had arrived already" : "arrived");
    return text + listMissing(a.present) + ". Paste each of them in the same way.";
}

void forgetCopy(PartStorage& storage, uint64_t copy) {
    storage.drop(copy);
    std::vector<uint64_t> pasted = storage.pasted();
    pasted.erase(std::remove(pasted.begin(), pasted.end(), copy), pasted.end());
    pasted.push_back(copy);
    if (pasted.size() > kRememberedCopies) pasted.erase(pasted.begin(), pasted.end() - kRememberedCopies);
    storage.setPasted(pasted);
}

bool MemoryPartStorage::header(uint64_t copy, std::string& line) {
    auto it = kept.find(copy);
    if (it == kept.end()) return false;
    line = it->second.line;
    return true;
}

void MemoryPartStorage::begin(uint64_t copy, const std::string& line) {
    kept[copy].line = line;
    order_.push_back(copy);
}

void MemoryPartStorage::drop(uint64_t copy) {
    kept.erase(copy);
    order_.erase(std::remove(order_.begin(), order_.end(), copy), order_.end());
}

std::vector<uint32_t> MemoryPartStorage::parts(uint64_t copy) {
    std::vector<uint32_t> numbers;
    auto c = kept.find(copy);
    if (c == kept.end()) return numbers;
    for (const auto& p : c->second.parts) numbers.push_back(p.first);
    return numbers;
}

void MemoryPartStorage::keep(uint64_t copy, uint32_t number, const uint8_t* bytes, size_t length) {
    kept[copy].parts[number].assign(bytes, bytes + length);
}

bool MemoryPartStorage::load(uint64_t copy, uint32_t number, uint8_t* out, size_t length) {
    auto c = kept.find(copy);
    if (c == kept.end()) return false;
    auto p = c->second.parts.find(number);
    if (p == c->second.parts.end() || p->second.size() != length) return false;
    if (length) std::memcpy(out, p->second.data(), length);
    return true;
}

}  // namespace tw
