#include <windows.h>

#include "../../common/handles.h"
#include "../platform/console.h"
#include "../transfer/text_transfer.h"
#include "hands_free.h"

namespace tw {

std::u16string tarnwickTextOnClipboard() {
    std::u16string text;
    // Opened before anything is asked: a program that is still placing its
    // formats holds the clipboard open, and what it holds then is half of
    // what it places. One that stays busy brings a notice of its own later.
    clipboard_session clipboard;
    if (clipboard && ::IsClipboardFormatAvailable(CF_UNICODETEXT)) readClipboardText("TARNWICK ", text);
    return text;
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
