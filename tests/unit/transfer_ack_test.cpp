// The acknowledgement of a text copy: its writer and strict reader, the
// sender's step on each acknowledgement, its decisions over time, and the
// size for a channel that cut a part.
#include <gtest/gtest.h>

#include <string>

#include "tarnwick/transfer/send_plan.h"
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


// ---- the sender's decisions on a clock ----------------------------------

PartHeader sentCopy(uint64_t id, uint32_t count, uint32_t partSize) {
    PartHeader h;
    h.copyId = id;
    h.number = 1;
    h.count = count;
    h.format = 2;
    h.partSize = partSize;
    h.blockLength = count * partSize;
    return h;
}

Ack ackOf(const PartHeader& copy, uint32_t held, uint32_t missing, bool pasted = false, uint32_t cut = 0) {
    Ack a;
    a.copyId = copy.copyId;
    a.count = copy.count;
    a.held = held;
    a.missing = missing;
    a.pasted = pasted;
    a.cutChars = cut;
    return a;
}

struct Step {
    uint64_t at;
    SendAction action;
    unsigned percent;
};

// Feeds the acknowledgements at their times and the deadlines as they come,
// up to `until`; stops after the first action that ends /SEND. Each Resize
// or Renew takes the next of `recuts`.
std::vector<Step> drive(SendPlan& plan, const std::vector<std::pair<uint64_t, Ack>>& acks, uint64_t until,
                        const std::vector<PartHeader>& recuts = {}) {
    std::vector<Step> steps{{0, plan.start(0), plan.percent()}};
    size_t next = 0, recut = 0;
    for (;;) {
        const bool ack = next < acks.size() && acks[next].first < plan.deadline();
        const uint64_t at = ack ? acks[next].first : plan.deadline();
        if (at > until) break;
        const SendAction a = ack ? plan.onAck(acks[next++].second, at) : plan.onTime(at);
        if (a.kind == SendAction::None) continue;
        steps.push_back({at, a, plan.percent()});
        if (a.kind == SendAction::Resize || a.kind == SendAction::Renew) {
            if (recut == recuts.size()) break;
            steps.push_back({at, plan.recut(recuts[recut++], at), plan.percent()});
        } else if (a.kind != SendAction::Place) {
            break;
        }
    }
    return steps;
}

TEST(TransferSendPlan, RepeatsStaleAcksAndRecutsOnAClock) {
    SendTimes times;  // 30 s, 10 s, 3 rounds, 3 s
    const PartHeader copy = sentCopy(7, 3, 1000);

    {
        SCOPED_TRACE("receiver gone, its last acknowledgement delivered again every 2 minutes");
        SendTimes slow = times;
        slow.intervalMs = 60000;
        std::vector<std::pair<uint64_t, Ack>> acks;
        for (uint64_t at = 1000; at < 7200000; at += 120000) acks.push_back({at, ackOf(copy, 1, 2)});
        SendPlan plan(copy, false, slow);
        const std::vector<Step> steps = drive(plan, acks, 7200000);
        EXPECT_EQ(steps.back().action.kind, SendAction::RoundsOver);
        EXPECT_LT(steps.back().at, 20 * 60000u);  // 9 turns of a minute, and a few places again
        for (uint32_t part = 1; part <= 3; ++part) EXPECT_EQ(plan.rounds(part), 3u) << part;
        size_t back = 0;
        for (const Step& s : steps) back += s.action.note == SendAction::BackTwoWay;
        EXPECT_EQ(back, 0u);
    }
    {
        SCOPED_TRACE("a repeat of the acknowledgement over the part");
        SendPlan plan(copy, false, times);
        const std::vector<Step> steps = drive(plan, {{1000, ackOf(copy, 1, 2)}, {2000, ackOf(copy, 1, 2)}}, 40000);
        ASSERT_GE(steps.size(), 4u);
        EXPECT_EQ(steps[1].action.part, 2u);
        EXPECT_EQ(steps[2].at, 5000u);  // placed again after 3 s, once
        EXPECT_EQ(steps[2].action.part, 2u);
        EXPECT_EQ(steps[3].at, 35000u);
        EXPECT_EQ(steps[3].action.note, SendAction::WentOneWay);
    }
    {
        SCOPED_TRACE("the old id's cut acknowledgement over the re-split copy's part 1");
        const PartHeader again = sentCopy(8, 6, 500);
        const Ack cut = ackOf(copy, 0, 1, false, 100000);
        SendPlan plan(copy, false, times);
        const std::vector<Step> steps = drive(plan, {{1000, cut}, {2000, cut}}, 40000, {again});
        ASSERT_GE(steps.size(), 5u);
        EXPECT_EQ(steps[1].action.kind, SendAction::Resize);
        EXPECT_EQ(steps[1].action.chars, charsForCutChannel(100000));
        EXPECT_EQ(steps[2].action.part, 1u);
        EXPECT_EQ(steps[3].at, 5000u);  // not the /WAIT stall
        EXPECT_EQ(steps[3].action.part, 1u);
        EXPECT_EQ(steps[3].action.note, SendAction::Quiet);
    }
    {
        SCOPED_TRACE("a cut acknowledgement, then the re-split copy's");
        const PartHeader big = sentCopy(7, 4, 1000), again = sentCopy(9, 8, 500);
        SendPlan plan(big, false, times);
        const std::vector<Step> steps =
            drive(plan,
                  {{1000, ackOf(big, 3, 4)}, {2000, ackOf(big, 3, 4, false, 100000)}, {3000, ackOf(again, 1, 2)}},
                  3000, {again});
        ASSERT_EQ(steps.size(), 5u);
        EXPECT_EQ(steps[1].percent, 75u);
        EXPECT_EQ(steps[3].action.part, 1u);
        EXPECT_EQ(steps[3].percent, 0u);  // nothing of the new copy is held yet
        EXPECT_EQ(steps.back().action.part, 2u);
        EXPECT_EQ(steps.back().percent, 12u);
    }
}

TEST(TransferSendPlan, APasteEndsOnlyACopyThatWasSentThisTime) {
    const PartHeader copy = sentCopy(7, 3, 1000), fresh = sentCopy(11, 3, 1000);
    const struct {
        const char* what;
        bool resumed;
        std::vector<std::pair<uint64_t, Ack>> acks;
        SendAction::Kind end;
    } rows[] = {
        {"a new id, pasted", false, {{1000, ackOf(copy, 3, 0, true)}}, SendAction::Done},
        {"the kept id, pasted before", true, {{1000, ackOf(copy, 3, 0, true)}}, SendAction::Renew},
        {"the kept id, resumed and pasted", true, {{1000, ackOf(copy, 2, 3)}, {2000, ackOf(copy, 3, 0, true)}},
         SendAction::Done},
    };
    for (const auto& row : rows) {
        SendPlan plan(copy, row.resumed, SendTimes());
        const std::vector<Step> steps = drive(plan, row.acks, 10000, {fresh});
        EXPECT_EQ(steps[steps.size() - (row.end == SendAction::Renew ? 2 : 1)].action.kind, row.end) << row.what;
        if (row.end == SendAction::Renew) {
            EXPECT_EQ(steps.back().action.part, 1u) << row.what;
        }
    }
}

}  // namespace
}  // namespace tw
