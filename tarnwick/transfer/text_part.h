// The block as text: how a copy is cut into parts, what the text of one
// part looks like, and the reader that takes a part back from untrusted
// text. Platform-free.
//
// The payload of a text copy is the block followed by the names that belong
// to it (the side format; empty when the copy made none). It is cut into
// parts of partSize bytes, the last one shorter. A part's text is
//
//   TARNWICK PART v1 2/5 copy=0123456789ABCDEF format=2 block=7340032
//     crc=1A2B3C4D names=0 namescrc=00000000 partsize=2359296   (one line)
//   the part's bytes in base64, 76 characters a line
//   TARNWICK END 2/5 crc=89ABCDEF
//
// with CR LF line ends. The first line repeats everything that the parts of
// one copy share, so any part can start the reassembly and every part is
// checked against the first one kept; the last line carries the CRC-32 of
// this part's bytes. A reader forgives what text channels do to text, line
// ends turned from CR LF into LF (or back) and blanks added at line ends,
// and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../archive/crc.h"

namespace tw {

constexpr uint32_t kPartVersion = 1;
// Counts, sizes and numbers of a part text are refused above these before
// anything is allocated for them.
constexpr uint32_t kMaxParts = 65535;
constexpr uint64_t kMaxPayload = 0xFFFFFFFF;  // block and names together
constexpr uint64_t kDefaultPartChars = 3u << 20;  // below VMware Tools' 4 MiB
constexpr size_t kBase64LineChars = 76;

extern const char* const kTooManyParts;    // a copy that needs more than kMaxParts parts
extern const char* const kPartInvalid;     // "Invalid Tarnwick data."
extern const char* const kPartNewer;       // a part of a later text version


// What every part of one copy shares, and the part's own number.
struct PartHeader {
    uint64_t copyId = 0;
    uint32_t number = 0;  // 1 .. count
    uint32_t count = 0;
    uint32_t format = 0;  // the block's format index, 1 or 2
    uint32_t blockLength = 0;
    uint32_t blockCrc = 0;
    uint32_t namesLength = 0;  // 0: no names
    uint32_t namesCrc = 0;
    uint32_t partSize = 0;  // bytes of every part but the last

    uint64_t total() const { return uint64_t(blockLength) + namesLength; }
    uint64_t offset() const { return uint64_t(number - 1) * partSize; }
    uint32_t length() const;  // this part's bytes
    // True when the fields agree with each other and with the bounds above.
    bool sound() const;
    // The same copy: every field but the number is equal.
    bool sameCopy(const PartHeader& other) const;
};

// ---- writing --------------------------------------------------------------

// How many bytes a part of at most `chars` characters carries, whole lines
// and frame included; 0 when the frame and one line do not fit.
uint32_t partBytesForChars(uint64_t chars);
// The smallest /TEXT size that partBytesForChars accepts.
uint64_t minPartChars();

// Cuts a payload for parts of at most `chars` characters (0: one part,
// whatever its length). Fills partSize and count; raises kTooManyParts.
void planParts(uint64_t chars, PartHeader& header);

// The text of one part, CR LF line ends. bytes: the part's header.length()
// bytes of the payload.
std::string partText(const PartHeader& header, const uint8_t* bytes);

// ---- reading --------------------------------------------------------------

enum class PartStatus {
    NotAPart,    // some other text
    Part,        // complete, its CRC-32 checked
    Incomplete,  // cut short by the channel, or its bytes fail their CRC-32
    Invalid,     // a first line, or a frame, that no writer makes
    Newer,       // a later version of the text
};

struct ReadPart {
    PartStatus status = PartStatus::NotAPart;
    PartHeader header;           // for Part
    std::vector<uint8_t> bytes;  // for Part: header.length() bytes
    bool cut = false;            // for Incomplete: the text ended early
};

// Reads the text of one part. Nothing is allocated for the part's bytes
// before the text has shown that it holds that many characters.
ReadPart readPart(const char16_t* text, size_t length);

// The first line of a part, without line end, for keeping beside its kept
// parts; readHeaderLine reads it back (false when it is not one).
std::string headerLine(const PartHeader& header);
bool readHeaderLine(const std::string& line, PartHeader& header);

// ---- the copy kept for /NEXT ----------------------------------------------

// A kept copy's file starts with "next=00002", the part /NEXT places next,
// and the first line of part 1, each ended by CR LF; the payload follows.
// The number has a fixed width so that it can be rewritten in place.
constexpr size_t kNextFieldLength = 12;  // "next=00002\r\n"
std::string keptPreamble(const PartHeader& header, uint32_t next);
// Reads a preamble from the start of a file; false when it is not one.
// length: how many bytes of the file's start are given (they need not all
// belong to the preamble).
bool readKeptPreamble(const char* data, size_t length, PartHeader& header, uint32_t& next, size_t& preambleLength);

// ---- texts for the user ---------------------------------------------------

// After a part was placed on the clipboard; next: the part /NEXT places.
std::string placedText(uint32_t placed, uint32_t count, uint32_t next);

// "1, 3-5, 9" for the numbers whose flag is false (numbers start at 1).
// Long lists end in ", ..." after a few ranges.
std::string listMissing(const std::vector<bool>& present);

// A /TEXT size to suggest after a part arrived incomplete: a round size that
// the text that did arrive would have held ("1M", "256K").
std::string suggestPartSize(size_t receivedChars, bool cutShort);
// The message for a part that arrived cut short or damaged.
std::string incompletePartText(size_t receivedChars, bool cutShort);

// The /TEXT switch. Matches "/TEXT" and "/TEXT:size" without regard to ASCII
// case; size is a number of characters with an optional K (1024) or M
// (1048576), or 0 for one part.
enum class TextSwitch { None, Copy, BadSize };
template <class Char>
TextSwitch parseTextSwitch(const Char* arg, uint64_t& chars);
// The usage message for a size that is not one.
std::string badPartSizeText();
// "/NEXT", without regard to ASCII case.
template <class Char>
bool isNextSwitch(const Char* arg);
// A part number for /NEXT n: decimal, 1 to kMaxParts.
template <class Char>
bool parsePartNumber(const Char* arg, uint32_t& number);

}  // namespace tw
