// Parts of a longer copy kept between pastes, until the last one arrives.
//
// Each paste run receives one part. The parts of a copy are kept under its
// copy id, with the first line of the first part kept (every later part
// must belong to the same copy); a part that is kept already is ignored.
// When none is missing the payload is put together, checked against the
// CRC-32s of the first line, and handed back for the paste. At most
// kMaxKeptCopies copies are kept: a part of a new copy drops the copies
// that began earliest. The ids of the last kRememberedCopies copies pasted
// are remembered, so that a part of one of them pasted again starts
// nothing.
//
// Platform-free: where the parts lie is a PartStorage (files in the temp
// folder for the paste command, a map in the tests and the fuzzer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "text_part.h"

namespace tw {

constexpr size_t kMaxKeptCopies = 4;
constexpr size_t kRememberedCopies = 16;

extern const char* const kPartsDisagree;  // the kept parts do not make the block

class PartStorage {
public:
    // Kept copies, the one begun earliest first.
    virtual std::vector<uint64_t> copies() = 0;
    // The kept first line of a copy; false when there is none.
    virtual bool header(uint64_t copy, std::string& line) = 0;
    virtual void begin(uint64_t copy, const std::string& line) = 0;
    virtual void drop(uint64_t copy) = 0;
    // Numbers of the kept parts, in any order.
    virtual std::vector<uint32_t> parts(uint64_t copy) = 0;
    virtual void keep(uint64_t copy, uint32_t number, const uint8_t* bytes, size_t length) = 0;
    // Reads a kept part of exactly `length` bytes; false when it is missing
    // or of another length.
    virtual bool load(uint64_t copy, uint32_t number, uint8_t* out, size_t length) = 0;
    // The ids of copies pasted lately, the latest last, at most
    // kRememberedCopies of them.
    virtual std::vector<uint64_t> pasted() = 0;
    virtual void setPasted(const std::vector<uint64_t>& copies) = 0;

protected:
    ~PartStorage() = default;
};

struct Arrival {
    PartHeader header;
    bool repeated = false;       // this part was kept already
    bool pastedAlready = false;  // the copy was pasted already: nothing was kept
    bool replaced = false;       // parts kept under the id with another first line were dropped
    std::vector<bool> present;   // one flag per part of the copy
    uint32_t missing = 0;
    // Filled when no part is missing any more: the block and its names.
    std::vector<uint8_t> payload;
};

// True when a whole payload matches the CRC-32s of its first line.
bool payloadMatches(const PartHeader& header, const uint8_t* payload);

// Keeps a complete, checked part and reports what is still missing; when
// nothing is, the payload comes back checked and the copy stays kept until
// forgetCopy() (a paste that fails can be tried again with the same part).
// A part of a copy pasted already is not kept (pastedAlready). Parts kept
// under the copy's id with another first line are an older, incomplete copy
// that no real sender would give the same id: they are dropped and the new
// part kept (replaced). Raises kPartInvalid for a part that is not a
// complete one, kPartsDisagree when the put-together payload fails its
// CRC-32s (the copy's parts are then dropped).
Arrival receivePart(PartStorage& storage, const ReadPart& part);

// What the console (and, for /PASTE, a box) says after a part arrived that
// did not complete a copy: parts still missing, or a copy pasted already.
std::string arrivalText(const Arrival& arrival);
// The console's line when kept parts were dropped for this part (replaced).
extern const char* const kKeptCopyReplaced;

// Drops a copy once it was pasted, and remembers that it was.
void forgetCopy(PartStorage& storage, uint64_t copy);

// The storage of the tests and the fuzzer.
class MemoryPartStorage final : public PartStorage {
public:
    std::vector<uint64_t> copies() override { return order_; }
    bool header(uint64_t copy, std::string& line) override;
    void begin(uint64_t copy, const std::string& line) override;
    void drop(uint64_t copy) override;
    std::vector<uint32_t> parts(uint64_t copy) override;
    void keep(uint64_t copy, uint32_t number, const uint8_t* bytes, size_t length) override;
    bool load(uint64_t copy, uint32_t number, uint8_t* out, size_t length) override;
    std::vector<uint64_t> pasted() override { return pasted_; }
    void setPasted(const std::vector<uint64_t>& copies) override { pasted_ = copies; }

    struct Copy {
        std::string line;
        std::map<uint32_t, std::vector<uint8_t>> parts;
    };
    std::map<uint64_t, Copy> kept;

private:
    std::vector<uint64_t> order_;
    std::vector<uint64_t> pasted_;
};

}  // namespace tw
