// What /SEND decides, apart from the clipboard and the console: which part
// to place, when an acknowledgement is news, when to go one-way and back,
// when the rounds are over, when to cut the copy again. Fed with the
// acknowledgements read off the clipboard and a clock in milliseconds, so
// that its timing runs natively. Platform-free.
#pragma once

#include <cstdint>
#include <vector>

#include "text_ack.h"
#include "text_part.h"

namespace tw {

struct SendTimes {
    uint64_t waitMs = 30000;      // for an acknowledgement, before going one-way
    uint64_t intervalMs = 10000;  // each part's time on the clipboard when one-way
    uint32_t rounds = 3;          // of the parts, when one-way
    uint64_t placeAgainMs = 3000;  // after an acknowledgement took the part's place
};

struct SendAction {
    enum Kind {
        None,        // go on waiting
        Place,       // place `part` now
        Done,        // the receiver pasted the tree
        Resize,      // a part was cut after `cutChars`: cut the copy again into parts of `chars`
        Renew,       // the receiver pasted this copy id before: the same parts under a new id
        TooSmall,    // a part was cut, and the channel holds less than any part
        RoundsOver,  // one-way, every part was placed its rounds: nothing confirms the paste
    } kind = None;
    uint32_t part = 0;
    uint64_t chars = 0;
    uint32_t cutChars = 0;
    // What the console says before the action.
    enum Note { Quiet, WentOneWay, BackTwoWay } note = Quiet;
};

class SendPlan {
public:
    // copy: part 1's header. resumed: its id is the kept copy's, from an
    // earlier run.
    SendPlan(const PartHeader& copy, bool resumed, const SendTimes& times);

    // Part 1, at the start.
    SendAction start(uint64_t now);
    // An acknowledgement that replaced what was on the clipboard.
    SendAction onAck(const Ack& ack, uint64_t now);
    // When deadline() has come.
    SendAction onTime(uint64_t now);
    uint64_t deadline() const;
    // After Resize or Renew: the copy as cut again; part 1 goes first.
    SendAction recut(const PartHeader& copy, uint64_t now);

    const PartHeader& copy() const { return copy_; }
    bool oneWay() const { return oneWay_; }
    // One-way: how often the part was placed in the rotation.
    uint32_t rounds(uint32_t part) const { return part && part <= times_.size() ? times_[part - 1] : 0; }
    // The receiver's acknowledged share of this copy.
    uint64_t doneBytes() const;
    unsigned percent() const;

private:
    SendAction place(uint32_t part, uint64_t now);
    SendAction noNews(uint64_t now);

    PartHeader copy_;
    bool resumed_;
    SendTimes timing_;
    uint64_t placedAt_ = 0;
    uint32_t lastPart_ = 0;
    uint32_t held_ = 0;
    bool heard_ = false;  // an acknowledgement of this copy that was not a paste
    bool oneWay_ = false;
    std::vector<uint32_t> times_;  // how often each part was placed one-way
    uint32_t turn_ = 0;            // one-way: the part placed last in turn
    bool hasLast_ = false;
    Ack last_;  // the last acknowledgement that brought news
    // An acknowledgement that brought none took the part's place (since).
    bool overwritten_ = false;
    uint64_t overwrittenAt_ = 0;
};

}  // namespace tw
