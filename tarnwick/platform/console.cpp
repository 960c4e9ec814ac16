#include "console.h"

#include <windows.h>

#include <cstring>

#include "wide.h"

namespace tw {

namespace {

// Older consoles refuse a single write of 64 KB or more.
constexpr size_t kChunk = 16384;

bool isConsole(HANDLE out) {
    DWORD mode;
    return ::GetFileType(out) == FILE_TYPE_CHAR && ::GetConsoleMode(out, &mode);
}

void writeBytes(HANDLE out, const char* at, size_t left) {
    while (left) {
        DWORD chunk = DWORD(left > 2 * kChunk ? 2 * kChunk : left), written = 0;
        if (!::WriteFile(out, at, chunk, &written, nullptr) || written == 0) return;
        at += written;
        left -= written;
    }
}

void writeUnits(HANDLE out, const wchar_t* at, size_t left) {
    while (left) {
        DWORD chunk = DWORD(left > kChunk ? kChunk : left), written = 0;
        // Never end a piece between the two halves of a surrogate pair.
        if (chunk < left && at[chunk - 1] >= 0xD800 && at[chunk - 1] <= 0xDBFF) --chunk;
        if (!::WriteConsoleW(out, at, chunk, &written, nullptr) || written == 0) return;
        at += written;
        left -= written;
    }
}

}  // namespace

void Console::write(const char* text) { write(widen(text, std::strlen(text))); }

void Console::write(const std::string& text) { write(widen(text)); }

void Console::write(const std::wstring& text) {
    pending_.append(text);
    if (pending_.endsLine()) flush();
}

void Console::write(char c) {
    wchar_t unit = wchar_t(static_cast<unsigned char>(c));
    if (unit >= 0x80) {
        write(std::string(1, c));
        return;
    }
    pending_.append(&unit, 1);
    if (pending_.endsLine()) flush();
}

void Console::flush() {
    if (pending_.empty()) return;
    // No standard output (a program started without one) takes nothing,
    // as the C runtime's stdout would.
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) {
        static const bool console = isConsole(out);
        if (console) {
            writeUnits(out, pending_.data(), pending_.size());
        } else {
            std::string bytes = toAnsiShown(pending_.data(), pending_.size());
            writeBytes(out, bytes.data(), bytes.size());
        }
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
