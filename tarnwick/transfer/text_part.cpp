#include "text_part.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <new>

#include "base64.h"
#include "line_reader.h"

namespace tw {

const char* const kTooManyParts =
    "The copy needs more than 65535 parts of this size: copy again with a larger /TEXT size.";
const char* const kPartInvalid = "Invalid Tarnwick data.";
const char* const kPartNewer = "The text on the clipboard is a Tarnwick part of a later version: paste it with that version.";

namespace {

constexpr size_t kLineBytes = kBase64LineChars / 4 * 3;  // 57
constexpr size_t kLineEnd = 2;                            // CR LF
const char kFirstMark[] = "TARNWICK PART ";
const char kLastMark[] = "TARNWICK END ";

std::string lastLine(const PartHeader& h, uint32_t crc) {
    char line[64];
    std::snprintf(line, sizeof line, "%s%lu/%lu crc=%08lX", kLastMark, (unsigned long)h.number,
                  (unsigned long)h.count, (unsigned long)crc);
    return line;
}

// The longest frame any part can have: first and last line with the widest
// values, and their line ends.
size_t maxFrameChars() {
    PartHeader widest;
    widest.copyId = ~uint64_t(0);
    widest.number = widest.count = kMaxParts;
    widest.format = 2;
    widest.blockLength = widest.blockCrc = widest.namesLength = widest.namesCrc = widest.partSize = 0xFFFFFFFF;
    return headerLine(widest).size() + kLineEnd + lastLine(widest, 0xFFFFFFFF).size() + kLineEnd;
}

// Everything of the first line after "TARNWICK PART v<version> ".
bool readHeaderFields(LineReader& c, PartHeader& h) {
    return c.number(h.number) && c.literal("/") && c.number(h.count) && c.literal(" copy=") &&
           c.hex(16, h.copyId) && c.literal(" format=") && c.number(h.format) && c.literal(" block=") &&
           c.number(h.blockLength) && c.literal(" crc=") && c.hex32(h.blockCrc) && c.literal(" names=") &&
           c.number(h.namesLength) && c.literal(" namescrc=") && c.hex32(h.namesCrc) &&
           c.literal(" partsize=") && c.number(h.partSize) && c.done();
}

// Lines of a text, each without its line end and trailing blanks.
class Lines {
public:
    Lines(const char16_t* text, size_t length) : at_(text), end_(text + length) {}
    bool done() const { return at_ == end_; }
    // The next line; ended tells whether a line feed closed it (a line that
    // runs to the end of the text may have been cut).
    const char16_t* next(size_t& length, bool& ended) {
        const char16_t* start = at_;
        const char16_t* lf = std::find(at_, end_, u'\n');
        ended = lf != end_;
        at_ = ended ? lf + 1 : end_;
        length = size_t(withoutLineEndBlanks(start, lf) - start);
        return start;
    }
    size_t left() const { return size_t(end_ - at_); }

private:
    const char16_t* at_;
    const char16_t* end_;
};

std::string sizeText(uint64_t chars) {
    char text[32];
    if (chars % (1u << 20) == 0) std::snprintf(text, sizeof text, "%lluM", (unsigned long long)(chars >> 20));
    else if (chars % 1024 == 0) std::snprintf(text, sizeof text, "%lluK", (unsigned long long)(chars >> 10));
    else std::snprintf(text, sizeof text, "%llu", (unsigned long long)chars);
    return text;
}

template <class Char>
bool matchesIgnoringCase(const Char*& arg, const char* name) {
    const Char* p = arg;
    for (; *name; ++p, ++name) {
        Char a = *p;
        if (a >= 'a' && a <= 'z') a = Char(a - 'a' + 'A');
        if (a != Char(*name)) return false;
    }
    arg = p;
    return true;
}

}  // namespace

uint32_t PartHeader::length() const {
    const uint64_t at = offset();
    return at >= total() ? 0 : uint32_t(std::min<uint64_t>(partSize, total() - at));
}

bool PartHeader::sound() const {
    if (format < 1 || format > 2 || blockLength == 0 || total() > kMaxPayload) return false;
    if (namesLength == 0 && namesCrc != 0) return false;
    if (partSize == 0 || partSize > total() || count == 0 || count > kMaxParts) return false;
    if ((total() + partSize - 1) / partSize != count) return false;
    return number >= 1 && number <= count;
}

bool PartHeader::sameCopy(const PartHeader& o) const {
    return copyId == o.copyId && count == o.count && format == o.format && blockLength == o.blockLength &&
           blockCrc == o.blockCrc && namesLength == o.namesLength && namesCrc == o.namesCrc &&
           partSize == o.partSize;
}

uint32_t partBytesForChars(uint64_t chars) {
    const size_t frame = maxFrameChars();
    if (chars < frame + kBase64LineChars + kLineEnd) return 0;
    const uint64_t room = chars - frame;
    const uint64_t lines = room / (kBase64LineChars + kLineEnd);
    const uint64_t rest = room % (kBase64LineChars + kLineEnd);
    // A shorter last line takes whole groups of four characters.
    uint64_t bytes = lines * kLineBytes + (rest > kLineEnd ? (rest - kLineEnd) / 4 * 3 : 0);
    return uint32_t(std::min<uint64_t>(bytes, kMaxPayload));
}

uint64_t minPartChars() { return maxFrameChars() + kBase64LineChars + kLineEnd; }

void planParts(uint64_t chars, PartHeader& h) {
    const uint64_t total = h.total();
    uint64_t size = chars == 0 ? total : std::min<uint64_t>(partBytesForChars(chars), total);
    if (size == 0) size = 1;  // only for an empty payload, which no copy makes
    const uint64_t count = (total + size - 1) / size;
    if (count > kMaxParts) throw kTooManyParts;
    h.partSize = uint32_t(size);
    h.count = uint32_t(count ? count : 1);
}

std::string headerLine(const PartHeader& h) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%sv%lu %lu/%lu copy=%016llX format=%lu block=%lu crc=%08lX names=%lu namescrc=%08lX partsize=%lu",
                  kFirstMark, (unsigned long)kPartVersion, (unsigned long)h.number, (unsigned long)h.count,
                  (unsigned long long)h.copyId, (unsigned long)h.format, (unsigned long)h.blockLength,
                  (unsigned long)h.blockCrc, (unsigned long)h.namesLength, (unsigned long)h.namesCrc,
                  (unsigned long)h.partSize);
    return line;
}

bool readHeaderLine(const std::string& line, PartHeader& header) {
    std::u16string wide(line.begin(), line.end());
    LineReader c(wide.data(), wide.size());
    uint32_t version = 0;
    PartHeader h;
    if (!c.literal(kFirstMark) || !c.literal("v") || !c.number(version) || version != kPartVersion ||
        !c.literal(" ") || !readHeaderFields(c, h) || !h.sound())
        return false;
    header = h;
    return true;
}

std::string partText(const PartHeader& h, const uint8_t* bytes) {
    const size_t length = h.length();
    const uint64_t encoded = base64Length(length);
    const uint64_t chars = 192 + encoded + (encoded / kBase64LineChars + 1) * kLineEnd;
    std::string text;
    // A 32-bit process cannot hold the text of a part of gigabytes.
    if (chars > text.max_size()) throw std::bad_alloc();
    text.reserve(size_t(chars));
    text += headerLine(h);
    text += "\r\n";
    // Whole lines of 57 bytes make 76 characters without padding.
    for (size_t at = 0; at < length; at += kLineBytes) {
        appendBase64(bytes + at, std::min(kLineBytes, length - at), text);
        text += "\r\n";
    }
    text += lastLine(h, crc32Of(bytes, length));
    text += "\r\n";
    return text;
}

ReadPart readPart(const char16_t* text, size_t length) {
    ReadPart result;
    LineReader start(text, length);
    if (!start.literal(kFirstMark)) return result;  // NotAPart

    Lines lines(text, length);
    size_t n;
    bool ended;
    const char16_t* line = lines.next(n, ended);
    if (!ended) {
        result.status = PartStatus::Incomplete;
        result.cut = true;
        return result;
    }
    LineReader first(line, n);
    uint32_t version = 0;
    PartHeader h;
    first.literal(kFirstMark);
    if (!first.literal("v") || !first.number(version) || !first.literal(" ")) {
        result.status = PartStatus::Invalid;
        return result;
    }
    if (version != kPartVersion) {
        result.status = version > kPartVersion ? PartStatus::Newer : PartStatus::Invalid;
        return result;
    }
    if (!readHeaderFields(first, h) || !h.sound()) {
        result.status = PartStatus::Invalid;
        return result;
    }

    // From here on a fault is what a channel does to a text: a part cut
    // short, or characters changed on the way.
    result.status = PartStatus::Incomplete;
    const size_t partLength = h.length();
    const uint64_t encoded = base64Length(partLength);
    // A part whose text this process could not even address is no part of
    // a copy it could paste: refused before anything is allocated.
    if (encoded + encoded / kBase64LineChars > SIZE_MAX / sizeof(char16_t)) {
        result.status = PartStatus::Invalid;
        return result;
    }
    // Each line of 76 characters has at least a line feed after it.
    if (lines.left() < encoded + encoded / kBase64LineChars) {
        result.cut = true;
        return result;
    }
    std::vector<uint8_t> bytes(partLength);
    size_t done = 0;  // characters decoded
    while (done < encoded) {
        line = lines.next(n, ended);
        const size_t want = size_t(std::min<uint64_t>(kBase64LineChars, encoded - done));
        if (!ended || n != want) {
            result.cut = !ended;
            return result;
        }
        // Decoded beside the buffer first: a line may decode to more bytes
        // than are left for it.
        uint8_t lineBytes[kLineBytes];
        const long long got = decodeBase64(line, n, lineBytes);
        const size_t at = done / 4 * 3, expected = std::min(kLineBytes, partLength - at);
        if (got < 0 || size_t(got) != expected) return result;
        std::memcpy(bytes.data() + at, lineBytes, expected);
        done += n;
    }

    // The last line: a channel that drops the final line end leaves it
    // whole, so it need not have one.
    line = lines.next(n, ended);
    LineReader last(line, n);
    uint32_t number = 0, count = 0, crc = 0;
    if (!last.literal(kLastMark) || !last.number(number) || !last.literal("/") || !last.number(count) ||
        !last.literal(" crc=") || !last.hex32(crc) || !last.done()) {
        result.cut = !ended;
        return result;
    }
    if (number != h.number || count != h.count) {
        result.status = PartStatus::Invalid;
        return result;
    }
    if (crc != crc32Of(bytes.data(), bytes.size())) return result;
    // Empty lines may follow (a channel may add line ends), nothing else.
    while (!lines.done()) {
        lines.next(n, ended);
        if (n) {
            result.status = PartStatus::Invalid;
            return result;
        }
    }
    result.status = PartStatus::Part;
    result.header = h;
    result.bytes = std::move(bytes);
    return result;
}

std::string keptPreamble(const PartHeader& h, uint32_t next) {
    char field[kNextFieldLength + 1];
    std::snprintf(field, sizeof field, "next=%05lu\r\n", (unsigned long)next);
    PartHeader first = h;
    first.number = 1;
    return field + headerLine(first) + "\r\n";
}

bool readKeptPreamble(const char* data, size_t length, PartHeader& header, uint32_t& next, size_t& preambleLength) {
    if (length < kNextFieldLength || std::memcmp(data, "next=", 5) != 0 ||
        std::memcmp(data + 10, "\r\n", 2) != 0)
        return false;
    uint32_t n = 0;
    for (size_t i = 5; i < 10; ++i) {
        if (data[i] < '0' || data[i] > '9') return false;
        n = n * 10 + uint32_t(data[i] - '0');
    }
    const char* start = data + kNextFieldLength;
    const char* end = static_cast<const char*>(std::memchr(start, '\r', length - kNextFieldLength));
    if (!end || size_t(end - data) + 2 > length || end[1] != '\n') return false;
    PartHeader h;
    if (!readHeaderLine(std::string(start, end), h) || n < 1 || n > h.count + 1) return false;
    header = h;
    next = n;
    preambleLength = size_t(end - data) + 2;
    return true;
}

std::string placedText(uint32_t placed, uint32_t count, uint32_t next) {
    char text[256];
    if (next > count) {
        std::snprintf(text, sizeof text,
                      "Part %lu of %lu is on the clipboard: paste it on the other side. No part is left to place.",
                      (unsigned long)placed, (unsigned long)count);
    } else {
        std::snprintf(text, sizeof text,
                      "Part %lu of %lu is on the clipboard: paste it on the other side, then run Tarnwick /NEXT "
                      "for part %lu (%lu left).",
                      (unsigned long)placed, (unsigned long)count, (unsigned long)next,
                      (unsigned long)(count - next + 1));
    }
    return text;
}

std::string listMissing(const std::vector<bool>& present) {
    constexpr int kMaxRanges = 8;
    std::string text;
    int ranges = 0;
    for (size_t i = 0; i < present.size();) {
        if (present[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j + 1 < present.size() && !present[j + 1]) ++j;
        if (ranges == kMaxRanges) {
            text += ", ...";
            break;
        }
        if (ranges++) text += ", ";
        text += std::to_string(i + 1);
        if (j > i) text += (j == i + 1 ? ", " : "-") + std::to_string(j + 1);
        i = j + 1;
    }
    return text;
}

std::string suggestPartSize(size_t receivedChars, bool cutShort) {
    // What arrived is about what the channel lets through; a part that
    // arrived whole but damaged gets half of it.
    uint64_t room = cutShort ? receivedChars : receivedChars / 2;
    static const uint64_t kRound[] = {4u << 20, 3u << 20, 2u << 20, 1u << 20, 512u << 10, 256u << 10, 128u << 10,
                                      64u << 10, 32u << 10, 16u << 10, 8u << 10, 4u << 10, 2u << 10, 1u << 10};
    for (uint64_t size : kRound)
        if (size <= room && size >= minPartChars()) return sizeText(size);
    return sizeText(std::max<uint64_t>(room, minPartChars()));
}

std::string incompletePartText(size_t receivedChars, bool cutShort) {
    return std::string(cutShort ? "The text on the clipboard is an incomplete Tarnwick part."
                                : "The text on the clipboard is a damaged Tarnwick part: its bytes fail their CRC.") +
           " The channel may limit its size: copy again with /TEXT:" + suggestPartSize(receivedChars, cutShort) + ".";
}

template <class Char>
TextSwitch parseTextSwitch(const Char* arg, uint64_t& chars) {
    if (!matchesIgnoringCase(arg, "/TEXT")) return TextSwitch::None;
    if (!*arg) {
        chars = kDefaultPartChars;
        return TextSwitch::Copy;
    }
    if (*arg++ != ':') return TextSwitch::None;
    uint64_t value = 0;
    const Char* digits = arg;
    while (*arg >= '0' && *arg <= '9' && arg - digits < 12) value = value * 10 + uint64_t(*arg++ - '0');
    if (arg == digits) return TextSwitch::BadSize;
    if (*arg == 'K' || *arg == 'k') {
        value <<= 10;
        ++arg;
    } else if (*arg == 'M' || *arg == 'm') {
        value <<= 20;
        ++arg;
    }
    if (*arg || value > 0xFFFFFFFF) return TextSwitch::BadSize;
    if (value != 0 && partBytesForChars(value) == 0) return TextSwitch::BadSize;
    chars = value;
    return TextSwitch::Copy;
}

std::string badPartSizeText() {
    return "Part size incorrect: /TEXT:size takes a number of characters of at least " +
           std::to_string(minPartChars()) + ", with K or M after it for 1024 or 1048576 of them, or 0 for one part.";
}

template <class Char>
bool isNextSwitch(const Char* arg) {
    return matchesIgnoringCase(arg, "/NEXT") && !*arg;
}

template <class Char>
bool parsePartNumber(const Char* arg, uint32_t& number) {
    uint32_t value = 0;
    const Char* p = arg;
    while (*p >= '0' && *p <= '9' && p - arg < 6) value = value * 10 + uint32_t(*p++ - '0');
    if (p == arg || *p || value < 1 || value > kMaxParts) return false;
    number = value;
    return true;
}

template TextSwitch parseTextSwitch<char>(const char*, uint64_t&);
template TextSwitch parseTextSwitch<wchar_t>(const wchar_t*, uint64_t&);
template bool isNextSwitch<char>(const char*);
template bool isNextSwitch<wchar_t>(const wchar_t*);
template bool parsePartNumber<char>(const char*, uint32_t&);
template bool parsePartNumber<wchar_t>(const wchar_t*, uint32_t&);

}  // namespace tw
