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
// With TARNWICK_RELAY_LOG naming a file, link appends a line per event to
// it, for whoever takes a transfer's time apart: the Unix time in seconds,
// the end (its OUT folder's name), the event (seen: another program's text
// appeared; sent: it is in OUT; picked: a message was taken from IN;
// placed: it is on this clipboard), the message's number and length, and
// the start of its first line.
// Each machine is a Wine prefix of its own; get runs on the first, put on
// the second, link on both. Exits 0 on success.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Opened with a window as owner, as a real channel's agent does: then no
// other program can open it at the same time, even under Wine. What this
// end placed itself is told by that owner.
HWND owner() {
    static HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return window;
}

// Waits up to ms for the next look, answering what other programs send
// this end's window meanwhile (the clipboard's owner is told when another
// program empties it, and that program waits for the answer).
void pause(DWORD ms) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
    for (MSG msg; ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) ::DispatchMessageA(&msg);
}

bool openClipboard() {
    for (int i = 0; i < 200; ++i, pause(10))
        if (::OpenClipboard(owner())) return true;
    return false;
}

class EventLog {
public:
    EventLog(const std::string& end) : end_(end) {
        char path[MAX_PATH];
        const DWORD n = ::GetEnvironmentVariableA("TARNWICK_RELAY_LOG", path, MAX_PATH);
        if (n && n < MAX_PATH) file_ = std::fopen(path, "ab");
    }
    ~EventLog() {
        if (file_) std::fclose(file_);
    }
    // The text's first line, up to 60 characters, blanks as '_', tells
    // which part or acknowledgement a message is.
    void operator()(const char* event, unsigned number, const std::wstring& text) {
        if (!file_) return;
        std::string first;
        for (size_t i = 0; i < text.size() && i < 60 && text[i] != L'\r' && text[i] != L'\n'; ++i)
            first += text[i] > L' ' && text[i] < 0x7F ? char(text[i]) : '_';
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);  // Wine reads the system clock for it, to the microsecond
        const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 116444736000000000ull;
        std::fprintf(file_, "%.4f %s %s %u %lu %s\n", double(ticks) / 1e7, end_.c_str(), event, number,
                     (unsigned long)text.size(), first.empty() ? "-" : first.c_str());
        std::fflush(file_);
    }

private:
    std::string end_;
    FILE* file_ = nullptr;
};

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
    std::vector<wchar_t> chars;
    wchar_t block[1 << 16];
    for (size_t n; (n = std::fread(block, 2, sizeof block / 2, in)) > 0;) chars.insert(chars.end(), block, block + n);
    std::fclose(in);
    text.clear();
    if (!lineEnds || std::strcmp(lineEnds, "keep") == 0) {
        text.assign(chars.begin(), chars.end());
    } else {
        text.reserve(chars.size() + chars.size() / 32);
        for (wchar_t c : chars) {
            if (c == L'\r') continue;
            if (c == L'\n' && std::strcmp(lineEnds, "crlf") == 0) text += L'\r';
            text += c;
        }
    }
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

// The clipboard's text (empty when it holds none) and the sequence number
// of what was read; false while another program holds the clipboard open,
// perhaps half-way through placing it.
bool clipboardText(std::wstring& text, DWORD& sequence) {
    text.clear();
    if (!openClipboard()) return false;
    // Nothing changes while this end holds it open: the formats that the
    // program that placed it set after its text bring no second message.
    sequence = ::GetClipboardSequenceNumber();
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

// A real channel's agent hears of each change of its machine's clipboard
// while the other end's messages are on their way, and hands one over as
// soon as its delay has passed: a change here is sent before a message is
// placed over it.
int link(const std::string& out, const std::string& in, size_t cap, const char* lineEnds, DWORD delayMs,
         const char* direction) {
    const bool send = std::strcmp(direction, "receive") != 0, receive = std::strcmp(direction, "send") != 0;
    EventLog log(out.substr(out.find_last_of("\\/") + 1));
    DWORD sequence = ::GetClipboardSequenceNumber();
    unsigned sent = 0, received = 0;
    std::wstring incoming;
    std::string incomingPath;
    bool pending = false;
    DWORD due = 0;
    // Sends this machine's text when it changed; false when writing failed.
    auto sendChange = [&]() {
        const DWORD now = ::GetClipboardSequenceNumber();
        if (now == sequence || !send) return true;
        // What this end put itself does not go back, and is not read again.
        if (::GetClipboardOwner() == owner()) {
            sequence = now;
            return true;
        }
        log("seen", sent + 1, std::wstring());
        std::wstring text;
        if (!clipboardText(text, sequence) || text.empty()) return true;  // busy: look again
        const std::string name = out + "\\" + std::to_string(++sent);
        FILE* file = std::fopen((name + ".tmp").c_str(), "wb");
        if (!file) return false;
        const bool ok = std::fwrite(text.data(), 2, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !ok || !::MoveFileA((name + ".tmp").c_str(), (name + ".msg").c_str()))
            return false;
        log("sent", sent, text);
        return true;
    };
    auto nextLook = [&]() -> DWORD {
        const int32_t left = pending ? int32_t(due - ::GetTickCount()) : 10;
        return DWORD(std::clamp<int32_t>(left, 0, 10));
    };
    for (; !fileExists(in + "\\stop"); pause(nextLook())) {
        if (!sendChange()) return failed("writing message " + std::to_string(sent + 1), 4);
        const std::string next = in + "\\" + std::to_string(received + 1) + ".msg";
        if (!pending && fileExists(next)) {
            if (!channelText(next.c_str(), cap, lineEnds, incoming)) return failed("reading " + next, 4);
            ++received;
            if (!receive) continue;
            incomingPath = next;
            log("picked", received, incoming);
            pending = true;
            due = ::GetTickCount() + delayMs;
        }
        if (!pending || int32_t(::GetTickCount() - due) < 0) continue;
        // A busy clipboard is tried again, as a real channel would.
        bool placed = false;
        for (int attempt = 0; attempt < 10 && !(placed = placeText(incoming)); ++attempt) pause(500);
        if (!placed) return failed("placing " + incomingPath, 5);
        pending = false;
        // Marked as handed over, for whoever times the channel.
        const std::string done = in + "\\" + std::to_string(received) + ".done";
        ::MoveFileA(incomingPath.c_str(), done.c_str());
        log("placed", received, incoming);
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
