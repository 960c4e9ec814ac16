#include "text_ack.h"

#include <algorithm>
#include <cstdio>

#include "line_reader.h"
#include "text_part.h"

namespace tw {

namespace {

const char kAckMark[] = "TARNWICK ACK ";
const char kPartMark[] = "TARNWICK PART v1 ";

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
    LineReader start(text, length);
    if (!start.literal(kAckMark)) return AckStatus::NotAnAck;

    // One line, then only what a channel adds: blanks, line ends.
    const char16_t* lineEnd = std::find(text, end, u'\n');
    for (const char16_t* p = lineEnd; p != end; ++p)
        if (!lineEndBlank(*p) && *p != '\n') return AckStatus::Invalid;
    lineEnd = withoutLineEndBlanks(text, lineEnd);

    LineReader f(text, size_t(lineEnd - text));
    f.literal(kAckMark);
    uint32_t version = 0;
    if (!f.literal("v") || !f.number(version) || !f.literal(" ")) return AckStatus::Invalid;
    if (version != kAckVersion) return version > kAckVersion ? AckStatus::Newer : AckStatus::Invalid;
    Ack a;
    if (!f.literal("copy=") || !f.hex(16, a.copyId) || !f.literal(" held=") || !f.number(a.held) || !f.literal("/") ||
        !f.number(a.count) || !f.literal(" missing=") || !f.number(a.missing) || !f.literal(" pasted=") ||
        !f.flag(a.pasted) || !f.literal(" cut=") || !f.number(a.cutChars) || !f.done() || !a.sound())
        return AckStatus::Invalid;
    ack = a;
    return AckStatus::Ack;
}

bool peekPartCopy(const char16_t* text, size_t length, uint64_t& copyId, uint32_t& number, uint32_t& count) {
    LineReader f(text, length);
    uint32_t n = 0, c = 0;
    uint64_t id = 0;
    if (!f.literal(kPartMark) || !f.number(n) || !f.literal("/") || !f.number(c) || !f.literal(" copy=") ||
        !f.hex(16, id) || c == 0 || c > kMaxParts || n == 0 || n > c)
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
