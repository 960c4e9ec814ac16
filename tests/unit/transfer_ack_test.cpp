// The acknowledgement of a text copy: its writer and strict reader, the
// sender's step on each acknowledgement, and the size for a channel that
// cut a part.
#include <gtest/gtest.h>

#include <string>

#include "tarnwick/transfer/text_ack.h"
#include "tarnwick/transfer/text_part.h"

namespace tw {
namespace {

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

AckStatus read(const std::string& text, Ack& ack) {
    const std::u16string w = wide(text);
    return readAck(w.data(), w.size(), ack);
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

TEST(TransferAck, WrittenLinesReadBackAndOnlyWhatAChannelDoesIsForgiven) {
    Ack written;
    written.copyId = 0x0123456789ABCDEFull;
    written.held = 3;
    written.count = 7;
    written.missing = 2;
    written.cutChars = 0;
    const std::string text = ackText(written);
    EXPECT_EQ(text, "TARNWICK ACK v1 copy=0123456789ABCDEF held=3/7 missing=2 pasted=0 cut=0\r\n");

    const std::string line = text.substr(0, text.size() - 2);
    const struct {
        std::string text;
        AckStatus status;
    } cases[] = {
        {text, AckStatus::Ack},
        {line, AckStatus::Ack},
        {line + "\n", AckStatus::Ack},
        {line + " \t\r\n\r\n\n  ", AckStatus::Ack},
        {"Hello", AckStatus::NotAnAck},
        {" " + text, AckStatus::NotAnAck},
        {"TARNWICK PART v1 1/1", AckStatus::NotAnAck},
        {replaced(text, "v1", "v2"), AckStatus::Newer},
        {replaced(text, "v1", "v0"), AckStatus::Invalid},
        {line + "\r\nmore", AckStatus::Invalid},
        {line + " x", AckStatus::Invalid},
        {replaced(text, "ABCDEF", "abcdef"), AckStatus::Invalid},
        {replaced(text, "ABCDEF", "ABCDE"), AckStatus::Invalid},
        {replaced(text, "held=3", "held=03"), AckStatus::Invalid},
        {replaced(text, "held=3/7", "held=8/7"), AckStatus::Invalid},
        {replaced(text, "held=3/7", "held=7/7"), AckStatus::Invalid},     // all held, one missing
        {replaced(text, "missing=2", "missing=0"), AckStatus::Invalid},   // not all held, none missing
        {replaced(text, "missing=2", "missing=9"), AckStatus::Invalid},
        {replaced(text, "/7", "/0"), AckStatus::Invalid},
        {replaced(text, "/7", "/65536"), AckStatus::Invalid},
        {replaced(text, "pasted=0", "pasted=1"), AckStatus::Invalid},     // pasted with parts missing
        {replaced(text, "pasted=0", "pasted=2"), AckStatus::Invalid},
        {replaced(text, "cut=0", "cut=4294967295"), AckStatus::Ack},
        {replaced(text, "cut=0", "cut=4294967296"), AckStatus::Invalid},
        {replaced(text, "cut=0", "cut=10000000000"), AckStatus::Invalid},  // eleven digits
        {replaced(text, "cut=0", "cut="), AckStatus::Invalid},
        {replaced(text, " missing", "  missing"), AckStatus::Invalid},
    };
    for (const auto& c : cases) {
        Ack ack;
        ack.count = 99;
        EXPECT_EQ(read(c.text, ack), c.status) << c.text;
        if (c.status == AckStatus::Ack) {
            EXPECT_EQ(ack.copyId, written.copyId);
            EXPECT_EQ(ack.held, 3u);
            EXPECT_EQ(ack.count, 7u);
            EXPECT_EQ(ack.missing, 2u);
            EXPECT_FALSE(ack.pasted);
        } else {
            EXPECT_EQ(ack.count, 99u) << "filled for " << c.text;
        }
    }

    Ack pasted = written;
    pasted.held = 7;
    pasted.missing = 0;
    pasted.pasted = true;
    Ack back;
    ASSERT_EQ(read(ackText(pasted), back), AckStatus::Ack);
    EXPECT_TRUE(back.pasted && back.held == 7 && back.missing == 0);
    Ack cut = written;
    cut.cutChars = 4294967295u;
    ASSERT_EQ(read(ackText(cut), back), AckStatus::Ack);
    EXPECT_EQ(back.cutChars, 4294967295u);
    pasted.cutChars = 5;  // a pasted copy has no part in flight to be cut
    EXPECT_FALSE(pasted.sound());
}

TEST(TransferAck, SenderStepsOnAcknowledgements) {
    PartHeader copy;
    copy.copyId = 42;
    copy.count = 5;
    Ack base;
    base.copyId = 42;
    base.count = 5;
    base.held = 2;
    base.missing = 3;
    struct Row {
        const char* what;
        Ack ack;
        SendStep::Kind kind;
        uint32_t part;
    };
    Ack other = base, otherCount = base, pasted = base, cut = base, tiny = base, all = base;
    other.copyId = 43;
    otherCount.count = 6;
    pasted.held = 5, pasted.missing = 0, pasted.pasted = true;
    cut.cutChars = 100000;
    tiny.cutChars = 100;
    all.held = 5, all.missing = 0;
    const Row rows[] = {
        {"lowest missing", base, SendStep::Place, 3},   {"another copy", other, SendStep::Ignore, 0},
        {"another count", otherCount, SendStep::Ignore, 0}, {"pasted", pasted, SendStep::Done, 0},
        {"cut", cut, SendStep::Resize, 0},              {"cut below any part", tiny, SendStep::TooSmall, 0},
        {"all held, not pasted yet", all, SendStep::Ignore, 0},
    };
    for (const Row& row : rows) {
        const SendStep step = stepOnAck(copy, row.ack);
        EXPECT_EQ(step.kind, row.kind) << row.what;
        EXPECT_EQ(step.part, row.part) << row.what;
    }
    EXPECT_EQ(stepOnAck(copy, cut).chars, charsForCutChannel(100000));
}

TEST(TransferAck, ACutChannelGetsPartsThatFitWithAMargin) {
    for (uint64_t arrived : {uint64_t(5000), uint64_t(262144), uint64_t(262145), uint64_t(4u << 20), uint64_t(1999)}) {
        SCOPED_TRACE(arrived);
        const uint64_t chars = charsForCutChannel(arrived);
        ASSERT_GT(chars, 0u);
        EXPECT_LE(chars, arrived - arrived / 10);
        EXPECT_GE(chars, arrived * 8 / 10);
        EXPECT_GT(partBytesForChars(chars), 0u);
    }
    EXPECT_EQ(charsForCutChannel(262144), 235520u);  // 230K, a tenth below 256K
    EXPECT_EQ(charsForCutChannel(minPartChars() - 1), 0u);
    EXPECT_EQ(charsForCutChannel(0), 0u);

    PartHeader h;
    h.copyId = 0xFEDCBA9876543210ull;
    h.number = 3;
    h.count = 12;
    h.format = 2;
    h.blockLength = 1000;
    h.partSize = 100;
    h.count = 10;
    const std::string first = headerLine(h);
    uint64_t id = 0;
    uint32_t number = 0, count = 0;
    for (size_t keep : {first.size(), size_t(43)}) {
        const std::u16string w = wide(first.substr(0, keep));
        ASSERT_TRUE(peekPartCopy(w.data(), w.size(), id, number, count)) << keep;
        EXPECT_EQ(id, h.copyId);
        EXPECT_EQ(number, 3u);
        EXPECT_EQ(count, 10u);
    }
    for (const std::string& bad : {first.substr(0, 42), replaced(first, "3/10", "11/10"), replaced(first, "v1", "v2"),
                                   replaced(first, "3/10", "0/10")}) {
        const std::u16string w = wide(bad);
        EXPECT_FALSE(peekPartCopy(w.data(), w.size(), id, number, count)) << bad;
    }
}

}  // namespace
}  // namespace tw
