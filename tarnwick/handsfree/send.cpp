// /SEND: a text copy whose parts place themselves. Part 1 goes on the
// clipboard as /TEXT places it; from then on each acknowledgement of this
// copy brings the lowest part the receiver lacks, until it says the tree
// was pasted. Where none comes back, the parts take turns on a timer.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "../copy/copy.h"
#include "../platform/clipboard_watch.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "../transfer/text_ack.h"
#include "../transfer/text_transfer.h"
#include "hands_free.h"

namespace tw {

namespace {

const char kChannelTooSmall[] =
    "The channel cuts even the smallest Tarnwick part short: it cannot carry a copy as text.";

// 64 random bits for a copy cut again, as the first cut got its own.
uint64_t freshCopyId(uint64_t old) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    uint64_t id = old ^ uint64_t(now.QuadPart) ^ uint64_t(::GetTickCount()) << 40;
    id = (id ^ (id >> 30)) * 0xBF58476D1CE4E5B9ull;
    id = (id ^ (id >> 27)) * 0x94D049BB133111EBull;
    return id ^ (id >> 31);
}

// The console window's title shows the share acknowledged while /SEND runs;
// the old title comes back when it ends.
class TitleProgress {
public:
    TitleProgress() { hasOld_ = ::GetConsoleTitleW(old_, sizeof old_ / sizeof old_[0]) > 0; }
    ~TitleProgress() {
        if (hasOld_) ::SetConsoleTitleW(old_);
    }
    void show(unsigned percent) {
        wchar_t title[64];
        std::swprintf(title, 64, L"%u%% - Tarnwick /SEND", percent);
        ::SetConsoleTitleW(title);
    }

private:
    wchar_t old_[512];
    bool hasOld_ = false;
};

class Sender {
public:
    Sender(HandsFreeCopy&& copy, const SendOptions& options)
        : copy_(std::move(copy)), options_(options), started_(::GetTickCount()) {}

    int run() {
        ClipboardWatch watch;
        console().write("The copy is " + std::to_string(h().count) +
                        " parts of text. Run Tarnwick /RECEIVE on the other side; the parts follow its "
                        "acknowledgements (Ctrl+C stops).\n");
        placed(1);
        for (;;) {
            const DWORD since = ::GetTickCount() - placedAt_;
            DWORD limit = (oneWay_ ? options_.intervalSeconds : options_.waitSeconds) * 1000u;
            if (overwritten_) limit = std::min(limit, overwrittenSince_ - placedAt_ + kPlaceAgainMs);
            switch (watch.wait(since >= limit ? 0 : limit - since)) {
            case ClipboardWatch::Wake::Stopped:
                console().write("Stopped. Tarnwick /SEND with the same paths goes on where this one stopped.\n");
                return 1;
            case ClipboardWatch::Wake::Changed:
                if (const int code = onChange(); code >= 0) return code;
                break;
            case ClipboardWatch::Wake::TimedOut:
                if (overwritten_ && ::GetTickCount() - overwrittenSince_ >= kPlaceAgainMs) {
                    placed(lastPart_);
                    break;
                }
                if (const int code = onTimeout(); code >= 0) return code;
                break;
            }
        }
    }

private:
    const PartHeader& h() const { return copy_.header; }

    // An acknowledgement of this copy moves the transfer on; any other text,
    // the parts themselves included, is not for us. -1: go on waiting.
    int onChange() {
        const std::u16string text = tarnwickTextOnClipboard();
        Ack ack;
        if (text.empty() || readAck(text.data(), text.size(), ack) != AckStatus::Ack) return -1;
        const SendStep step = stepOnAck(h(), ack);
        switch (step.kind) {
        case SendStep::Ignore: return -1;
        case SendStep::Done:
            acknowledged(h().count);
            console().write("The receiver pasted the tree.\nDone.\n");
            return 0;
        case SendStep::TooSmall: throw kChannelTooSmall;
        case SendStep::Resize: {
            console().write("Part " + std::to_string(lastPart_) + " was cut short by the channel after " +
                            std::to_string(ack.cutChars) + " characters: cutting the copy again into parts of " +
                            std::to_string(step.chars) + " characters.\n");
            PartHeader again = h();
            again.copyId = freshCopyId(again.copyId);
            planParts(step.chars, again);
            copy_.header = again;
            keepCopyForNext(again, copy_.payload);
            oneWay_ = false;
            lastAck_.clear();
            console().write("The copy is " + std::to_string(again.count) + " parts of text.\n");
            placed(1);
            return -1;
        }
        case SendStep::Place: break;
        }
        // A channel may hand the same acknowledgement over twice. The second
        // one has taken the place of the part on this clipboard: unless the
        // channel carried the part before, its acknowledgement never comes,
        // and the part goes on the clipboard again after a little while.
        if (text == lastAck_ && step.part == lastPart_) {
            if (!overwritten_) {
                overwritten_ = true;
                overwrittenSince_ = ::GetTickCount();
            }
            return -1;
        }
        lastAck_ = text;
        if (oneWay_) {
            console().write("An acknowledgement came back: the receiver holds " + std::to_string(ack.held) + " of " +
                            std::to_string(ack.count) + " parts. Going on part by part.\n");
            oneWay_ = false;
        }
        acknowledged(ack.held);
        placed(step.part);
        return -1;
    }

    int onTimeout() {
        if (!oneWay_) {
            oneWay_ = true;
            times_.assign(h().count, 0);
            times_[lastPart_ - 1] = 1;
            turn_ = lastPart_;
            console().write("No acknowledgement in " + std::to_string(options_.waitSeconds) +
                            " seconds: nothing seems to come back. Placing each part in turn for " +
                            std::to_string(options_.intervalSeconds) + " seconds, " + std::to_string(options_.rounds) +
                            " rounds (Ctrl+C stops).\n");
        }
        if (*std::min_element(times_.begin(), times_.end()) >= options_.rounds) {
            console().write("Every part was placed " + std::to_string(options_.rounds) +
                            " times. The receiver should now show the tree; if it still waits for a part, run "
                            "Tarnwick /SEND again.\n");
            return 0;
        }
        turn_ = turn_ % h().count + 1;
        ++times_[turn_ - 1];
        placed(turn_);
        return -1;
    }

    void acknowledged(uint32_t held) {
        if (held > heldParts_) heldParts_ = held;
    }

    void placed(uint32_t number) {
        PartHeader part = h();
        part.number = number;
        placeClipboardText(partText(part, copy_.payload.data() + part.offset()), false);
        placedAt_ = ::GetTickCount();
        lastPart_ = number;
        overwritten_ = false;

        const uint64_t total = h().total();
        const uint64_t done = std::min<uint64_t>(uint64_t(heldParts_) * h().partSize, total);
        const unsigned percent = unsigned(done * 100 / total);
        const double seconds = double(::GetTickCount() - started_) / 1000.0;
        char line[160];
        if (oneWay_) {
            std::snprintf(line, sizeof line, "Part %lu of %lu placed, round %lu of %lu.\n", (unsigned long)number,
                          (unsigned long)h().count, (unsigned long)times_[number - 1], (unsigned long)options_.rounds);
        } else {
            std::snprintf(line, sizeof line, "Part %lu of %lu placed: %u%% acknowledged, %.1f MB/s.\n",
                          (unsigned long)number, (unsigned long)h().count, percent,
                          seconds > 0.001 ? double(done) / 1e6 / seconds : 0.0);
        }
        console().write(line);
        title_.show(percent);
    }

    HandsFreeCopy copy_;
    SendOptions options_;
    TitleProgress title_;
    DWORD started_;
    DWORD placedAt_ = 0;
    uint32_t lastPart_ = 0;
    uint32_t heldParts_ = 0;
    bool oneWay_ = false;
    std::vector<uint32_t> times_;  // when one-way: how often each part was placed
    uint32_t turn_ = 0;
    std::u16string lastAck_;
    // A repeated acknowledgement took the place of the current part on the
    // clipboard (since then); the part is placed again when its own
    // acknowledgement has not come this long after.
    bool overwritten_ = false;
    DWORD overwrittenSince_ = 0;
    static constexpr DWORD kPlaceAgainMs = 3000;
};

}  // namespace

int sendHandsFree(const std::vector<std::wstring>& paths, const SendOptions& options) {
    HandsFreeCopy copy;
    textCopyRequest() = TextCopyRequest{true, options.partChars, &copy};
    if (!copyPaths(paths)) return 1;
    textCopyRequest() = TextCopyRequest{};
    int code = 1;
    runCommand([&] {
        try {
            code = Sender(std::move(copy), options).run();
        } catch (const std::bad_alloc&) {
            failedWith("Not enough memory.");
        } catch (const char* message) {
            failedWith(message);
        }
    });
    return code;
}

}  // namespace tw
