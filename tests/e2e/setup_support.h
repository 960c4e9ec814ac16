// Helpers shared by the Setup tests: the places Setup writes to (uninstall
// key, shell keys, shortcuts, WININIT.INI), a clean machine before and after
// each test, driving the installation dialog, reading shortcuts back
// through the Shell Link object, and finding boxes of processes that the
// test did not start itself (the temporary copy that removes the files).
#pragma once

#include <gtest/gtest.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winternl.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace e2e {
namespace setuptest {

constexpr const char kCaption[] = "Tarnwick Setup";
constexpr const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";
constexpr const char kFolderVerbKey[] = "Directory\\shell\\TarnwickPaste";
const char* const kProgramFiles[4] = {"Setup.exe", "Tarnwick.exe", "zlib1.dll", "ReadMe.txt"};

enum Control { kEdit = 1000, kBrowse = 1001, kSendTo = 1002, kQuickLaunch = 1003, kFolderVerb = 1004, kNewMenu = 1005,
            kCustomize = 1006, kUninstall = 1007, kAllUsers = 1008, kJustMe = 1009 };

// The six rows of the New-menu file type, as (key, value name, text) with
// %s standing for the quoted program path.
struct TypeRow {
    const char* key;
    const char* value;
    const char* text;
};
inline const std::vector<TypeRow>& newTypeRows() {
    static const std::vector<TypeRow> rows = {
        {"Tarnwick.Target", "", "Tarnwick Target"},
        {"Tarnwick.Target\\shell", "", "open"},
        {"Tarnwick.Target\\shell\\open", "", "Paste Here"},
        {"Tarnwick.Target\\shell\\open\\command", "", "%s /PASTE \"%1\""},
        {".tarnwk", "", "Tarnwick.Target"},
        {".tarnwk\\ShellNew", "Command", "%s /PASTE \"%1\""},
    };
    return rows;
}
inline std::string expectedText(const char* text, const std::string& program) {
    std::string r = text;
    size_t at = r.find("%s");
    if (at != std::string::npos) r.replace(at, 2, "\"" + program + "\"");
    return r;
}

// ---- places -------------------------------------------------------------------

// Where an installation's keys are: the uninstall key's root, and the root
// and prefix of the shell's keys. For all users as Setup always installed;
// for the current user under HKEY_CURRENT_USER (shell keys in its
// Software\Classes). The machine's own classes, HKEY_CLASSES_ROOT without
// the user's part, are where a one-user installation must write nothing.
struct Place {
    HKEY root;
    HKEY classes;
    std::string prefix;
    std::string key(const std::string& k) const { return prefix + k; }
};
inline Place forAllUsers() { return {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, ""}; }
inline Place forCurrentUser() { return {HKEY_CURRENT_USER, HKEY_CURRENT_USER, "Software\\Classes\\"}; }
inline Place machineOnly() { return {HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE, "Software\\Classes\\"}; }

// Any key of an installation at that place.
inline bool anyKeyAt(const Place& p) {
    if (keyExists(p.root, kUninstallKey) || keyExists(p.classes, p.key(kFolderVerbKey))) return true;
    for (const auto& row : newTypeRows())
        if (keyExists(p.classes, p.key(row.key))) return true;
    return false;
}

inline std::string specialFolder(int csidl) {
    char path[MAX_PATH] = "";
    ::SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE);
    return path;
}
inline std::string sendToLink() { return specialFolder(CSIDL_SENDTO) + "\\Tarnwick.lnk"; }
inline std::string quickLaunchDir() {
    return specialFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch";
}
inline std::string quickLaunchLink() { return quickLaunchDir() + "\\Tarnwick.lnk"; }
inline std::string tempCopy() {
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "Tarnwick-Setup.exe";
}
inline std::string wininitEntry() {
    char value[MAX_PATH] = "";
    ::GetPrivateProfileStringA("rename", "NUL", "", value, MAX_PATH, "WININIT.INI");
    return value;
}

inline void makeQuickLaunchDir() {
    std::string dir = specialFolder(CSIDL_APPDATA);
    for (const char* part : {"\\Microsoft", "\\Internet Explorer", "\\Quick Launch"}) {
        dir += part;
        ::CreateDirectoryA(dir.c_str(), nullptr);
    }
}

// Everything Setup may have left, gone; a fresh prefix has no Quick Launch
// folder, and the tests start from that too.
inline void cleanMachine() {
    for (const Place& p : {forAllUsers(), forCurrentUser()}) {
        deleteTree(p.root, kUninstallKey);
        deleteTree(p.classes, p.key(kFolderVerbKey));
        deleteTree(p.classes, p.key("Tarnwick.Target"));
        deleteTree(p.classes, p.key(".tarnwk"));
    }
    ::SetFileAttributesA(sendToLink().c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(sendToLink().c_str());
    removeTree(quickLaunchDir());
    ::WritePrivateProfileStringA("rename", "NUL", nullptr, "WININIT.INI");
}

// ---- shortcuts ------------------------------------------------------------------

struct Shortcut {
    bool loaded = false;
    std::string target, description, arguments, workingDir;
};

inline Shortcut readShortcut(const std::string& path) {
    Shortcut s;
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))))
        return s;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(widen(path).c_str(), STGM_READ))) {
            wchar_t text[MAX_PATH * 2] = L"";
            const int n = MAX_PATH * 2;
            s.loaded = true;
            // The target as the shell resolves it, from the item list: the
            // path stored beside it is an ANSI one in Wine's links.
            LPITEMIDLIST items = nullptr;
            if (SUCCEEDED(link->GetIDList(&items)) && items && ::SHGetPathFromIDListW(items, text))
                s.target = narrow(text);
            ::CoTaskMemFree(items);
            text[0] = L'\0';
            if (s.target.empty()) {
                link->GetPath(text, n, nullptr, SLGP_RAWPATH);
                s.target = narrow(text);
            }
            text[0] = L'\0';
            link->GetDescription(text, n);
            s.description = narrow(text);
            text[0] = L'\0';
            link->GetArguments(text, n);
            s.arguments = narrow(text);
            text[0] = L'\0';
            link->GetWorkingDirectory(text, n);
            s.workingDir = narrow(text);
        }
        file->Release();
    }
    link->Release();
    return s;
}

// ---- files ------------------------------------------------------------------------

// Copies the installation set (or the names given) from the build's bin/.
inline void copySet(const std::string& to, const std::vector<std::string>& names = {kProgramFiles[0], kProgramFiles[1],
                                                                                     kProgramFiles[2], kProgramFiles[3]}) {
    for (const auto& n : names)
        if (!::CopyFileW(widen(binDir() + "\\" + n).c_str(), widen(to + "\\" + n).c_str(), FALSE))
            throw std::runtime_error("cannot copy " + n);
}

inline bool sameContent(const std::string& a, const std::string& b) { return readFile(a) == readFile(b); }

// ---- dialogs ----------------------------------------------------------------------

inline DWORD_PTR send(HWND dialog, int id, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(::GetDlgItem(dialog, id), message, w, l, SMTO_ABORTIFHUNG, 5000, &result);
    return result;
}
inline bool checked(HWND dialog, int id) { return send(dialog, id, BM_GETCHECK) == BST_CHECKED; }
inline void setChecked(HWND dialog, int id, bool on) { send(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED); }
inline bool enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

struct Options {
    bool sendTo, quickLaunch, folderVerb, newMenu;
};
inline void setOptions(HWND dialog, const Options& o) {
    setChecked(dialog, kSendTo, o.sendTo);
    setChecked(dialog, kQuickLaunch, o.quickLaunch);
    setChecked(dialog, kFolderVerb, o.folderVerb);
    setChecked(dialog, kNewMenu, o.newMenu);
}
inline Options dialogOptions(HWND dialog) {
    return {checked(dialog, kSendTo), checked(dialog, kQuickLaunch), checked(dialog, kFolderVerb),
            checked(dialog, kNewMenu)};
}

inline HWND waitBox(const Process& p, DWORD timeoutMs = 20000) { return p.waitForMessageBox(kCaption, timeoutMs); }
// Dialog 101 (holds the edit 1000) or 106 (holds 1006).
inline HWND waitDialog(const Process& p, int controlId, DWORD timeoutMs = 20000) {
    return p.waitForDialog(kCaption, controlId, timeoutMs);
}

// Reads the box that a process shows next and presses a button in it.
inline Box answerBox(const Process& p, int button = IDOK, DWORD timeoutMs = 20000) {
    HWND w = waitBox(p, timeoutMs);
    if (!w) return Box{};
    Box b = readBox(w);
    press(w, button);
    waitGone(w, 10000);
    return b;
}

// A first installation through the real dialog, from the build's bin/,
// for all users or (justMe) the current user alone. Returns the boxes
// shown and leaves the exit code in *exitCode.
inline std::vector<Box> installWith(const std::string& folder, const Options& o, DWORD* exitCode = nullptr,
                                    const std::string& cwd = binDir(), bool justMe = false) {
    Process p(setupExe(), {}, cwd);
    std::vector<Box> boxes;
    HWND dialog = waitDialog(p, kEdit);
    if (!dialog) throw std::runtime_error("no installation dialog");
    if (justMe) send(dialog, kJustMe, BM_CLICK);
    setControlText(dialog, kEdit, folder);
    setOptions(dialog, o);
    press(dialog, IDOK);
    DWORD start = ::GetTickCount();
    while (!p.wait(50) && ::GetTickCount() - start < 60000) {
        HWND w = waitBox(p, 100);
        if (!w) continue;
        boxes.push_back(readBox(w));
        press(w, IDOK);
        waitGone(w, 10000);
        // A failure that leaves the dialog open: give up with Cancel.
        if (!p.wait(500) && ::IsWindowVisible(dialog)) press(dialog, IDCANCEL);
    }
    p.wait(20000);
    if (exitCode) *exitCode = p.exitCode();
    return boxes;
}

// ---- other processes ---------------------------------------------------------------

struct ForeignBox {
    HWND hwnd = nullptr;
    DWORD pid = 0;
};

// Calls `visit` for every top-level window until it returns true; returns
// that window.
inline HWND findTopWindow(const std::function<bool(HWND)>& visit) {
    struct Scan {
        const std::function<bool(HWND)>* visit;
        HWND found;
    } scan{&visit, nullptr};
    struct Proc {
        static BOOL CALLBACK each(HWND w, LPARAM param) {
            auto* s = reinterpret_cast<Scan*>(param);
            if (!(*s->visit)(w)) return TRUE;
            s->found = w;
            return FALSE;
        }
    };
    ::EnumWindows(Proc::each, reinterpret_cast<LPARAM>(&scan));
    return scan.found;
}

inline DWORD windowProcess(HWND w) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    return pid;
}

// A message box with the caption in any process other than `exclude`.
inline ForeignBox waitForAnyMessageBox(const std::string& caption, DWORD exclude, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        HWND w = findTopWindow([&](HWND w) {
            if (windowProcess(w) == exclude || !::IsWindowVisible(w) || !isMessageBox(w)) return false;
            char cls[32] = "";
            ::GetClassNameA(w, cls, sizeof cls);
            return std::string(cls) == "#32770" && readBox(w).caption == caption;
        });
        if (w) return {w, windowProcess(w)};
        if (::GetTickCount() - start > timeoutMs) return {};
        ::Sleep(25);
    }
}

// The command line of another process, read from its process parameters.
inline std::string processCommandLine(HANDLE process) {
    using Query = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return "";
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS params{};
    if (!::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !::ReadProcessMemory(process, peb.ProcessParameters, &params, sizeof params, nullptr))
        return "";
    std::wstring wide(params.CommandLine.Length / 2, L'\0');
    if (!::ReadProcessMemory(process, params.CommandLine.Buffer, &wide[0], params.CommandLine.Length, nullptr))
        return "";
    std::string narrow(wide.size() * 2 + 1, '\0');
    int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &narrow[0],
                                  static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(n > 0 ? n : 0);
    return narrow;
}

// Per-test: COM for the shortcut reader, a clean machine before and after.
class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitialize(nullptr);
        cleanMachine();
    }
    void TearDown() override {
        cleanMachine();
        ::CoUninitialize();
    }
};

}  // namespace setuptest
}  // namespace e2e
