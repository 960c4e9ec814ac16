#include "send_plan.h"

#include <algorithm>

namespace tw {

namespace {

bool sameAck(const Ack& a, const Ack& b) {
    return a.copyId == b.copyId && a.held == b.held && a.count == b.count && a.missing == b.missing &&
           a.pasted == b.pasted && a.cutChars == b.cutChars;
}

}  // namespace

SendPlan::SendPlan(const PartHeader& copy, bool resumed, const SendTimes& times)
    : copy_(copy), resumed_(resumed), timing_(times) {}

SendAction SendPlan::start(uint64_t now) { return place(1, now); }

SendAction SendPlan::place(uint32_t part, uint64_t now) {
    SendAction a;
    a.kind = SendAction::Place;
    a.part = part;
    placedAt_ = now;
    lastPart_ = part;
    overwritten_ = false;
    return a;
}

SendAction SendPlan::noNews(uint64_t now) {
    // Once the receiver holds every part, none is placed again for it.
    const bool allHeld = hasLast_ && last_.copyId == copy_.copyId && last_.missing == 0;
    if (!overwritten_ && !allHeld) {
        overwritten_ = true;
        overwrittenAt_ = now;
    }
    return SendAction();
}

SendAction SendPlan::onAck(const Ack& ack, uint64_t now) {
    // Whatever this acknowledgement says, it took the place of the part on
    // the clipboard. One that brings no news (another copy's, the old id's
    // after a re-split, or the last one handed over again) changes nothing
    // else, in either mode: unless the channel carried the part before,
    // the part goes on the clipboard again after a little while.
    if (ack.copyId != copy_.copyId || ack.count != copy_.count || (hasLast_ && sameAck(ack, last_)))
        return noNews(now);
    hasLast_ = true;
    last_ = ack;
    SendAction a;
    if (ack.pasted) {
        // A kept id that the receiver calls pasted before it heard of this
        // run's parts was pasted by an earlier transfer: this one is a new
        // copy, which must arrive too.
        if (resumed_ && !heard_) {
            a.kind = SendAction::Renew;
            return a;
        }
        a.kind = SendAction::Done;
        held_ = copy_.count;
        return a;
    }
    heard_ = true;
    if (ack.cutChars) {
        a.chars = charsForCutChannel(ack.cutChars);
        a.cutChars = ack.cutChars;
        a.kind = a.chars ? SendAction::Resize : SendAction::TooSmall;
        return a;
    }
    held_ = std::max(held_, ack.held);
    if (!ack.missing) {
        // Every part is held; the paste's acknowledgement follows.
        overwritten_ = false;
        return a;
    }
    SendAction::Note note = SendAction::Quiet;
    if (oneWay_) {
        oneWay_ = false;
        note = SendAction::BackTwoWay;
    }
    a = place(ack.missing, now);
    a.note = note;
    return a;
}

uint64_t SendPlan::deadline() const {
    uint64_t at = placedAt_ + (oneWay_ ? timing_.intervalMs : timing_.waitMs);
    if (overwritten_) at = std::min(at, overwrittenAt_ + timing_.placeAgainMs);
    return at;
}

SendAction SendPlan::onTime(uint64_t now) {
    if (overwritten_ && now >= overwrittenAt_ + timing_.placeAgainMs) return place(lastPart_, now);
    SendAction::Note note = SendAction::Quiet;
    if (!oneWay_) {
        // The rounds a part had before an acknowledgement came back count.
        oneWay_ = true;
        if (times_.size() != copy_.count) times_.assign(copy_.count, 0);
        ++times_[lastPart_ - 1];
        turn_ = lastPart_;
        note = SendAction::WentOneWay;
    }
    SendAction a;
    if (*std::min_element(times_.begin(), times_.end()) >= timing_.rounds) {
        a.kind = SendAction::RoundsOver;
    } else {
        turn_ = turn_ % copy_.count + 1;
        ++times_[turn_ - 1];
        a = place(turn_, now);
    }
    a.note = note;
    return a;
}

SendAction SendPlan::recut(const PartHeader& copy, uint64_t now) {
    // A new copy: its own counts, rounds and share.
    copy_ = copy;
    resumed_ = false;
    oneWay_ = false;
    times_.clear();
    held_ = 0;
    return place(1, now);
}

uint64_t SendPlan::doneBytes() const {
    return std::min<uint64_t>(uint64_t(held_) * copy_.partSize, copy_.total());
}

unsigned SendPlan::percent() const {
    const uint64_t total = copy_.total();
    return total ? unsigned(doneBytes() * 100 / total) : 100;
}

}  // namespace tw
