#include "console.h"

#include <windows.h>

#include <cstring>

namespace tw {

void Console::write(const char* text) {
    pending_.append(text, std::strlen(text));
    if (pending_.endsLine()) flush();
}

void Console::write(const std::string& text) {
    pending_.append(text);
    if (pending_.endsLine()) flush();
}

void Console::write(char c) {
    pending_.append(&c, 1);
    if (pending_.endsLine()) flush();
}

void Console::flush() {
    if (pending_.empty()) return;
    // No standard output (a program started without one) takes nothing,
    // as the C runtime's stdout would.
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const char* at = pending_.data();
    size_t left = pending_.size();
    while (left && out && out != INVALID_HANDLE_VALUE) {
        // Older consoles refuse a single write of 64 KB or more.
        DWORD chunk = left > 32768 ? 32768 : DWORD(left), written = 0;
        if (!::WriteFile(out, at, chunk, &written, nullptr) || written == 0) break;
        at += written;
        left -= written;
    }
    pending_.clear();
}

void Console::endLine() {
    if (pending_.lineOpen()) write('\n');
}

Console& console() {
    static Console instance;
    return instance;
}

}  // namespace tw
