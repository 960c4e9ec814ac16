#include "text_ack.h"

#include <algorithm>
#include <cstdio>

#include "text_part.h"

namespace tw {

namespace {

const char kAckMark[] = "TARNWICK ACK ";
const char kPartMark[] = "TARNWICK PART v1 ";

// A strict reader of one line of ASCII fields.
class Fields {
public:
    Fields(const char16_t* at, const char16_t* end) : at_(at), end_(end) {}
    bool done() const { return at_ == end_; }
    bool literal(const char* text) {
        const char16_t* p = at_;
        for (; *text; ++text, ++p)
            if (p == end_ || *p != char16_t(static_cast<unsigned char>(*text))) return false;
        at_ = p;
        return true;
    }
    // Decimal without leading zeros, at most 0xFFFFFFFF.
    bool number(uint32_t& value) {
        uint64_t v = 0;
        const char16_t* p = at_;
        while (p != end_ && *p >= '0' && *p <= '9' && p - at_ < 11) v = v * 10 + uint64_t(*p++ - '0');
        const size_t digits = size_t(p - at_);
        if (!digits || digits > 10 || (digits > 1 && *at_ == '0') || v > 0xFFFFFFFF) return false;
        value = uint32_t(v);
        at_ = p;
        return true;
    }
    bool flag(bool& value) {
        if (at_ == end_ || (*at_ != '0' && *at_ != '1')) return false;
        value = *at_++ == '1';
        return true;
    }
    bool hex16(uint64_t& value) {
        if (end_ - at_ < 16) return false;
        uint64_t v = 0;
        for (int i = 0; i < 16; ++i) {
            const char16_t c = at_[i];
            if (c >= '0' && c <= '9') v = v << 4 | uint64_t(c - '0');
            else if (c >= 'A' && c <= 'F') v = v << 4 | uint64_t(c - 'A' + 10);
            else return false;
        }
        at_ += 16;
        value = v;
        return true;
    }

private:
    const char16_t* at_;
    const char16_t* end_;
};

bool blank(char16_t c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

bool Ack::sound() const {
    if (count == 0 || count > kMaxParts || held > count || missing > count) return false;
    if ((missing == 0) != (held == count)) return false;
    return !pasted || (held == count && cutChars == 0);
}

std::string ackText(const Ack& a) {
    char line[160];
    std::snprintf(line, sizeof line, "%sv%lu copy=%016llX held=%lu/%lu missing=%lu pasted=%d cut=%lu\r\n", kAckMark,
                  (unsigned long)kAckVersion, (unsigned long long)a.copyId, (unsigned long)a.held,
                  (unsigned long)a.count, (unsigned long)a.missing, a.pasted ? 1 : 0, (unsigned long)a.cutChars);
    return line;
}

AckStatus readAck(const char16_t* text, size_t length, Ack& ack) {
    const char16_t* end = text + length;
    Fields start(text, end);
    if (!start.literal(kAckMark)) return AckStatus::NotAnAck;

    // One line, then only what a channel adds: blanks, line ends.
    const char16_t* lineEnd = std::find(text, end, u'\n');
    for (const char16_t* p = lineEnd; p != end; ++p)
        if (!blank(*p) && *p != '\n') return AckStatus::Invalid;
    while (lineEnd != text && blank(lineEnd[-1])) --lineEnd;

    Fields f(text, lineEnd);
    f.literal(kAckMark);
    uint32_t version = 0;
    if (!f.literal("v") || !f.number(version) || !f.literal(" ")) return AckStatus::Invalid;
    if (version != kAckVersion) return version > kAckVersion ? AckStatus::Newer : AckStatus::Invalid;
    Ack a;
    if (!f.literal("copy=") || !f.hex16(a.copyId) || !f.literal(" held=") || !f.number(a.held) || !f.literal("/") ||
        !f.number(a.count) || !f.literal(" missing=") || !f.number(a.missing) || !f.literal(" pasted=") ||
        !f.flag(a.pasted) || !f.literal(" cut=") || !f.number(a.cutChars) || !f.done() || !a.sound())
        return AckStatus::Invalid;
    ack = a;
    return AckStatus::Ack;
}

bool peekPartCopy(const char16_t* text, size_t length, uint64_t& copyId, uint32_t& number, uint32_t& count) {
    Fields f(text, text + length);
    uint32_t n = 0, c = 0;
    uint64_t id = 0;
    if (!f.literal(kPartMark) || !f.number(n) || !f.literal("/") || !f.number(c) || !f.literal(" copy=") ||
        !f.hex16(id) || c == 0 || c > kMaxParts || n == 0 || n > c)
        return false;
    copyId = id;
    number = n;
    count = c;
    return true;
}

uint64_t charsForCutChannel(uint64_t arrivedChars) {
    // A tenth below what arrived: a channel's cap may count line ends or a
    // terminator differently from us.
    const uint64_t chars = arrivedChars - arrivedChars / 10;
    const uint64_t rounded = chars >= 4096 ? chars / 1024 * 1024 : chars;
    if (rounded < minPartChars()) return 0;
    return rounded;
}

}  // namespace tw

namespace tw {

SendStep stepOnAck(const PartHeader& copy, const Ack& ack) {
    SendStep step;
    if (ack.copyId != copy.copyId || ack.count != copy.count) return step;
    if (ack.pasted) {
        step.kind = SendStep::Done;
    } else if (ack.cutChars) {
        step.chars = charsForCutChannel(ack.cutChars);
        step.kind = step.chars ? SendStep::Resize : SendStep::TooSmall;
    } else if (ack.missing) {
        step.kind = SendStep::Place;
        step.part = ack.missing;
    }
    return step;
}

}  // namespace tw
