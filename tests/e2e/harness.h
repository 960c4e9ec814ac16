// End-to-end harness: runs the real programs under Wine and watches them.
//
// A test starts Tarnwick.exe (or Setup.exe) as a child process, captures
// its standard output and exit code, and answers every message box the
// child shows: the box is found by class "#32770" and process id, its text
// read from the static with id 0xFFFF, its buttons, default button and icon
// recorded, and the button that the test's Answer picks is pressed.
// Clipboard helpers put arbitrary bytes under any format and read them back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<uint8_t>;

// ---- paths ----------------------------------------------------------------
//
// Paths, names and box texts are UTF-8 here, so that a test can name a file
// in any script; the harness calls the wide API, with the "\\?\" form for
// long paths. What a program writes to standard output stays the bytes it
// wrote.

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

std::string toWindowsPath(const std::string& unixPath);  // "/a/b" -> "Z:\a\b"
// The installation set under test: this build's, or, when the environment
// has TW_E2E_TARGET=peer, the 32-bit build's seen from the x64 tree (for the
// checks that read the files without running them).
std::string binDir();                                    // holds Tarnwick.exe, Setup.exe
bool binIs64Bit();                                       // the set's programs are x64 ones
std::string tarnwickExe();
std::string setupExe();
#ifdef TW_PEER_BIN_DIR_UNIX
std::string peerTarnwickExe();  // the 32-bit build's, run beside this x64 one
bool peerRuns();                // ... where this machine runs 32-bit code
#endif
std::string sourceDir();  // the repository, as a Windows path
std::string testsDir();   // folder of the running test program (clipholder.exe lives here)

// A fresh folder under the Wine temp folder, removed with everything in it
// (attributes cleared first) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// ---- files ----------------------------------------------------------------

void writeFile(const std::string& path, const std::string& content);
void writeFile(const std::string& path, const Bytes& content);
std::string readFile(const std::string& path);  // throws std::runtime_error if unreadable
bool exists(const std::string& path);
bool isDir(const std::string& path);
void makeDir(const std::string& path);
void removeTree(const std::string& path);  // clears attributes, deletes, no error if missing
DWORD attributes(const std::string& path);  // INVALID_FILE_ATTRIBUTES if missing
void setAttributes(const std::string& path, DWORD attributes);
uint64_t lastWriteTime(const std::string& path);
void setLastWriteTime(const std::string& path, uint64_t fileTime);
// Names in a folder as the directory search reports them (no "." or "..").
std::vector<std::string> listDir(const std::string& path);

// Opens a file with share mode 0 until the object goes, so no other process
// can open it.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    HANDLE handle_;
};

// Deterministic pseudo-random bytes (incompressible) and repetitive text.
Bytes randomBytes(size_t n, uint32_t seed = 1);
std::string repeatedText(size_t n);

// ---- windows and message boxes --------------------------------------------

struct Box {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;          // static 0xFFFF; empty for a dialog
    std::vector<int> buttons;  // ids present among IDOK..IDNO
    int defaultButton = 0;     // DM_GETDEFID
    std::string icon;          // "warning", "error", "question", "information" or ""
    bool has(int id) const;
};

// Picks the button to press for a box.
using Answer = std::function<int(const Box&)>;
// OK when the box has it, else Cancel.
int defaultAnswer(const Box& box);
// Presses the given ids for successive boxes, then falls back to defaultAnswer.
Answer pressInOrder(std::vector<int> ids);

Box readBox(HWND box);
// A message box holds its text (static 0xFFFF), its icon and standard
// buttons, and nothing else. (A dialog's labels may have id 0xFFFF too.)
bool isMessageBox(HWND window);
void press(HWND window, int id);
bool waitGone(HWND window, DWORD timeoutMs = 10000);
// Sets the text of a control in another process (WM_SETTEXT).
void setControlText(HWND dialog, int id, const std::string& text);
std::string controlText(HWND dialog, int id);

// A child process, for tests that drive it step by step.
class Process {
public:
    Process(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd = "",
            bool captureOutput = true);
    // Starts with a raw command line (the program name is not added).
    static std::unique_ptr<Process> raw(const std::string& exe, const std::string& commandLine,
                                        const std::string& cwd = "");
    // Starts in a console of its own (CREATE_NEW_CONSOLE), standard output
    // and error going there; output() stays empty.
    static std::unique_ptr<Process> inNewConsole(const std::string& exe, const std::vector<std::string>& args);
    ~Process();  // kills the child if it is still running
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD pid() const { return pid_; }
    bool wait(DWORD timeoutMs);  // true when the process ended
    bool running() const;
    DWORD exitCode() const;      // STILL_ACTIVE while running
    void kill();
    std::string output() const;  // stdout so far (\r removed)
    std::string errors() const;  // stderr so far
    uint64_t peakMemory() const;  // peak working set while it runs; 0 once it ended

    // The first visible top-level "#32770" window of this process whose
    // caption matches (and, if given, which passes the filter); nullptr when
    // none appears in time.
    HWND waitForWindow(const std::string& caption, DWORD timeoutMs,
                       const std::function<bool(HWND)>& filter = {}) const;
    HWND waitForMessageBox(const std::string& caption, DWORD timeoutMs = 20000) const;
    // A dialog (not a message box) that holds the given control.
    HWND waitForDialog(const std::string& caption, int controlId, DWORD timeoutMs = 20000) const;

private:
    Process() = default;
    void start(const std::string& exe, const std::string& commandLine, const std::string& cwd, bool capture,
               DWORD flags = 0);
    struct Pipes;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    std::shared_ptr<Pipes> pipes_;
};

struct RunResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    double seconds = 0;        // from start to end
    uint64_t peakMemory = 0;   // peak working set, sampled every 30 ms while it ran
    std::string out;                 // stdout, \r removed
    std::vector<std::string> lines;  // out split at \n (a final empty piece dropped)
    std::string err;
    std::vector<Box> boxes;          // every box shown, in order
};

struct RunOptions {
    std::string cwd;
    Answer answer;           // defaultAnswer when empty
    DWORD timeoutMs = 120000;
    // Called about every 30 ms while the program runs, with its standard
    // output so far: to act at a point of its progress.
    std::function<void(const std::string& out)> watch;
};

// Starts the program, answers each of its boxes, waits for it to end.
RunResult run(const std::string& exe, const std::vector<std::string>& args, const RunOptions& options = {});
RunResult runTarnwick(const std::vector<std::string>& args, const RunOptions& options = {});

std::string quoteArgument(const std::string& arg);

// ---- clipboard ------------------------------------------------------------

UINT formatId(const std::string& name);  // registered id of a format name
// Empties the clipboard and puts bytes under the named format.
void putClipboard(const std::string& formatName, const Bytes& bytes);
// Adds bytes under another format without emptying.
void addClipboard(const std::string& formatName, const Bytes& bytes);
void putClipboardText(const std::string& text);
// Empties the clipboard and puts UTF-8 text there as CF_UNICODETEXT.
void putClipboardUnicodeText(const std::string& utf8);
std::optional<Bytes> getClipboard(const std::string& formatName);
std::optional<std::string> getClipboardText();
// Names of every format present (registered names; predefined ones as "#<id>").
std::vector<std::string> clipboardFormats();
void emptyClipboard();
// The clipboard as a whole, for "left exactly as it was" checks.
struct ClipboardSnapshot {
    std::vector<std::pair<std::string, Bytes>> formats;
    bool operator==(const ClipboardSnapshot& o) const { return formats == o.formats; }
};
ClipboardSnapshot snapshotClipboard();

// Holds the clipboard open from another process (clipholder.exe, with a
// window as owner, so that OpenClipboard in a third process fails); with
// eachChangeMs, only for that long after each change of the clipboard.
class ClipboardHolder {
public:
    explicit ClipboardHolder(DWORD eachChangeMs = 0);
    ~ClipboardHolder();
    ClipboardHolder(const ClipboardHolder&) = delete;
    ClipboardHolder& operator=(const ClipboardHolder&) = delete;
    // Lets go now rather than when the object goes; the clipboard is closed
    // when this returns.
    void release();

private:
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
};

// ---- the Linux side -------------------------------------------------------
//
// Under Wine a test is a Linux process too. What Win32 cannot set up here (a
// small volume, a folder that its owner may not list) is made with the
// kernel's own calls, whose numbers and calling sequence differ by
// architecture.

enum class LinuxCall { Write, Open, Close, Chmod, Unlink, Symlink, Mkdir, Rmdir, Mount, Umount2, Prctl };
intptr_t linuxCall(LinuxCall call, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0, intptr_t e = 0);

// The Unix path of a Windows path whose last component need not exist yet;
// empty when Wine cannot map it.
std::string unixPath(const std::string& windowsPath);

// A tmpfs of the given size, like a small disk: mounted at a fresh folder
// and reachable under a free drive letter of the prefix, or mounted over an
// existing empty folder. Unmounted, with everything on it, when the object
// goes. Mounting needs root; error() says why when it failed.
class SmallVolume {
public:
    explicit SmallVolume(uint64_t bytes, const std::string& overFolder = "");
    ~SmallVolume();
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& drive() const { return drive_; }  // "T:"; empty when mounted over a folder
    // Makes the volume read-only from now on (a write-protected disk).
    bool makeReadOnly();

private:
    std::string mountPoint_, link_, drive_, error_;
    bool mounted_ = false, ownFolder_ = false;
};

// Runs fn on a thread of its own whose child processes lack the
// capabilities that let root pass over file permissions, so that mode bits
// bind them as they bind any user. False, without running fn, when those
// capabilities could not be given up.
bool runWithoutPermissionOverride(const std::function<void()>& fn);

// ---- a second machine ------------------------------------------------------
//
// Another Wine prefix with a wineserver of its own, hence a clipboard of its
// own, as another machine would have. Its programs run without a display, so
// a message box there returns at once. Both machines see the Linux file
// system as drive Z:.

// The same file or folder as a Z: path, which both machines can reach.
std::string sharedPath(const std::string& windowsPath);
// Runs a program there (a Z: path) and waits for it; stdout and exit code
// come back, no boxes. Creates the prefix on first use (that takes a while).
RunResult runOnOtherMachine(const std::string& exe, const std::vector<std::string>& args, DWORD timeoutMs = 300000);
// Runs a program on this machine under another locale, hence another ANSI
// code page, as on a machine set up for another language: started from a
// Linux shell, since a Wine process started by another keeps its parent's
// code page whatever LC_ALL its environment holds. No boxes.
RunResult runUnderLocale(const std::string& locale, const std::string& exe, const std::vector<std::string>& args);
// Ends the other machine's wineserver and everything it runs.
void stopOtherMachine();

// A program on the other machine that runs beside the test (a /SEND or
// /RECEIVE, one end of a relay), started at once; killed when the object
// goes if it still runs.
class OtherMachineProcess {
public:
    OtherMachineProcess(const std::string& exe, const std::vector<std::string>& args);
    ~OtherMachineProcess();
    OtherMachineProcess(const OtherMachineProcess&) = delete;
    OtherMachineProcess& operator=(const OtherMachineProcess&) = delete;

    bool wait(DWORD timeoutMs);  // true when it ended
    bool running() const;
    DWORD exitCode() const;      // valid once it ended
    std::string output() const;  // standard output so far, \r removed
    // Sends a Linux signal to the program ("INT" as Ctrl+C, "KILL").
    void signal(const std::string& name);

private:
    std::unique_ptr<TempDir> dir_;
};

// ---- registry ---------------------------------------------------------------

// Keys, value names and texts in UTF-8, through the wide API.
bool keyExists(HKEY root, const std::string& subKey);
std::optional<std::string> regString(HKEY root, const std::string& subKey, const std::string& value);
std::optional<DWORD> regDword(HKEY root, const std::string& subKey, const std::string& value);
void deleteTree(HKEY root, const std::string& subKey);

}  // namespace e2e
