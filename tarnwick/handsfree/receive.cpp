// /RECEIVE and /FORCERECEIVE: parts taken as they appear on the clipboard,
// each kept as a /PASTE keeps it and answered with an acknowledgement; the
// tree pasted once every part is here.
#include <windows.h>

#include <algorithm>
#include <new>
#include <set>
#include <string>

#include "../paste/paste.h"
#include "../platform/clipboard_watch.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "../transfer/text_ack.h"
#include "../transfer/text_transfer.h"
#include "hands_free.h"

namespace tw {

namespace {

uint32_t lowestMissing(const std::vector<bool>& present) {
    auto it = std::find(present.begin(), present.end(), false);
    return it == present.end() ? 0 : uint32_t(it - present.begin()) + 1;
}

void acknowledge(uint64_t copy, const std::vector<bool>& present, bool pasted, uint32_t cutChars) {
    Ack ack;
    ack.copyId = copy;
    ack.count = uint32_t(present.size());
    ack.held = uint32_t(std::count(present.begin(), present.end(), true));
    ack.missing = lowestMissing(present);
    ack.pasted = pasted;
    ack.cutChars = cutChars;
    placeUnattended(ackText(ack));
}

class Receiver {
public:
    Receiver(const std::wstring& folder, bool force) : folder_(folder), force_(force) {}

    // Takes the clipboard's text when it is a part; true once the tree was
    // pasted.
    bool take() {
        std::u16string text = tarnwickTextOnClipboard(busy_);
        if (text.empty()) return false;
        ReadPart part = readPart(text.data(), text.size());
        switch (part.status) {
        case PartStatus::NotAPart: return false;  // an acknowledgement, or any other text
        case PartStatus::Incomplete: {
            uint64_t copy;
            uint32_t number, count;
            if (part.cut && peekPartCopy(text.data(), text.size(), copy, number, count)) {
                console().write("Part " + std::to_string(number) + " of " + std::to_string(count) +
                                " arrived cut short after " + std::to_string(text.size()) +
                                " characters: asking the sender for smaller parts.\n");
                answer(copy, keptParts(copy, count), false, uint32_t(std::min<size_t>(text.size(), 0xFFFFFFFF)));
            } else {
                ignore(incompletePartText(text.size(), part.cut).c_str());
            }
            return false;
        }
        case PartStatus::Invalid: ignore(kPartInvalid); return false;
        case PartStatus::Newer: ignore(kPartNewer); return false;
        case PartStatus::Part: break;
        }
        text.clear();
        text.shrink_to_fit();
        if (completesAnUnknownCopy(part.header)) return false;

        PartReceipt receipt;
        try {
            receipt = receivePartText(part, [&](uint32_t format, const uint8_t* block, size_t length,
                                                const uint8_t* names, size_t namesLength) {
                pasteBlockInto(folder_, force_, format, block, length, names, namesLength);
            });
        } catch (const char* message) {
            // The store's own refusals leave the transfer waiting; a paste
            // that failed ends it.
            if (message == kPartInvalid || message == kPartsDisagree) {
                ignore(message);
                return false;
            }
            throw;
        }
        const Arrival& a = receipt.arrival;
        if (a.pastedAlready) {
            // Pasted by an earlier run: the sender may stop, this run goes on
            // waiting for a copy of its own.
            console().write(arrivalText(a) + "\n");
            answer(a.header.copyId, std::vector<bool>(a.header.count, true), true, 0);
            return false;
        }
        if (!receipt.pasted) {
            console().write("Part " + std::to_string(a.header.number) + " of " + std::to_string(a.header.count) +
                            (a.repeated ? " had arrived already; " : " arrived; ") + std::to_string(a.missing) +
                            " still missing.\n");
        }
        answer(a.header.copyId, a.present, receipt.pasted, 0);
        return receipt.pasted;
    }

    // The last look found the clipboard held by another program: look
    // again after a while.
    bool busy() const { return busy_; }

private:
    void ignore(const char* message) { console().write(std::string("Ignored: ") + message + "\n"); }

    void answer(uint64_t copy, const std::vector<bool>& present, bool pasted, uint32_t cutChars) {
        acknowledge(copy, present, pasted, cutChars);
        answered_.insert(copy);
    }

    // A part that would complete a copy this run never answered (one left
    // on the clipboard from earlier, or the last part of a copy kept from
    // before) need not be what a sender sends now: it is named, not kept,
    // and answered as still missing. A sender that does send it places it
    // again on that answer, and then it is pasted.
    bool completesAnUnknownCopy(const PartHeader& h) {
        if (answered_.count(h.copyId)) return false;
        std::vector<bool> present = keptParts(h.copyId, h.count);
        present[h.number - 1] = true;
        if (std::find(present.begin(), present.end(), false) != present.end()) return false;
        present[h.number - 1] = false;
        console().write("Part " + std::to_string(h.number) + " of " + std::to_string(h.count) +
                        " would complete a copy that no sender has sent to this run yet: asking for it again "
                        "before pasting.\n");
        answer(h.copyId, present, false, 0);
        return true;
    }

    std::wstring folder_;
    bool force_;
    bool busy_ = false;
    std::set<uint64_t> answered_;  // copies acknowledged by this run
};

}  // namespace

int receiveHandsFree(const std::wstring& destination, bool force) {
    bool stopped = false;
    const bool ok = runCommand([&] {
        try {
            Receiver receiver(pasteFolder(destination), force);
            // Listening before the first look: a part placed in between
            // brings a notice.
            ClipboardWatch watch;
            console().write("Waiting for Tarnwick parts on the clipboard (Ctrl+C stops).\n");
            if (receiver.take()) return;
            for (;;) {
                switch (watch.wait(receiver.busy() ? kLookAgainMs : INFINITE)) {
                case ClipboardWatch::Wake::Stopped:
                    console().write("Stopped. The parts received so far are kept: Tarnwick /RECEIVE goes on where "
                                    "this one stopped.\n");
                    stopped = true;
                    return;
                case ClipboardWatch::Wake::Changed:
                    if (receiver.take()) return;
                    break;
                case ClipboardWatch::Wake::TimedOut:
                    if (receiver.busy() && receiver.take()) return;
                    break;
                }
            }
        } catch (const std::bad_alloc&) {
            failedWith("Not enough memory.");
        } catch (const char* message) {
            failedWith(message);
        }
    });
    return ok && !stopped ? 0 : 1;
}

}  // namespace tw
