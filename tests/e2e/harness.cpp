#include "harness.h"

#include <psapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace {

std::string stripCr(const std::string& s) {
    std::string r;
    r.reserve(s.size());
    for (char c : s)
        if (c != '\r') r += c;
    return r;
}

void fail(const std::string& what) {
    throw std::runtime_error(what + " (error " + std::to_string(::GetLastError()) + ")");
}

// Wine now and then fails to start a process (error 1359, after some
// hundreds of starts in a row) and starts the same one a moment later; a
// missing or broken program fails every time. start() is tried again a few
// times, each retry said on standard output so that it shows in the test's
// log. Returns start()'s last result, GetLastError() as it left it.
bool startWithRetries(const std::string& what, const std::function<BOOL()>& start) {
    const int kAttempts = 4;
    for (int attempt = 1;; ++attempt) {
        if (start()) return true;
        const DWORD error = ::GetLastError();
        if (attempt == kAttempts || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_BAD_EXE_FORMAT) {
            ::SetLastError(error);
            return false;
        }
        const DWORD pause = 250u << (attempt - 1);
        std::printf("[ retry    ] starting %s failed (error %lu); trying again in %lu ms (attempt %d of %d)\n",
                    what.c_str(), (unsigned long)error, (unsigned long)pause, attempt + 1, kAttempts);
        std::fflush(stdout);
        ::Sleep(pause);
    }
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

}  // namespace

// ---- paths ----------------------------------------------------------------

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &out[0], n);
    return out;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring filePath(const std::string& path) {
    std::wstring w = widen(path);
    if (w.size() >= MAX_PATH - 12 && w.size() > 2 && w[1] == L':') return L"\\\\?\\" + w;
    return w;
}

std::string toWindowsPath(const std::string& unixPath) {
    std::string r = "Z:" + unixPath;
    std::replace(r.begin(), r.end(), '/', '\\');
    return r;
}

namespace {
bool peerTarget() {
    char value[16] = "";
    DWORD n = ::GetEnvironmentVariableA("TW_E2E_TARGET", value, sizeof value);
    return n && n < sizeof value && std::string(value) == "peer";
}
}  // namespace

std::string binDir() {
#ifdef TW_PEER_BIN_DIR_UNIX
    if (peerTarget()) return toWindowsPath(TW_PEER_BIN_DIR_UNIX);
#endif
    return toWindowsPath(TW_BIN_DIR_UNIX);
}
bool binIs64Bit() { return sizeof(void*) == 8 && !peerTarget(); }
#ifdef TW_PEER_BIN_DIR_UNIX
std::string peerTarnwickExe() { return toWindowsPath(TW_PEER_BIN_DIR_UNIX) + "\\Tarnwick.exe"; }
#ifdef TW_PEER_RUNS
bool peerRuns() { return true; }
#else
bool peerRuns() { return false; }
#endif
#endif
std::string tarnwickExe() { return binDir() + "\\Tarnwick.exe"; }
std::string setupExe() { return binDir() + "\\Setup.exe"; }
std::string sourceDir() { return toWindowsPath(TW_SOURCE_DIR_UNIX); }

std::string testsDir() {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return folderOf(std::string(path, n));
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    for (;;) {
        std::string candidate = std::string(temp) + "tw-e2e-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                std::to_string(counter++) + "-" + std::to_string(::GetTickCount() % 100000);
        if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            break;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) fail("CreateDirectory " + candidate);
    }
}

TempDir::~TempDir() { removeTree(path_); }

// ---- files ----------------------------------------------------------------

void writeFile(const std::string& path, const std::string& content) {
    writeFile(path, Bytes(content.begin(), content.end()));
}

void writeFile(const std::string& path, const Bytes& content) {
    HANDLE h = ::CreateFileW(filePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("CreateFile " + path);
    size_t done = 0;
    while (done < content.size()) {
        DWORD chunk = DWORD(std::min<size_t>(content.size() - done, 1 << 24)), written = 0;
        if (!::WriteFile(h, content.data() + done, chunk, &written, nullptr) || written == 0) {
            ::CloseHandle(h);
            fail("WriteFile " + path);
        }
        done += written;
    }
    ::CloseHandle(h);
}

std::string readFile(const std::string& path) {
    HANDLE h = ::CreateFileW(filePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("open " + path);
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    ::CloseHandle(h);
    return data;
}

bool exists(const std::string& path) { return attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool isDir(const std::string& path) {
    DWORD a = attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void makeDir(const std::string& path) {
    if (!::CreateDirectoryW(filePath(path).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        fail("CreateDirectory " + path);
}

void removeTree(const std::string& path) {
    const std::wstring w = filePath(path);
    DWORD a = ::GetFileAttributesW(w.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Links to folders are removed, never followed.
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (const auto& name : listDir(path)) removeTree(path + "\\" + name);
        ::RemoveDirectoryW(w.c_str());
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
        if (!::RemoveDirectoryW(w.c_str())) ::DeleteFileW(w.c_str());
    } else {
        ::DeleteFileW(w.c_str());
    }
}

DWORD attributes(const std::string& path) { return ::GetFileAttributesW(filePath(path).c_str()); }

void setAttributes(const std::string& path, DWORD value) {
    if (!::SetFileAttributesW(filePath(path).c_str(), value)) fail("SetFileAttributes " + path);
}

uint64_t lastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(filePath(path).c_str(), GetFileExInfoStandard, &data)) fail("GetFileAttributesEx " + path);
    return uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

void setLastWriteTime(const std::string& path, uint64_t fileTime) {
    HANDLE h = ::CreateFileW(filePath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("open for time " + path);
    FILETIME t{DWORD(fileTime), DWORD(fileTime >> 32)};
    BOOL ok = ::SetFileTime(h, nullptr, nullptr, &t);
    ::CloseHandle(h);
    if (!ok) fail("SetFileTime " + path);
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(filePath(path + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string n = narrow(fd.cFileName);
        if (n != "." && n != "..") names.push_back(n);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return names;
}

FileLock::FileLock(const std::string& path)
    : handle_(::CreateFileW(filePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) fail("lock " + path);
}

FileLock::~FileLock() { ::CloseHandle(handle_); }

Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed ? seed : 1;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = uint8_t(x >> 24);
    }
    return b;
}

std::string repeatedText(size_t n) {
    static const char kLine[] = "The quick brown fox jumps over the lazy dog. 0123456789\n";
    std::string s;
    s.reserve(n);
    while (s.size() < n) s += kLine;
    s.resize(n);
    return s;
}

// ---- windows and message boxes --------------------------------------------

bool Box::has(int id) const { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); }

int defaultAnswer(const Box& box) { return box.has(IDOK) ? IDOK : IDCANCEL; }

Answer pressInOrder(std::vector<int> ids) {
    auto queue = std::make_shared<std::vector<int>>(std::move(ids));
    auto next = std::make_shared<size_t>(0);
    return [queue, next](const Box& box) {
        if (*next < queue->size()) return (*queue)[(*next)++];
        return defaultAnswer(box);
    };
}

namespace {

std::string windowText(HWND w) {
    wchar_t text[4096] = {};
    // WM_GETTEXT crosses processes; GetWindowText would not for controls.
    ::SendMessageTimeoutW(w, WM_GETTEXT, sizeof text / sizeof *text, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 5000, nullptr);
    return narrow(text);
}

std::string className(HWND w) {
    char name[64] = {};
    ::GetClassNameA(w, name, sizeof name);
    return name;
}

// The pixels of a w x h picture painted into a memory bitmap by paint(dc).
template <class Paint>
std::vector<COLORREF> pixels(int w, int h, Paint paint) {
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    paint(mem, screen);
    std::vector<COLORREF> px;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) px.push_back(::GetPixel(mem, i, j));
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return px;
}

std::vector<COLORREF> grabScreen(int x, int y, int w, int h) {
    return pixels(w, h, [&](HDC mem, HDC screen) { ::BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY); });
}

std::vector<COLORREF> drawIcon(HICON icon, int w, int h, COLORREF background) {
    return pixels(w, h, [&](HDC mem, HDC) {
        HBRUSH brush = ::CreateSolidBrush(background);
        RECT all{0, 0, w, h};
        ::FillRect(mem, &all, brush);
        ::DeleteObject(brush);
        ::DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    });
}

// Icon handles belong to the process that loaded them, so the box's icon is
// told by its pixels: the icon static, as shown on screen, against each of
// the system icons drawn here on the same background.
std::string iconName(HWND box) {
    HWND stat = nullptr;
    for (int id : {0x440, 0x14})  // the icon static: Wine's id, Windows' id
        if ((stat = ::GetDlgItem(box, id))) break;
    if (!stat || !::IsWindowVisible(stat)) return "";
    RECT r;
    ::GetWindowRect(stat, &r);
    int w = std::min<int>(r.right - r.left, 64), h = std::min<int>(r.bottom - r.top, 64);
    if (w <= 0 || h <= 0) return "";
    struct {
        LPCSTR id;
        const char* name;
    } const kIcons[] = {{IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_QUESTION, "question"},
                        {IDI_ASTERISK, "information"}};
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::vector<COLORREF> shown = grabScreen(r.left, r.top, w, h);
        const char* best = nullptr;
        size_t bestDiff = shown.size();
        for (const auto& k : kIcons) {
            std::vector<COLORREF> drawn = drawIcon(::LoadIconA(nullptr, k.id), w, h, shown[0]);
            size_t diff = 0;
            for (size_t i = 0; i < shown.size(); ++i) diff += shown[i] != drawn[i];
            if (diff < bestDiff) bestDiff = diff, best = k.name;
        }
        if (best && bestDiff * 20 < shown.size()) return best;  // under 5% of pixels differ
        ::Sleep(50);  // not painted yet
    }
    return "other";
}

}  // namespace

Box readBox(HWND w) {
    Box b;
    b.hwnd = w;
    b.caption = windowText(w);
    if (HWND stat = ::GetDlgItem(w, 0xFFFF)) b.text = windowText(stat);
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        HWND btn = ::GetDlgItem(w, id);
        if (!btn || className(btn) != "Button") continue;
        b.buttons.push_back(id);
        // Wine's message box answers DM_GETDEFID with IDOK whatever it
        // shows; the button's own style says which one Enter presses.
        if ((::GetWindowLongA(btn, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) b.defaultButton = id;
    }
    DWORD_PTR def = 0;
    if (!b.defaultButton && ::SendMessageTimeoutA(w, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 5000, &def) &&
        HIWORD(def) == DC_HASDEFID)
        b.defaultButton = LOWORD(def);
    b.icon = iconName(w);
    return b;
}

void press(HWND window, int id) {
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(window, id)));
}

bool waitGone(HWND window, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    while (::IsWindow(window)) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

void setControlText(HWND dialog, int id, const std::string& text) {
    const std::wstring wide = widen(text);
    ::SendMessageTimeoutW(::GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                          SMTO_ABORTIFHUNG, 5000, nullptr);
}

std::string controlText(HWND dialog, int id) { return windowText(::GetDlgItem(dialog, id)); }

namespace {

struct FindState {
    DWORD pid;
    const std::string* caption;
    const std::function<bool(HWND)>* filter;
    HWND found;
};

BOOL CALLBACK findWindowProc(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<FindState*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !::IsWindowVisible(w) || className(w) != "#32770") return TRUE;
    if (windowText(w) != *s->caption) return TRUE;
    if (*s->filter && !(*s->filter)(w)) return TRUE;
    s->found = w;
    return FALSE;
}

}  // namespace

struct Process::Pipes {
    HANDLE out = nullptr, err = nullptr;
    std::mutex lock;
    std::string outText, errText;
    std::thread outReader, errReader;

    static void pump(HANDLE h, std::string* text, std::mutex* m) {
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            std::lock_guard<std::mutex> g(*m);
            text->append(buffer, got);
        }
    }
    void join() {
        if (outReader.joinable()) outReader.join();
        if (errReader.joinable()) errReader.join();
    }
    ~Pipes() {
        join();
        if (out) ::CloseHandle(out);
        if (err) ::CloseHandle(err);
    }
};

std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string r = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            r.append(backslashes * 2 + 1, '\\');
            backslashes = 0;
        } else {
            r.append(backslashes, '\\');
            backslashes = 0;
        }
        if (c != '\\') r += c;
    }
    r.append(backslashes * 2, '\\');
    return r + "\"";
}

Process::Process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                 bool captureOutput) {
    std::string commandLine = quoteArgument(exe);
    for (const auto& a : args) commandLine += " " + quoteArgument(a);
    start(exe, commandLine, cwd, captureOutput);
}

std::unique_ptr<Process> Process::raw(const std::string& exe, const std::string& commandLine, const std::string& cwd) {
    std::unique_ptr<Process> p(new Process());
    p->start(exe, commandLine, cwd, true);
    return p;
}

std::unique_ptr<Process> Process::inNewConsole(const std::string& exe, const std::vector<std::string>& args) {
    std::unique_ptr<Process> p(new Process());
    std::string commandLine = quoteArgument(exe);
    for (const auto& a : args) commandLine += " " + quoteArgument(a);
    p->start(exe, commandLine, "", false, CREATE_NEW_CONSOLE);
    return p;
}

void Process::start(const std::string& exe, const std::string& commandLine, const std::string& cwd, bool capture,
                    DWORD flags) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    HANDLE outWrite = nullptr, errWrite = nullptr, nul = nullptr;
    pipes_ = std::make_shared<Pipes>();
    if (capture) {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        if (!::CreatePipe(&pipes_->out, &outWrite, &sa, 0) || !::CreatePipe(&pipes_->err, &errWrite, &sa, 0))
            fail("CreatePipe");
        ::SetHandleInformation(pipes_->out, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(pipes_->err, HANDLE_FLAG_INHERIT, 0);
        nul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nul;
        si.hStdOutput = outWrite;
        si.hStdError = errWrite;
    }
    PROCESS_INFORMATION pi{};
    std::wstring line = widen(commandLine), wideCwd = widen(cwd);
    STARTUPINFOW siw{};
    siw.cb = sizeof siw;
    siw.dwFlags = si.dwFlags;
    siw.hStdInput = si.hStdInput;
    siw.hStdOutput = si.hStdOutput;
    siw.hStdError = si.hStdError;
    const std::wstring wideExe = widen(exe);
    BOOL ok = startWithRetries(commandLine, [&] {
        std::wstring copy = line;  // CreateProcessW may write into it
        return ::CreateProcessW(wideExe.c_str(), &copy[0], nullptr, nullptr, capture, flags, nullptr,
                                cwd.empty() ? nullptr : wideCwd.c_str(), &siw, &pi);
    });
    DWORD error = ::GetLastError();
    if (outWrite) ::CloseHandle(outWrite);
    if (errWrite) ::CloseHandle(errWrite);
    if (nul && nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (!ok) {
        ::SetLastError(error);
        fail("CreateProcess " + commandLine);
    }
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    if (capture) {
        Pipes* p = pipes_.get();
        p->outReader = std::thread(Pipes::pump, p->out, &p->outText, &p->lock);
        p->errReader = std::thread(Pipes::pump, p->err, &p->errText, &p->lock);
    }
}

Process::~Process() {
    if (process_) {
        if (running()) {
            ::TerminateProcess(process_, 0xDEAD);
            ::WaitForSingleObject(process_, 10000);
        }
        ::CloseHandle(process_);
    }
}

bool Process::wait(DWORD timeoutMs) {
    bool ended = ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
    // Output is complete once the child and its inherited pipe ends are gone.
    if (ended) pipes_->join();
    return ended;
}

bool Process::running() const { return ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

DWORD Process::exitCode() const {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

uint64_t Process::peakMemory() const {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process_, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

void Process::kill() {
    if (running()) ::TerminateProcess(process_, 0xDEAD);
    wait(10000);
}

std::string Process::output() const {
    std::lock_guard<std::mutex> g(pipes_->lock);
    return stripCr(pipes_->outText);
}

std::string Process::errors() const {
    std::lock_guard<std::mutex> g(pipes_->lock);
    return stripCr(pipes_->errText);
}

HWND Process::waitForWindow(const std::string& caption, DWORD timeoutMs,
                            const std::function<bool(HWND)>& filter) const {
    DWORD start = ::GetTickCount();
    for (;;) {
        FindState s{pid_, &caption, &filter, nullptr};
        ::EnumWindows(findWindowProc, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (::GetTickCount() - start > timeoutMs) return nullptr;
        ::Sleep(25);
    }
}

namespace {

BOOL CALLBACK onlyBoxControls(HWND child, LPARAM param) {
    int id = ::GetDlgCtrlID(child) & 0xFFFF;
    // Text, icon (Wine's id, then Windows'), standard buttons.
    bool boxControl = id == 0xFFFF || id == 0x440 || id == 0x14 || (id >= IDOK && id <= IDNO);
    if (!boxControl) *reinterpret_cast<bool*>(param) = false;
    return boxControl;
}

}  // namespace

bool isMessageBox(HWND w) {
    if (!::GetDlgItem(w, 0xFFFF)) return false;
    bool onlyBox = true;
    ::EnumChildWindows(w, onlyBoxControls, reinterpret_cast<LPARAM>(&onlyBox));
    return onlyBox;
}

HWND Process::waitForMessageBox(const std::string& caption, DWORD timeoutMs) const {
    return waitForWindow(caption, timeoutMs, [](HWND w) { return isMessageBox(w); });
}

HWND Process::waitForDialog(const std::string& caption, int controlId, DWORD timeoutMs) const {
    return waitForWindow(caption, timeoutMs,
                         [controlId](HWND w) { return !isMessageBox(w) && ::GetDlgItem(w, controlId) != nullptr; });
}

namespace {

struct BoxScan {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK scanBoxes(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<BoxScan*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid == s->pid && ::IsWindowVisible(w) && className(w) == "#32770") s->found.push_back(w);
    return TRUE;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

RunResult run(const std::string& exe, const std::vector<std::string>& args, const RunOptions& options) {
    RunResult r;
    const auto started = std::chrono::steady_clock::now();
    Process p(exe, args, options.cwd);
    Answer answer = options.answer ? options.answer : Answer(defaultAnswer);
    DWORD start = ::GetTickCount();
    std::vector<HWND> answered;
    for (;;) {
        bool ended = p.wait(30);
        if (ended) break;
        r.peakMemory = std::max<uint64_t>(r.peakMemory, p.peakMemory());
        if (options.watch) options.watch(p.output());
        BoxScan scan{p.pid(), {}};
        ::EnumWindows(scanBoxes, reinterpret_cast<LPARAM>(&scan));
        for (HWND w : scan.found) {
            if (std::find(answered.begin(), answered.end(), w) != answered.end()) continue;
            // Give the box a moment to finish painting its controls.
            ::Sleep(30);
            Box box = readBox(w);
            r.boxes.push_back(box);
            answered.push_back(w);
            press(w, answer(box));
            waitGone(w, 10000);
        }
        if (::GetTickCount() - start > options.timeoutMs) {
            r.timedOut = true;
            p.kill();
            break;
        }
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    r.exitCode = p.exitCode();
    r.out = p.output();
    r.err = p.errors();
    r.lines = splitLines(r.out);
    return r;
}

RunResult runTarnwick(const std::vector<std::string>& args, const RunOptions& options) {
    return run(tarnwickExe(), args, options);
}

// ---- the Linux side -------------------------------------------------------

intptr_t linuxCall(LinuxCall call, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e) {
#if defined(__x86_64__)
    static const intptr_t kNumbers[] = {1, 2, 3, 90, 87, 88, 83, 84, 165, 166, 157};
    register intptr_t r10 asm("r10") = d;
    register intptr_t r8 asm("r8") = e;
    intptr_t result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(kNumbers[int(call)]), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8)
                 : "rcx", "r11", "memory");
    return result;
#elif defined(__i386__)
    static const intptr_t kNumbers[] = {4, 5, 6, 15, 10, 83, 39, 40, 21, 52, 172};
    intptr_t result;
    asm volatile("int $0x80"
                 : "=a"(result)
                 : "a"(kNumbers[int(call)]), "b"(a), "c"(b), "d"(c), "S"(d), "D"(e)
                 : "memory");
    return result;
#else
#error "no Linux system call sequence for this architecture"
#endif
}

std::string unixPath(const std::string& windowsPath) {
    size_t cut = windowsPath.find_last_of('\\');
    if (cut == std::string::npos) return {};
    std::string folder = windowsPath.substr(0, cut + 1), leaf = windowsPath.substr(cut + 1);
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix) return {};
    std::wstring wide(folder.begin(), folder.end());
    char* unix = toUnix(wide.c_str());
    if (!unix) return {};
    std::string out = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    if (out.empty() || out.back() != '/') out += '/';
    return out + leaf;
}

namespace {

intptr_t word(const std::string& s) { return reinterpret_cast<intptr_t>(s.c_str()); }

}  // namespace

SmallVolume::SmallVolume(uint64_t bytes, const std::string& overFolder) {
    static std::atomic<unsigned> counter{0};
    if (overFolder.empty()) {
        mountPoint_ = "/tmp/tw-volume-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
        if (intptr_t rc = linuxCall(LinuxCall::Mkdir, word(mountPoint_), 0755)) {
            error_ = "mkdir " + mountPoint_ + ": errno " + std::to_string(-rc);
            return;
        }
        ownFolder_ = true;
    } else {
        mountPoint_ = unixPath(overFolder);
    }
    const std::string options = "size=" + std::to_string(bytes);
    if (intptr_t rc = linuxCall(LinuxCall::Mount, word(std::string("tmpfs")), word(mountPoint_),
                                word(std::string("tmpfs")), 0, word(options))) {
        error_ = "mount tmpfs at " + mountPoint_ + ": errno " + std::to_string(-rc);
        return;
    }
    mounted_ = true;
    if (!overFolder.empty()) return;
    // A drive is a link in the prefix's dosdevices folder, beside c:.
    std::string c = unixPath("C:\\");
    size_t at = c.rfind("/c:");
    if (at == std::string::npos) {
        error_ = "no dosdevices folder beside " + c;
        return;
    }
    const DWORD used = ::GetLogicalDrives();
    for (char letter = 'T'; letter <= 'Y' && drive_.empty(); ++letter) {
        if (used & (1u << (letter - 'A'))) continue;
        std::string link = c.substr(0, at) + "/" + char(letter - 'A' + 'a') + ":";
        if (linuxCall(LinuxCall::Symlink, word(mountPoint_), word(link)) == 0) {
            link_ = link;
            drive_ = std::string(1, letter) + ":";
        }
    }
    if (drive_.empty()) error_ = "no free drive letter";
}

SmallVolume::~SmallVolume() {
    if (!link_.empty()) linuxCall(LinuxCall::Unlink, word(link_));
    if (mounted_) linuxCall(LinuxCall::Umount2, word(mountPoint_), 2 /* MNT_DETACH */);
    if (ownFolder_) linuxCall(LinuxCall::Rmdir, word(mountPoint_));
}

bool SmallVolume::makeReadOnly() {
    const intptr_t kRemount = 32, kReadOnly = 1;  // MS_REMOUNT, MS_RDONLY
    return mounted_ && linuxCall(LinuxCall::Mount, word(std::string("tmpfs")), word(mountPoint_),
                                 word(std::string("tmpfs")), kRemount | kReadOnly, 0) == 0;
}

bool runWithoutPermissionOverride(const std::function<void()>& fn) {
    bool dropped = true;
    // Wine starts a child process from the thread that asks for it, and a
    // child takes its bounding set from there: dropping CAP_DAC_OVERRIDE,
    // CAP_DAC_READ_SEARCH and CAP_FOWNER on this thread alone leaves the
    // rest of the test as it was.
    std::thread worker([&] {
        const intptr_t kDropFromBoundingSet = 24;  // PR_CAPBSET_DROP
        for (intptr_t capability : {1, 2, 3})
            dropped = dropped && linuxCall(LinuxCall::Prctl, kDropFromBoundingSet, capability) == 0;
        if (dropped) fn();
    });
    worker.join();
    return dropped;
}

// ---- a second machine ------------------------------------------------------

std::string sharedPath(const std::string& windowsPath) {
    const std::string unix = unixPath(windowsPath);
    return unix.empty() ? windowsPath : toWindowsPath(unix);
}

namespace {

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell script on the Linux side, after the given set-up lines, and
// waits for it to leave its exit code. Wine starts a Linux program without
// a process to wait for, so the script's last act is writing that file.
// The script inherits this process's environment: this machine's prefix,
// loader and wineserver.
int linuxScript(const std::string& setup, const std::string& commands, const std::string& outFile, DWORD timeoutMs,
                const std::string& errFile = "/dev/null") {
    TempDir dir;
    const std::string rc = unixPath(dir / "rc"), script = dir / "run.sh";
    writeFile(script, setup +
                      "{ " + commands + "\n} >" + shellQuote(outFile) + " 2>" + shellQuote(errFile) + " </dev/null\n"
                      "echo $? >" + shellQuote(rc + ".tmp") + " && mv " + shellQuote(rc + ".tmp") + " " + shellQuote(rc) + "\n");
    // Wine hands a Linux program its arguments as they are: a Linux path.
    Process shell("Z:\\bin\\sh", {unixPath(script)}, "", false);
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs; ::Sleep(50)) {
        if (exists(dir / "rc")) return std::atoi(readFile(dir / "rc").c_str());
    }
    return -1;
}

// The set-up lines that put a script in the other machine's prefix.
std::string otherMachineSetup() {
    const std::string bin = TW_BIN_DIR_UNIX;
    const std::string prefix = bin.substr(0, bin.find_last_of('/')) + "/wine-other-machine";
    return "unset DISPLAY\n"
           "TW_ARCH=" + std::string(sizeof(void*) == 8 ? "x64" : "win32") + " TW_WINEPREFIX=" + shellQuote(prefix) +
           "\n. " + shellQuote(std::string(TW_SOURCE_DIR_UNIX) + "/scripts/wine-env.sh") + "\n";
}

// Runs a shell command that starts a program, as a RunResult without boxes.
RunResult runScript(const std::string& setup, const std::string& command, DWORD timeoutMs) {
    TempDir dir;
    RunResult r;
    const auto started = std::chrono::steady_clock::now();
    const int code = linuxScript(setup, command, unixPath(dir / "out"), timeoutMs, unixPath(dir / "err"));
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    r.timedOut = code < 0;
    r.exitCode = DWORD(code);
    r.out = exists(dir / "out") ? readFile(dir / "out") : "";
    // What Wine or the set-up said, for a failure's message.
    r.err = exists(dir / "err") ? readFile(dir / "err") : "";
    r.out.erase(std::remove(r.out.begin(), r.out.end(), '\r'), r.out.end());
    r.lines = splitLines(r.out);
    return r;
}

std::string commandOf(const std::string& exe, const std::vector<std::string>& args) {
    std::string command = "\"$WINELOADER\" " + shellQuote(exe);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    return command;
}

}  // namespace

RunResult runOnOtherMachine(const std::string& exe, const std::vector<std::string>& args, DWORD timeoutMs) {
    const std::string bin = TW_BIN_DIR_UNIX;
    return runScript(otherMachineSetup(),
                     "tw_wine_prepare && tw_wine_keep_session " +
                         shellQuote(bin.substr(0, bin.find_last_of('/')) + "/tools/session_keeper.exe") + " && " +
                         commandOf(exe, args),
                     timeoutMs);
}

OtherMachineProcess::OtherMachineProcess(const std::string& exe, const std::vector<std::string>& args)
    : dir_(new TempDir) {
    const std::string bin = TW_BIN_DIR_UNIX, dir = unixPath(dir_->path());
    const std::string script = dir_->path() + "\\run.sh";
    // The program's Linux process id goes to "pid" for signal(); the exit
    // code to "rc" once it ended.
    writeFile(script, otherMachineSetup() + "tw_wine_prepare && tw_wine_keep_session " +
                          shellQuote(bin.substr(0, bin.find_last_of('/')) + "/tools/session_keeper.exe") + "\n" +
                          commandOf(exe, args) + " >" + shellQuote(dir + "/out") + " 2>/dev/null </dev/null &\n" +
                          "echo $! >" + shellQuote(dir + "/pid") + "\nwait $!\necho $? >" + shellQuote(dir + "/rc.tmp") +
                          " && mv " + shellQuote(dir + "/rc.tmp") + " " + shellQuote(dir + "/rc") + "\n");
    Process shell("Z:\\bin\\sh", {unixPath(script)}, "", false);
    // Started once its process id is known.
    for (DWORD start = ::GetTickCount(); !exists(dir_->path() + "\\pid") && ::GetTickCount() - start < 300000;)
        ::Sleep(50);
}

OtherMachineProcess::~OtherMachineProcess() {
    if (running()) {
        signal("KILL");
        wait(30000);
    }
}

bool OtherMachineProcess::wait(DWORD timeoutMs) {
    for (DWORD start = ::GetTickCount(); running(); ::Sleep(50))
        if (::GetTickCount() - start >= timeoutMs) return false;
    return true;
}

bool OtherMachineProcess::running() const { return !exists(dir_->path() + "\\rc"); }

DWORD OtherMachineProcess::exitCode() const {
    return running() ? STILL_ACTIVE : DWORD(std::atoi(readFile(dir_->path() + "\\rc").c_str()));
}

std::string OtherMachineProcess::output() const {
    std::string out = exists(dir_->path() + "\\out") ? readFile(dir_->path() + "\\out") : "";
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return out;
}

void OtherMachineProcess::signal(const std::string& name) {
    if (!exists(dir_->path() + "\\pid")) return;
    linuxScript("", "kill -" + name + " $(cat " + shellQuote(unixPath(dir_->path() + "\\pid")) + ")", "/dev/null",
                30000);
}

RunResult runUnderLocale(const std::string& locale, const std::string& exe, const std::vector<std::string>& args) {
    // Wine keeps its own variables from a Linux child's environment, so the
    // loader is named here; the prefix and wineserver are this process's.
    char loader[MAX_PATH] = "";
    DWORD n = ::GetEnvironmentVariableA("WINELOADER", loader, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) fail("WINELOADER");
    return runScript("WINELOADER=" + shellQuote(loader) + "\n", "LC_ALL=" + shellQuote(locale) + " " + commandOf(exe, args),
                     120000);
}

void stopOtherMachine() { linuxScript(otherMachineSetup(), "tw_wine_stop", "/dev/null", 30000); }

// ---- clipboard ------------------------------------------------------------

namespace {

// Another process may hold the clipboard for a moment; try for a while.
class OpenedClipboard {
public:
    OpenedClipboard() {
        for (int i = 0; i < 200; ++i) {
            if (::OpenClipboard(nullptr)) return;
            ::Sleep(10);
        }
        fail("OpenClipboard");
    }
    ~OpenedClipboard() { ::CloseClipboard(); }
};

HGLOBAL toGlobal(const Bytes& bytes) {
    HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes.size());
    if (!h) fail("GlobalAlloc");
    if (!bytes.empty()) {
        void* p = ::GlobalLock(h);
        memcpy(p, bytes.data(), bytes.size());
        ::GlobalUnlock(h);
    }
    return h;
}

std::string formatName(UINT id) {
    char name[256];
    int n = ::GetClipboardFormatNameA(id, name, sizeof name);
    return n > 0 ? std::string(name, n) : "#" + std::to_string(id);
}

Bytes globalBytes(HANDLE h) {
    Bytes b;
    if (!h) return b;
    SIZE_T size = ::GlobalSize(h);
    const void* p = ::GlobalLock(h);
    if (p) {
        b.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
        ::GlobalUnlock(h);
    }
    return b;
}

}  // namespace

UINT formatId(const std::string& name) { return ::RegisterClipboardFormatA(name.c_str()); }

void putClipboard(const std::string& formatName, const Bytes& bytes) {
    OpenedClipboard c;
    ::EmptyClipboard();
    if (!::SetClipboardData(formatId(formatName), toGlobal(bytes))) fail("SetClipboardData");
}

void addClipboard(const std::string& formatName, const Bytes& bytes) {
    OpenedClipboard c;
    if (!::SetClipboardData(formatId(formatName), toGlobal(bytes))) fail("SetClipboardData");
}

void putClipboardText(const std::string& text) {
    OpenedClipboard c;
    ::EmptyClipboard();
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    if (!::SetClipboardData(CF_TEXT, toGlobal(b))) fail("SetClipboardData");
}

void putClipboardUnicodeText(const std::string& utf8) {
    const std::wstring text = widen(utf8);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
    OpenedClipboard c;
    ::EmptyClipboard();
    if (!::SetClipboardData(CF_UNICODETEXT, toGlobal(Bytes(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)))))
        fail("SetClipboardData");
}

std::optional<Bytes> getClipboard(const std::string& formatName) {
    UINT id = formatId(formatName);
    OpenedClipboard c;
    if (!::IsClipboardFormatAvailable(id)) return std::nullopt;
    return globalBytes(::GetClipboardData(id));
}

std::optional<std::string> getClipboardText() {
    OpenedClipboard c;
    if (!::IsClipboardFormatAvailable(CF_TEXT)) return std::nullopt;
    Bytes b = globalBytes(::GetClipboardData(CF_TEXT));
    return std::string(reinterpret_cast<const char*>(b.data()), strnlen(reinterpret_cast<const char*>(b.data()), b.size()));
}

std::vector<std::string> clipboardFormats() {
    OpenedClipboard c;
    std::vector<std::string> names;
    for (UINT f = ::EnumClipboardFormats(0); f; f = ::EnumClipboardFormats(f)) names.push_back(formatName(f));
    return names;
}

void emptyClipboard() {
    OpenedClipboard c;
    ::EmptyClipboard();
}

ClipboardSnapshot snapshotClipboard() {
    OpenedClipboard c;
    ClipboardSnapshot s;
    for (UINT f = ::EnumClipboardFormats(0); f; f = ::EnumClipboardFormats(f)) {
        // Only what a program put there itself; Wine synthesises the rest.
        if (f >= 0xC000) s.formats.emplace_back(formatName(f), globalBytes(::GetClipboardData(f)));
        else if (f == CF_TEXT) s.formats.emplace_back("#1", globalBytes(::GetClipboardData(f)));
    }
    return s;
}

ClipboardHolder::ClipboardHolder(DWORD eachChangeMs) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE inRead = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!::CreatePipe(&inRead, &input_, &sa, 0) || !::CreatePipe(&outRead, &outWrite, &sa, 0)) fail("CreatePipe");
    ::SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = outWrite;
    std::string exe = testsDir() + "\\clipholder.exe";
    std::string line = quoteArgument(exe);
    if (eachChangeMs) line += " " + std::to_string(eachChangeMs);
    PROCESS_INFORMATION pi{};
    BOOL ok = startWithRetries(line, [&] {
        std::string copy = line;
        return ::CreateProcessA(exe.c_str(), &copy[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    });
    ::CloseHandle(inRead);
    ::CloseHandle(outWrite);
    if (!ok) {
        ::CloseHandle(outRead);
        fail("start clipholder");
    }
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    // The holder says "held" once the clipboard is open.
    char buffer[16] = {};
    DWORD got = 0;
    BOOL read = ::ReadFile(outRead, buffer, sizeof buffer - 1, &got, nullptr);
    ::CloseHandle(outRead);
    if (!read || std::string(buffer, got).find("held") == std::string::npos)
        throw std::runtime_error("clipholder did not take the clipboard: " + std::string(buffer, got));
}

ClipboardHolder::~ClipboardHolder() { release(); }

void ClipboardHolder::release() {
    if (!process_) return;
    ::CloseHandle(input_);  // end of input tells the holder to let go
    if (::WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) ::TerminateProcess(process_, 1);
    ::CloseHandle(process_);
    process_ = input_ = nullptr;
}

// ---- registry ---------------------------------------------------------------

bool keyExists(HKEY root, const std::string& subKey) {
    HKEY k;
    if (::RegOpenKeyExW(root, widen(subKey).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    ::RegCloseKey(k);
    return true;
}

std::optional<std::string> regString(HKEY root, const std::string& subKey, const std::string& value) {
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof *data, type = 0;
    if (::SHGetValueW(root, widen(subKey).c_str(), widen(value).c_str(), &type, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    return narrow(data);
}

std::optional<DWORD> regDword(HKEY root, const std::string& subKey, const std::string& value) {
    DWORD data = 0, size = sizeof data, type = 0;
    if (::SHGetValueA(root, subKey.c_str(), value.c_str(), &type, &data, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_DWORD) return std::nullopt;
    return data;
}

void deleteTree(HKEY root, const std::string& subKey) { ::SHDeleteKeyW(root, widen(subKey).c_str()); }

}  // namespace e2e
