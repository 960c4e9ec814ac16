#include <windows.h>

#include <cstring>
#include <string>

#include "../../common/handles.h"
#include "../copy/messages.h"
#include "../platform/console.h"
#include "../transfer/text_transfer.h"
#include "hands_free.h"

namespace tw {

std::u16string tarnwickTextOnClipboard(bool& busy) {
    std::u16string text;
    // Opened before anything is asked: a program that is still placing its
    // formats holds the clipboard open, and what it holds then is half of
    // what it places.
    reader_window window;
    clipboard_session clipboard(window.get());
    busy = !clipboard;
    if (clipboard && ::IsClipboardFormatAvailable(CF_UNICODETEXT)) readClipboardText("TARNWICK ", text);
    return text;
}

void placeUnattended(const std::string& text) {
    const DWORD started = ::GetTickCount();
    bool said = false;
    for (;;) {
        try {
            placeClipboardText(text, false);
            return;
        } catch (const char* message) {
            // Each try waits about a second for the clipboard by itself. The
            // texts are compared, not the pointers: more than one unit
            // raises them.
            if (!message || (std::strcmp(message, kErrorOpeningClipboard) != 0 &&
                             std::strcmp(message, kErrorSettingClipboard) != 0))
                throw;
            if (::GetTickCount() - started >= kBusyPlaceSeconds * 1000u) throw;
            if (!said) {
                console().write("The clipboard is busy: trying again for up to " + std::to_string(kBusyPlaceSeconds) +
                                " seconds.\n");
                said = true;
            }
        }
    }
}

void failedWith(const char* message) {
    if (message && *message) console().write(std::string(message) + "\n");
    throw message;
}

bool parseSendOption(const std::wstring& arg, SendOptions& options, bool& bad) {
    bad = false;
    std::wstring upper;
    for (wchar_t c : arg) upper += (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c;
    uint32_t* target = nullptr;
    size_t skip = 0;
    if (upper.compare(0, 6, L"/WAIT:") == 0) {
        target = &options.waitSeconds;
        skip = 6;
    } else if (upper.compare(0, 10, L"/INTERVAL:") == 0) {
        target = &options.intervalSeconds;
        skip = 10;
    } else {
        return false;
    }
    uint64_t value = 0;
    size_t i = skip;
    for (; i < arg.size() && arg[i] >= L'0' && arg[i] <= L'9' && i - skip < 6; ++i) value = value * 10 + (arg[i] - L'0');
    if (i == skip || i != arg.size() || value < 1 || value > 86400) {
        bad = true;
        return true;
    }
    *target = uint32_t(value);
    return true;
}

}  // namespace tw
