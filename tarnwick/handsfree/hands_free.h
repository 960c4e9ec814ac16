// Hands-free text transfer: /SEND places the parts of a text copy one after
// another by itself, /RECEIVE takes them as they appear and answers each
// with an acknowledgement (tarnwick/transfer/text_ack.h). Where nothing
// comes back, /SEND cycles the parts on a timer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

struct SendOptions {
    uint64_t partChars = 0;     // as /TEXT:size
    uint32_t waitSeconds = 30;  // for the first acknowledgement, before going one-way
    uint32_t intervalSeconds = 10;  // each part's time on the clipboard when one-way
    uint32_t rounds = 3;        // of the parts, when one-way
};

// The exit code: 0 once the receiver pasted the tree, kSendNotConfirmed
// when the one-way rounds are over with no word of a paste, 1 on failure or
// when stopped.
constexpr int kSendNotConfirmed = 2;
int sendHandsFree(const std::vector<std::wstring>& paths, const SendOptions& options);
int receiveHandsFree(const std::wstring& destination, bool force);

// "/WAIT:n" and "/INTERVAL:n" (seconds, 1 to 86400) after /SEND; false when
// the argument is neither. bad: it is one of them, with a number that is not.
bool parseSendOption(const std::wstring& arg, SendOptions& options, bool& bad);

// ---- shared by the two sides ----

// The clipboard's CF_UNICODETEXT when it starts with "TARNWICK "; empty for
// anything else, which is not copied at all. busy: the clipboard stayed
// held by another program, so nothing was read; no change notice need come
// for it again (a program that only read the clipboard sends none), so the
// caller looks again after kLookAgainMs.
std::u16string tarnwickTextOnClipboard(bool& busy);
constexpr unsigned kLookAgainMs = 250;

// Places a part or an acknowledgement for a command that runs unattended:
// a clipboard that another program holds is tried again for up to
// kBusyPlaceSeconds, said once on the console, before the failure ends the
// command.
void placeUnattended(const std::string& text);
constexpr unsigned kBusyPlaceSeconds = 30;

// Raises a message text for the command's box, and puts it on the console
// first: these commands run unattended, often where no one sees a box.
[[noreturn]] void failedWith(const char* message);

}  // namespace tw
