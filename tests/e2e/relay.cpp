// Carries the clipboard's text from one machine to another as a channel
// that knows only text does: CF_UNICODETEXT and nothing else.
//   relay get FILE                  the text (UTF-16LE, no terminator) to FILE
//   relay put FILE [cap] [lf|crlf]  FILE's text on the clipboard, cut after
//                                   cap characters (0: no cap), its line
//                                   ends turned into LF or CR LF
// Each machine is a Wine prefix of its own; get runs on the first, put on
// the second. Exits 0 on success.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool openClipboard() {
    for (int i = 0; i < 200; ++i, ::Sleep(10))
        if (::OpenClipboard(nullptr)) return true;
    return false;
}

int get(const char* path) {
    if (!openClipboard()) return 2;
    HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    const auto* text = data ? static_cast<const wchar_t*>(::GlobalLock(data)) : nullptr;
    const std::wstring copy = text ? std::wstring(text, ::wcsnlen(text, ::GlobalSize(data) / 2)) : L"";
    if (text) ::GlobalUnlock(data);
    ::CloseClipboard();
    FILE* out = text ? std::fopen(path, "wb") : nullptr;
    if (!out) return 3;
    const bool ok = std::fwrite(copy.data(), 2, copy.size(), out) == copy.size();
    return std::fclose(out) == 0 && ok ? 0 : 4;
}

int put(const char* path, size_t cap, const char* lineEnds) {
    FILE* in = std::fopen(path, "rb");
    if (!in) return 4;
    std::wstring text;
    for (wchar_t c; std::fread(&c, 2, 1, in) == 1;) {
        if (lineEnds && c == L'\r') continue;
        if (lineEnds && c == L'\n' && std::strcmp(lineEnds, "crlf") == 0) text += L'\r';
        text += c;
    }
    std::fclose(in);
    if (cap && text.size() > cap) text.resize(cap);

    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * 2);
    if (!memory || !openClipboard()) return 5;
    std::memcpy(::GlobalLock(memory), text.c_str(), (text.size() + 1) * 2);
    ::GlobalUnlock(memory);
    ::EmptyClipboard();
    const bool ok = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    ::CloseClipboard();
    return ok ? 0 : 6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "get") == 0) return get(argv[2]);
    if (argc >= 3 && argc <= 5 && std::strcmp(argv[1], "put") == 0)
        return put(argv[2], argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0, argc > 4 ? argv[4] : nullptr);
    std::fputs("relay get FILE | relay put FILE [cap] [lf|crlf]\n", stderr);
    return 1;
}
