// The acknowledgement of a text copy: what a receiving side places on the
// clipboard after each part, so that a sending side on the far end of a
// two-way channel knows which part to place next. Platform-free.
//
// One line of text, CR LF at its end:
//
//   TARNWICK ACK v1 copy=0123456789ABCDEF held=3/7 missing=4 pasted=0 cut=0
//
// copy: the copy the parts belong to; held: how many of its count of parts
// the receiver keeps; missing: the lowest part it still lacks (0 when none
// is missing); pasted: 1 once the tree was pasted; cut: how many characters
// of a part arrived when the channel cut it short (0 when none was cut).
// Fields come in this order, decimal without leading zeros, the copy id in
// 16 upper-case hexadecimal digits. A reader forgives what a text channel
// does to a line (CR LF turned into LF, blanks added at the line's end,
// empty lines after it) and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

constexpr uint32_t kAckVersion = 1;

struct Ack {
    uint64_t copyId = 0;
    uint32_t held = 0;
    uint32_t count = 0;    // 1 .. kMaxParts
    uint32_t missing = 0;  // the lowest part still lacking, 0 for none
    bool pasted = false;
    uint32_t cutChars = 0;  // characters of a part that a channel cut short

    // True when the fields agree with each other: held and missing within
    // the count, missing 0 exactly when every part is held, pasted only then.
    bool sound() const;
};

std::string ackText(const Ack& ack);

enum class AckStatus {
    NotAnAck,  // some other text
    Ack,       // read and sound
    Invalid,   // starts as an acknowledgement does, but no writer makes it
    Newer,     // a later version of the line
};

// Reads untrusted text; fills ack only for AckStatus::Ack.
AckStatus readAck(const char16_t* text, size_t length, Ack& ack);

// The copy id, number and count from the start of a part's first line,
// for a part that a channel cut short (its header need not be whole, only
// these fields). False when the text does not start with them.
bool peekPartCopy(const char16_t* text, size_t length, uint64_t& copyId, uint32_t& number, uint32_t& count);

// A part size, in characters, for a channel that let `arrivedChars` of a
// longer part through: a margin below it, rounded down to a whole KiB, and
// never below the smallest size a part can have. 0 when even that is more
// than arrived.
uint64_t charsForCutChannel(uint64_t arrivedChars);

}  // namespace tw

namespace tw {

struct PartHeader;

// What a sending side does with an acknowledgement.
struct SendStep {
    enum Kind {
        Ignore,  // another copy's, or one that says nothing new
        Place,   // place `part`, the lowest the receiver lacks
        Done,    // the tree was pasted
        Resize,  // a part was cut: cut the payload again into parts of `chars`
        TooSmall,  // a part was cut, and the channel holds less than any part
    } kind = Ignore;
    uint32_t part = 0;
    uint64_t chars = 0;
};
// copy: the header shared by the parts being sent.
SendStep stepOnAck(const PartHeader& copy, const Ack& ack);

}  // namespace tw
