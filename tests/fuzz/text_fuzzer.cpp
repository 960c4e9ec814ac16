// libFuzzer target: part texts as they come off the clipboard, read and
// handed to the store of received parts, apart from the platform.
//
// The first input byte picks how the rest becomes text (bit 0: UTF-16LE
// pairs; else each byte is one character); the rest is split at the byte
// 0x01 into the texts of successive pastes, which share one store. The run
// fails when
//  - the reader accepts a part whose header is unsound, whose bytes are not
//    as long as the header says, or whose text written afresh reads back
//    otherwise; or hands out bytes for anything but a part;
//  - the store reports missing parts wrongly, keeps more copies than it
//    may, or gives back a payload that does not match its CRC-32s;
//  - a failure other than the store's own message texts leaves it;
//  - the acknowledgement's reader accepts a line that is unsound or that
//    does not read back the same when written afresh;
//  - the sender's plan, fed the acknowledgements read (its copy is the
//    first one's) on a clock that the texts' lengths move on, places a part
//    outside its copy, sets a deadline already passed after placing, or
//    shows a share above 100%.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tarnwick/transfer/part_store.h"
#include "tarnwick/transfer/send_plan.h"
#include "tarnwick/transfer/text_ack.h"
#include "tarnwick/transfer/text_part.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Reads a copy of the text in a buffer of exactly its length, not one unit
// more, so that ASan sees a read past the text's end.
tw::ReadPart readExact(const std::u16string& text) {
    std::unique_ptr<char16_t[]> exact(new char16_t[text.size()]);
    std::memcpy(exact.get(), text.data(), text.size() * sizeof(char16_t));
    return tw::readPart(exact.get(), text.size());
}

void checkPart(const tw::ReadPart& part) {
    if (part.status != tw::PartStatus::Part) {
        check(part.bytes.empty());
        return;
    }
    check(part.header.sound() && part.bytes.size() == part.header.length());
    const std::string again = tw::partText(part.header, part.bytes.data());
    const std::u16string wide(again.begin(), again.end());
    const tw::ReadPart reread = readExact(wide);
    check(reread.status == tw::PartStatus::Part && reread.bytes == part.bytes &&
          reread.header.sameCopy(part.header) && reread.header.number == part.header.number);
}

// The sender's decisions over the acknowledgements of one run.
struct PlanRun {
    std::unique_ptr<tw::SendPlan> plan;
    uint64_t now = 0;
    bool over = false;

    void act(const tw::SendAction& a) {
        switch (a.kind) {
        case tw::SendAction::Place:
            check(a.part >= 1 && a.part <= plan->copy().count && plan->deadline() > now);
            break;
        case tw::SendAction::Resize:
        case tw::SendAction::Renew: {
            tw::PartHeader again = plan->copy();
            again.copyId += 1;
            act(plan->recut(again, now));
            break;
        }
        case tw::SendAction::None: break;
        default: over = true;
        }
        check(plan->percent() <= 100);
    }

    void feed(const tw::Ack& ack, size_t textLength) {
        if (over) return;
        if (!plan) {
            tw::PartHeader copy;
            copy.copyId = ack.copyId;
            copy.count = ack.count;
            copy.number = 1;
            copy.partSize = 1000;
            copy.blockLength = ack.count * 1000 - 1;
            tw::SendTimes times;
            times.rounds = 2;
            plan.reset(new tw::SendPlan(copy, ack.held & 1, times));
            act(plan->start(now));
        }
        const uint64_t at = now + textLength * 97 % 40000;
        for (int i = 0; i < 1000 && !over && plan->deadline() <= at; ++i) {
            now = plan->deadline();
            act(plan->onTime(now));
        }
        now = at;
        if (!over) act(plan->onAck(ack, now));
    }
};

void checkAck(const std::u16string& input, PlanRun& run) {
    // An exact-size copy, as for the parts.
    std::unique_ptr<char16_t[]> exact(new char16_t[input.size()]);
    std::memcpy(exact.get(), input.data(), input.size() * sizeof(char16_t));
    const char16_t* text = exact.get();
    const size_t length = input.size();
    tw::Ack ack;
    if (tw::readAck(text, length, ack) != tw::AckStatus::Ack) return;
    check(ack.sound());
    const std::string again = tw::ackText(ack);
    const std::u16string wide(again.begin(), again.end());
    tw::Ack reread;
    check(tw::readAck(wide.data(), wide.size(), reread) == tw::AckStatus::Ack && reread.copyId == ack.copyId &&
          reread.held == ack.held && reread.count == ack.count && reread.missing == ack.missing &&
          reread.pasted == ack.pasted && reread.cutChars == ack.cutChars);
    uint64_t id;
    uint32_t number, count;
    check(!tw::peekPartCopy(text, length, id, number, count));
    run.feed(ack, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool utf16 = data[0] & 1;
    tw::MemoryPartStorage storage;
    PlanRun planRun;
    const uint8_t* end = data + size;
    for (const uint8_t* at = data + 1; at <= end;) {
        const uint8_t* stop = static_cast<const uint8_t*>(std::memchr(at, 0x01, size_t(end - at)));
        if (!stop) stop = end;
        std::u16string text;
        if (utf16) {
            for (const uint8_t* p = at; p + 1 < stop; p += 2) text += char16_t(p[0] | p[1] << 8);
        } else {
            text.assign(at, stop);
        }
        at = stop + 1;

        const tw::ReadPart part = readExact(text);
        checkPart(part);
        checkAck(text, planRun);
        if (part.status != tw::PartStatus::Part) continue;
        try {
            const size_t keptBefore = storage.copies().size();
            const tw::Arrival arrival = tw::receivePart(storage, part);
            if (arrival.pastedAlready) {
                // Nothing of a pasted copy is kept again.
                check(arrival.payload.empty() && storage.copies().size() == keptBefore &&
                      !storage.kept.count(part.header.copyId));
                continue;
            }
            uint32_t missing = 0;
            for (bool present : arrival.present) missing += !present;
            check(arrival.present.size() == part.header.count && missing == arrival.missing);
            check(arrival.missing || (arrival.payload.size() == part.header.total() &&
                                      tw::payloadMatches(part.header, arrival.payload.data())));
            if (!arrival.missing) tw::forgetCopy(storage, part.header.copyId);
        } catch (const char* message) {
            check(message == tw::kPartInvalid || message == tw::kPartsDisagree);
        }
        check(storage.copies().size() <= tw::kMaxKeptCopies);
    }
    return 0;
}
