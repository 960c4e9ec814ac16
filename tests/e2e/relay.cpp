// Carries the clipboard's text from one machine to another as a channel
// that knows only text does: CF_UNICODETEXT and nothing else.
//   relay get FILE                  the text (UTF-16LE, no terminator) to FILE
//   relay put FILE [cap] [lf|crlf]  FILE's text on the clipboard, cut after
//                                   cap characters (0: no cap), its line
//                                   ends turned into LF or CR LF
//   relay link OUT IN [cap] [lf|crlf|keep] [delay-ms] [both|send|receive]
//                                   one end of a channel that runs until
//                                   IN\stop exists: each change of this
//                                   machine's text (not its own) goes to
//                                   OUT\<n>.msg, and IN's messages come onto
//                                   this clipboard in order, each after the
//                                   delay, cut and with line ends as above,
//                                   then renamed <n>.done; send or receive
//                                   makes this end one-way
// Each machine is a Wine prefix of its own; get runs on the first, put on
// the second, link on both. Exits 0 on success.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Opened with a window as owner, as a real channel's agent does: then no
// other program can open it at the same time, even under Wine.
bool openClipboard() {
    static HWND owner = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    for (int i = 0; i < 200; ++i, ::Sleep(10))
        if (::OpenClipboard(owner)) return true;
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

// A message as the channel hands it over: line ends changed, cut at cap.
bool channelText(const char* path, size_t cap, const char* lineEnds, std::wstring& text) {
    FILE* in = std::fopen(path, "rb");
    if (!in) return false;
    const bool change = lineEnds && std::strcmp(lineEnds, "keep") != 0;
    text.clear();
    for (wchar_t c; std::fread(&c, 2, 1, in) == 1;) {
        if (change && c == L'\r') continue;
        if (change && c == L'\n' && std::strcmp(lineEnds, "crlf") == 0) text += L'\r';
        text += c;
    }
    std::fclose(in);
    if (cap && text.size() > cap) text.resize(cap);
    return true;
}

bool placeText(const std::wstring& text) {
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * 2);
    if (!memory || !openClipboard()) return false;
    std::memcpy(::GlobalLock(memory), text.c_str(), (text.size() + 1) * 2);
    ::GlobalUnlock(memory);
    ::EmptyClipboard();
    const bool ok = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    ::CloseClipboard();
    return ok;
}

// The clipboard's text (empty when it holds none); false while another
// program holds the clipboard open, perhaps half-way through placing it.
bool clipboardText(std::wstring& text) {
    text.clear();
    if (!openClipboard()) return false;
    HANDLE data = ::IsClipboardFormatAvailable(CF_UNICODETEXT) ? ::GetClipboardData(CF_UNICODETEXT) : nullptr;
    const auto* chars = data ? static_cast<const wchar_t*>(::GlobalLock(data)) : nullptr;
    if (chars) {
        text.assign(chars, ::wcsnlen(chars, ::GlobalSize(data) / 2));
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return true;
}

int failed(const std::string& what, int code) {
    std::fprintf(stderr, "relay: %s failed (error %lu)\n", what.c_str(), (unsigned long)::GetLastError());
    return code;
}

bool fileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int link(const std::string& out, const std::string& in, size_t cap, const char* lineEnds, DWORD delayMs,
         const char* direction) {
    const bool send = std::strcmp(direction, "receive") != 0, receive = std::strcmp(direction, "send") != 0;
    std::wstring lastPut;
    DWORD sequence = ::GetClipboardSequenceNumber();
    for (unsigned sent = 0, received = 0; !fileExists(in + "\\stop"); ::Sleep(10)) {
        const std::string next = in + "\\" + std::to_string(received + 1) + ".msg";
        if (fileExists(next)) {
            std::wstring text;
            if (!channelText(next.c_str(), cap, lineEnds, text)) return failed("reading " + next, 4);
            ++received;
            if (receive) {
                ::Sleep(delayMs);
                // A busy clipboard is tried again, as a real channel would.
                bool placed = false;
                for (int attempt = 0; attempt < 10 && !(placed = placeText(text)); ++attempt) ::Sleep(500);
                if (!placed) return failed("placing " + next, 5);
                // Marked as handed over, for whoever times the channel.
                const std::string done = in + "\\" + std::to_string(received) + ".done";
                ::MoveFileA(next.c_str(), done.c_str());
                lastPut = text;
            }
            continue;
        }
        const DWORD now = ::GetClipboardSequenceNumber();
        if (now == sequence || !send) continue;
        std::wstring text;
        if (!clipboardText(text)) continue;  // busy: look again
        sequence = now;
        // What this end put itself does not go back.
        if (text.empty() || text == lastPut) continue;
        const std::string name = out + "\\" + std::to_string(++sent);
        FILE* file = std::fopen((name + ".tmp").c_str(), "wb");
        if (!file) return failed("creating " + name, 3);
        const bool ok = std::fwrite(text.data(), 2, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !ok || !::MoveFileA((name + ".tmp").c_str(), (name + ".msg").c_str()))
            return failed("writing " + name, 4);
    }
    return 0;
}

int put(const char* path, size_t cap, const char* lineEnds) {
    std::wstring text;
    if (!channelText(path, cap, lineEnds, text)) return 4;

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
    if (argc >= 4 && argc <= 8 && std::strcmp(argv[1], "link") == 0)
        return link(argv[2], argv[3], argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 0, argc > 5 ? argv[5] : "keep",
                    argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 0, argc > 7 ? argv[7] : "both");
    if (argc >= 3 && argc <= 5 && std::strcmp(argv[1], "put") == 0)
        return put(argv[2], argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0, argc > 4 ? argv[4] : nullptr);
    std::fputs("relay get FILE | relay put FILE [cap] [lf|crlf] | relay link OUT IN [cap] [lf|crlf|keep] [delay-ms] "
               "[both|send|receive]\n",
               stderr);
    return 1;
}
