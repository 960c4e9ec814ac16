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
#include "../transfer/send_plan.h"
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

// GetTickCount in 64 bits: the differences summed, so that the 49.7 days
// after which the count wraps cost nothing.
class Clock {
public:
    uint64_t now() {
        const DWORD tick = ::GetTickCount();
        ms_ += DWORD(tick - last_);
        last_ = tick;
        return ms_;
    }

private:
    DWORD last_ = ::GetTickCount();
    uint64_t ms_ = 0;
};

SendTimes timesOf(const SendOptions& options) {
    SendTimes t;
    t.waitMs = uint64_t(options.waitSeconds) * 1000;
    t.intervalMs = uint64_t(options.intervalSeconds) * 1000;
    t.rounds = options.rounds;
    return t;
}

class Sender {
public:
    Sender(HandsFreeCopy&& copy, const SendOptions& options)
        : copy_(std::move(copy)), options_(options), plan_(copy_.header, copy_.resumed, timesOf(options)) {}

    int run() {
        ClipboardWatch watch;
        console().write("The copy is " + std::to_string(h().count) +
                        " parts of text. Run Tarnwick /RECEIVE on the other side; the parts follow its "
                        "acknowledgements (Ctrl+C stops).\n");
        if (const int code = act(plan_.start(clock_.now())); code >= 0) return code;
        for (;;) {
            const uint64_t now = clock_.now();
            const uint64_t due = lookAgainAt_ ? std::min(plan_.deadline(), lookAgainAt_) : plan_.deadline();
            const uint64_t left = due > now ? due - now : 0;
            switch (watch.wait(DWORD(std::min<uint64_t>(left, 0x7FFFFFFF)))) {
            case ClipboardWatch::Wake::Stopped:
                console().write("Stopped. Tarnwick /SEND with the same paths goes on where this one stopped.\n");
                return 1;
            case ClipboardWatch::Wake::Changed:
                if (const int code = onChange(); code >= 0) return code;
                break;
            case ClipboardWatch::Wake::TimedOut:
                if (lookAgainAt_ && clock_.now() >= lookAgainAt_) {
                    if (const int code = onChange(); code >= 0) return code;
                }
                if (clock_.now() < plan_.deadline()) break;
                if (const int code = act(plan_.onTime(clock_.now())); code >= 0) return code;
                break;
            }
        }
    }

private:
    const PartHeader& h() const { return plan_.copy(); }

    // An acknowledgement goes to the plan; any other text, the parts
    // themselves included, is not for us. -1: go on waiting.
    int onChange() {
        bool busy = false;
        const std::u16string text = tarnwickTextOnClipboard(busy);
        lookAgainAt_ = busy ? clock_.now() + kLookAgainMs : 0;
        Ack ack;
        if (text.empty() || readAck(text.data(), text.size(), ack) != AckStatus::Ack) return -1;
        heardFrom_ = ack;
        return act(plan_.onAck(ack, clock_.now()));
    }

    // Carries out what the plan decided; the exit code when /SEND ends.
    int act(const SendAction& a) {
        switch (a.note) {
        case SendAction::Quiet: break;
        case SendAction::WentOneWay:
            console().write("No acknowledgement in " + std::to_string(options_.waitSeconds) +
                            " seconds: nothing seems to come back. Placing each part in turn for " +
                            std::to_string(options_.intervalSeconds) + " seconds, " + std::to_string(options_.rounds) +
                            " rounds (Ctrl+C stops).\n");
            break;
        case SendAction::BackTwoWay:
            console().write("An acknowledgement came back: the receiver holds " + std::to_string(heardFrom_.held) +
                            " of " + std::to_string(heardFrom_.count) + " parts. Going on part by part.\n");
            break;
        }
        switch (a.kind) {
        case SendAction::None: return -1;
        case SendAction::Place: placed(a.part); return -1;
        case SendAction::Done:
            // A later /SEND of the same tree is a new copy, not this one.
            forgetKeptCopy();
            console().write("The receiver pasted the tree.\nDone.\n");
            return 0;
        case SendAction::TooSmall: throw kChannelTooSmall;
        case SendAction::Resize:
            console().write("Part " + std::to_string(lastPart_) + " was cut short by the channel after " +
                            std::to_string(a.cutChars) + " characters: cutting the copy again into parts of " +
                            std::to_string(a.chars) + " characters.\n");
            return recut(a.chars);
        case SendAction::Renew:
            console().write("The receiver pasted this copy before: sending it again as a new copy.\n");
            return recut(0);
        case SendAction::RoundsOver:
            console().write("Every part was placed " + std::to_string(options_.rounds) +
                            " times. The receiver should now show the tree; if it still waits for a part, run "
                            "Tarnwick /SEND again.\n");
            return kSendNotConfirmed;
        }
        return -1;
    }

    // chars: the size to cut the payload into, 0 to keep the parts as they are.
    int recut(uint64_t chars) {
        PartHeader again = h();
        again.copyId = freshCopyId(again.copyId);
        again.number = 1;
        if (chars) planParts(chars, again);
        keepCopyForNext(again, copy_.payload);
        console().write("The copy is " + std::to_string(again.count) + " parts of text.\n");
        return act(plan_.recut(again, clock_.now()));
    }

    void placed(uint32_t number) {
        PartHeader part = h();
        part.number = number;
        placeUnattended(partText(part, copy_.payload.data() + part.offset()));
        lastPart_ = number;

        const unsigned percent = plan_.percent();
        const double seconds = double(clock_.now()) / 1000.0;
        char line[160];
        if (plan_.oneWay()) {
            std::snprintf(line, sizeof line, "Part %lu of %lu placed, round %lu of %lu.\n", (unsigned long)number,
                          (unsigned long)h().count, (unsigned long)plan_.rounds(number),
                          (unsigned long)options_.rounds);
        } else {
            std::snprintf(line, sizeof line, "Part %lu of %lu placed: %u%% acknowledged, %.1f MB/s.\n",
                          (unsigned long)number, (unsigned long)h().count, percent,
                          seconds > 0.001 ? double(plan_.doneBytes()) / 1e6 / seconds : 0.0);
        }
        console().write(line);
        title_.show(percent);
    }

    HandsFreeCopy copy_;
    SendOptions options_;
    TitleProgress title_;
    Clock clock_;
    SendPlan plan_;
    Ack heardFrom_;
    uint32_t lastPart_ = 0;
    uint64_t lookAgainAt_ = 0;  // the clipboard was busy: read it again then
};

// Ctrl+C while the copy is still being packed ends /SEND as a stop does
// later on, with exit 1 and a line saying so; the kept copy is written
// whole or not at all, so nothing half-done stays behind.
BOOL WINAPI stopWhilePacking(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    static const char line[] = "\r\nStopped.\r\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, nullptr);
    ::ExitProcess(1);
}

}  // namespace

int sendHandsFree(const std::vector<std::wstring>& paths, const SendOptions& options) {
    HandsFreeCopy copy;
    textCopyRequest() = TextCopyRequest{true, options.partChars, &copy};
    ::SetConsoleCtrlHandler(stopWhilePacking, TRUE);
    const bool packed = copyPaths(paths);
    ::SetConsoleCtrlHandler(stopWhilePacking, FALSE);
    if (!packed) return 1;
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
