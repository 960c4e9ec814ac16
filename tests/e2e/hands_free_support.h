// Hands-free text transfer between two machines (two Wine prefixes, two
// clipboards, no shared display): /SEND on the other machine, /RECEIVE
// here, and between them a relay that carries only text, both ways or one
// way, with a cap, changed line ends and a delay per message. Each row of
// a table of channels runs end to end and ends with the tree compared
// exactly.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>

#include "text_support.h"

namespace e2e {

inline bool contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

inline size_t countOf(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(piece, at)) != std::string::npos; at += piece.size()) ++n;
    return n;
}

// The counts of the parts that lines "Part n of count ..." name, in order.
inline std::vector<unsigned> countsNamed(const std::string& out) {
    std::vector<unsigned> counts;
    for (size_t at = 0; (at = out.find("Part ", at)) != std::string::npos; ++at) {
        unsigned number = 0, count = 0;
        if (std::sscanf(out.c_str() + at, "Part %u of %u", &number, &count) == 2 &&
            std::find(counts.begin(), counts.end(), count) == counts.end())
            counts.push_back(count);
    }
    return counts;
}

// Waits, without a fixed sleep, for a condition; false when it never held.
inline bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs = 120000) {
    for (DWORD start = ::GetTickCount(); !condition(); ::Sleep(50))
        if (::GetTickCount() - start >= timeoutMs) return false;
    return true;
}

inline const char* const kHygieneFormats[] = {"ExcludeClipboardContentFromMonitorProcessing", "CanIncludeInClipboardHistory",
                                       "CanUploadToCloudClipboard", "Clipboard Viewer Ignore"};

inline void expectKeptOutOfHistory(const char* what) {
    const std::vector<std::string> formats = clipboardFormats();
    for (const char* name : kHygieneFormats)
        EXPECT_NE(std::find(formats.begin(), formats.end(), name), formats.end()) << what << ": " << name;
    const auto dword = getClipboard("CanIncludeInClipboardHistory");
    ASSERT_TRUE(dword) << what;
    EXPECT_EQ(*dword, Bytes(4, 0)) << what;
}

// The relay's two ends: one here, one on the other machine. One-way, it
// carries only what the other machine (the sender's) places.
class Channel {
public:
    Channel(const TempDir& tmp, size_t cap, const char* lineEnds, unsigned delayMs, bool oneWay)
        : toThere_(tmp / "to-there"), toHere_(tmp / "to-here") {
        removeTree(toThere_);
        removeTree(toHere_);
        makeDir(toThere_);
        makeDir(toHere_);
        // The two clipboards must not meet outside the relay.
        const std::string marker = "only on this machine " + std::to_string(::GetTickCount());
        putClipboardText(marker);
        const std::string seen = tmp / "seen-there";
        runOnOtherMachine(testsDir() + "\\relay.exe", {"get", sharedPath(seen)});
        const std::string there = exists(seen) ? readFile(seen) : "";
        EXPECT_EQ(there.find(std::string(marker.begin(), marker.begin() + 4)), std::string::npos);
        emptyClipboard();

        const std::string cut = std::to_string(cap), delay = std::to_string(delayMs);
        there_ = std::make_unique<OtherMachineProcess>(
            testsDir() + "\\relay.exe", std::vector<std::string>{"link", sharedPath(toHere_), sharedPath(toThere_), cut,
                                                                 lineEnds, delay, oneWay ? "send" : "both"});
        here_ = std::make_unique<Process>(testsDir() + "\\relay.exe",
                                          std::vector<std::string>{"link", toThere_, toHere_, cut, lineEnds, delay,
                                                                   oneWay ? "receive" : "both"});
    }
    ~Channel() {
        // Both ends ran to the end: a relay that failed half-way would
        // have stalled the row for a reason of its own.
        EXPECT_TRUE(here_->running()) << "this end of the relay: " << here_->errors();
        EXPECT_TRUE(there_->running()) << "the other end of the relay: exit " << there_->exitCode();
        writeFile(toThere_ + "\\stop", "");
        writeFile(toHere_ + "\\stop", "");
        here_->wait(20000);
        there_->wait(20000);
    }

private:
    std::string toThere_, toHere_;
    std::unique_ptr<OtherMachineProcess> there_;
    std::unique_ptr<Process> here_;
};

inline const char kPasted[] = "The receiver pasted the tree.\nDone.\n";

enum class Event {
    None,
    StopReceiver,
    StopSender,
    UserText,
    ForeignPart,
    OldCopyOnClipboard,  // a one-part copy of another tree there before the receiver starts
    SlowReader,          // another program holds the receiver's clipboard for 2 s after each change
};

struct Row {
    const char* name;
    size_t cap;
    const char* lineEnds;
    unsigned delayMs;
    bool oneWay;
    std::vector<std::string> send;  // /SEND and its switches
    bool receiverFirst;
    Event event;
    const char* senderSays;  // a line the sender must print
};

// The row's name in the test's name, rather than its bytes.
inline void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class HandsFree : public TextTransfer, public ::testing::WithParamInterface<Row> {
protected:
    // Within the test's own time limit, so that a receiver that stalls
    // shows what it printed.
    DWORD receiverWaitMs = 200000;

    void makeSource() override {
        TextTransfer::makeSource();
        makeDir(source + "\\deep\\void");  // an empty folder
    }

    std::unique_ptr<OtherMachineProcess> startSender(const Row& row) {
        std::vector<std::string> args = row.send;
        args.push_back(sharedPath(source));
        return std::make_unique<OtherMachineProcess>(tarnwickExe(), args);
    }

    void runRow(const Row& row) {
        SCOPED_TRACE(row.name);
        removeTree(dest);
        makeDir(dest);
        Channel channel(tmp, row.cap, row.lineEnds, row.delayMs, row.oneWay);
        // Racing the receiver for each part: either it finds the clipboard
        // held when it reads, or when it places its acknowledgement.
        std::unique_ptr<ClipboardHolder> slowReader;
        if (row.event == Event::SlowReader) slowReader = std::make_unique<ClipboardHolder>(2000);
        std::unique_ptr<Process> receiver;
        std::unique_ptr<OtherMachineProcess> sender;
        auto startReceiver = [&] { receiver = std::make_unique<Process>(tarnwickExe(), std::vector<std::string>{"/FORCERECEIVE", dest}); };
        if (row.event == Event::OldCopyOnClipboard) {
            const std::string old = tmp / "old";
            makeDir(old);
            writeFile(old + "\\earlier.bin", randomBytes(3000, 5));
            RunResult r = runTarnwick({"/TEXT", old});
            ASSERT_EQ(r.exitCode, 0u) << r.out;
            // Placed again by this process, which outlives the receiver's
            // first look: Wine may drop what a process that ended placed.
            const auto part = getClipboardText();
            ASSERT_TRUE(part && part->compare(0, 20, "TARNWICK PART v1 1/1") == 0);
            putClipboardText(*part);
        }
        if (row.receiverFirst) {
            startReceiver();
            ASSERT_TRUE(waitFor([&] { return contains(receiver->output(), "Waiting for Tarnwick parts"); }));
            sender = startSender(row);
        } else {
            sender = startSender(row);
            ASSERT_TRUE(waitFor([&] { return contains(sender->output(), "Part 1 of "); }));
            startReceiver();
        }
        auto received = [&](size_t n) {
            return waitFor([&] { return countOf(receiver->output(), " arrived; ") >= n; });
        };
        std::string before;  // the output of a receiver stopped half-way
        switch (row.event) {
        case Event::None: break;
        case Event::StopReceiver:
            ASSERT_TRUE(received(2)) << receiver->output();
            receiver->kill();
            before = receiver->output();
            EXPECT_FALSE(exists(dest + "\\tree"));
            startReceiver();
            break;
        case Event::StopSender: {
            ASSERT_TRUE(received(2)) << receiver->output();
            sender->signal("INT");  // Ctrl+C
            ASSERT_TRUE(sender->wait(30000));
            EXPECT_EQ(sender->exitCode(), 1u);
            EXPECT_TRUE(contains(sender->output(), "Stopped. Tarnwick /SEND with the same paths goes on where this one "
                                                   "stopped.\n"))
                << sender->output();
            sender = startSender(row);
            // Part 1 again, of the same copy: the receiver holds it already.
            EXPECT_TRUE(waitFor([&] { return contains(receiver->output(), "Part 1 of "); }));
            break;
        }
        case Event::UserText:
            ASSERT_TRUE(received(2)) << receiver->output();
            putClipboardText("The user's own notes, copied in the middle");
            break;
        case Event::ForeignPart: {
            ASSERT_TRUE(received(2)) << receiver->output();
            const std::string other = tmp / "other";
            makeDir(other);
            writeFile(other + "\\elsewhere.bin", randomBytes(30000, 9));
            // (What /TEXT placed is not looked at here: the relay may have
            // placed the sender's next part over it already.)
            RunResult r = runTarnwick({"/TEXT:8K", other});
            ASSERT_EQ(r.exitCode, 0u) << r.out;
            break;
        }
        case Event::OldCopyOnClipboard: break;
        case Event::SlowReader: break;
        }

        ASSERT_TRUE(receiver->wait(receiverWaitMs)) << receiver->output();
        const std::string got = receiver->output();
        EXPECT_EQ(receiver->exitCode(), 0u) << got;
        EXPECT_TRUE(contains(got, "Done.\n")) << got;
        ASSERT_TRUE(sender->wait(120000)) << sender->output() << "\nThe receiver:\n" << got;
        slowReader.reset();
        // One way, nothing confirms the paste: an exit code of its own.
        EXPECT_EQ(sender->exitCode(), row.oneWay ? 2u : 0u) << sender->output();
        EXPECT_TRUE(contains(sender->output(), row.senderSays)) << sender->output();
        expectArrived();
        EXPECT_EQ(listDir(dest), std::vector<std::string>{"tree"});
        const std::vector<unsigned> counts = countsNamed(got);
        ASSERT_FALSE(counts.empty()) << got;
        const unsigned count = counts.back();  // the tree's, whatever came before
        if (row.event == Event::StopReceiver) {
            // The parts kept before the stop count: none arrives twice as new.
            EXPECT_EQ(countOf(before, " arrived; ") + countOf(got, " arrived; "), count - 1) << before << got;
        }
        if (row.event == Event::StopSender) {
            // Sent again, the same copy: the receiver holds its first part.
            EXPECT_TRUE(contains(got, "Part 1 of " + std::to_string(count) + " had arrived already")) << got;
        }
        if (row.event == Event::ForeignPart) {
            EXPECT_EQ(counts.size(), 2u) << got;
        }
        if (row.event == Event::OldCopyOnClipboard) {
            // Named and asked for again, never pasted: no sender sends it.
            EXPECT_TRUE(contains(got, "Part 1 of 1 would complete a copy that no sender has sent")) << got;
        }
        if (row.event == Event::SlowReader) {
            // A busy clipboard costs a moment, not the /WAIT of a lost message.
            EXPECT_FALSE(contains(sender->output(), "No acknowledgement in")) << sender->output();
        }

        // The last acknowledgement says pasted, and stays out of history.
        // (One way, the sender's parts go on coming after it.)
        if (row.oneWay) return;
        const auto ack = getClipboardText();
        ASSERT_TRUE(ack);
        EXPECT_EQ(ack->substr(0, 16), "TARNWICK ACK v1 ");
        EXPECT_TRUE(contains(*ack, " missing=0 pasted=1 cut=0")) << *ack;
        expectKeptOutOfHistory("the last acknowledgement");
    }
};


}  // namespace e2e
