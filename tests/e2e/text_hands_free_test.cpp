// The table of channels that /SEND and /RECEIVE must cross, and the
// clipboard hygiene of /TEXT and /NEXT.
#include "hands_free_support.h"

namespace e2e {
namespace {

const Row kChannels[] = {
    {"TwoWayCappedAt4MiBWithLfLineEnds", 4u << 20, "lf", 0, false, {"/SEND:8K"}, false, Event::None, kPasted},
    {"TwoWayCappedBelowThePartSizeNoSizeGiven", 12000, "keep", 0, false, {"/SEND"}, true, Event::None,
     "was cut short by the channel after 12000 characters: cutting the copy again into parts of 10240 characters."},
    {"OneWayThePartsTakeTurns", 0, "crlf", 0, true, {"/SEND:8K", "/WAIT:3", "/INTERVAL:2"}, true, Event::None,
     "Every part was placed 3 times."},
    {"ReceiverStoppedHalfWayAndStartedAgain", 0, "lf", 0, false, {"/SEND:8K", "/WAIT:4", "/INTERVAL:2"}, true,
     Event::StopReceiver, kPasted},
    // A second a message: without it the four parts and the paste may all
    // be over before the sender is stopped.
    {"SenderStoppedHalfWayAndStartedAgain", 0, "lf", 1000, false, {"/SEND:8K"}, true, Event::StopSender, kPasted},
    // A channel slow enough (1.5 s a message) that what is placed after two
    // parts lands while the rest are still on their way.
    {"UsersOwnTextInTheMiddle", 0, "lf", 1500, false, {"/SEND:8K", "/WAIT:4", "/INTERVAL:2"}, true, Event::UserText,
     kPasted},
    {"APartOfAnotherCopyInTheMiddle", 0, "lf", 1500, false, {"/SEND:8K", "/WAIT:4", "/INTERVAL:2"}, true,
     Event::ForeignPart, kPasted},
    {"AnOldCopyOnTheClipboardWhenTheReceiverStarts", 0, "lf", 0, false, {"/SEND:8K"}, true,
     Event::OldCopyOnClipboard, kPasted},
    // Started again after the copy was cut for the channel: the smaller
    // parts go on, the receiver holds part 1 already.
    {"CappedSenderStoppedAfterTheRecut", 12000, "keep", 1000, false, {"/SEND"}, true, Event::StopSender, kPasted},
    {"AProgramHoldsTheClipboardAfterEachChange", 0, "lf", 0, false, {"/SEND:8K"}, true, Event::SlowReader, kPasted},
};

TEST_P(HandsFree, TheTreeArrives) { runRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Channels, HandsFree, ::testing::ValuesIn(kChannels),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The same tree twice: the second is a new copy, pasted again, and its
// "Done." follows its own paste.
TEST_F(HandsFree, TheSameTreeSentTwiceArrivesTwice) {
    const Row row{"SentTwice", 0, "lf", 0, false, {"/SEND:8K"}, true, Event::None, kPasted};
    runRow(row);
    runRow(row);
}

TEST_F(HandsFree, PartsPlacedByTextAndNextStayOutOfHistory) {
    writeFile(tmp / "big.bin", randomBytes(20000, 3));
    ASSERT_EQ(runTarnwick({"/TEXT:8K", tmp / "big.bin"}).exitCode, 0u);
    expectKeptOutOfHistory("/TEXT");
    ASSERT_EQ(runTarnwick({"/NEXT"}).exitCode, 0u);
    expectKeptOutOfHistory("/NEXT");
}

}  // namespace
}  // namespace e2e
