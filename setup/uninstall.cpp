// Uninstallation. The program folder holds the Setup.exe that the user
// started, so the work is split: this process unregisters everything and
// starts a copy of itself from the temp folder, which removes the files.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "setup.h"

namespace setup {

namespace {

constexpr const wchar_t kTempCopyName[] = L"Tarnwick-Setup.exe";

// The temp folder (with its trailing backslash) followed by the copy's name.
bool tempCopyPath(wchar_t (&path)[MAX_PATH]) {
    path[0] = L'\0';
    DWORD length = GetTempPathW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH || length + std::size(kTempCopyName) > MAX_PATH) {
        path[0] = L'\0';
        return false;
    }
    std::wcscat(path, kTempCopyName);
    return true;
}

// A process cannot remove the folder that is its current directory, and
// the copy inherits the current directory of the Setup that started it,
// which may well be the program folder. The folder is made absolute first
// so that moving to the temp folder does not change which folder it names.
void leaveProgramFolder() {
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(installFolder, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t temp[MAX_PATH];
    length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return;
    std::wcscpy(installFolder, full);
    SetCurrentDirectoryW(temp);
}

}  // namespace

void showNotRemovedMessage(const wchar_t* folder) {
    std::wstring text = L"The Tarnwick program files in '";
    text += folder;
    text += L"' could not be removed. Please delete them manually.";
    messageBox(nullptr, text.c_str(), MB_ICONWARNING);
}

void showNotRemovedMessage() {
    showNotRemovedMessage(installFolder);
}

int uninstall() {
    bool unregistered = false;
    try {
        IntegrationOptions none;
        removeShellIntegration(none);
        SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_IDLIST, nullptr, nullptr);
        deleteRegistryEntries(UninstallEntries, rowCount(UninstallEntries));
        unregistered = true;

        wchar_t installed[MAX_PATH];
        wchar_t copy[MAX_PATH];
        if (!programFilePath(kSetupExe, installed) || !tempCopyPath(copy) || !CopyFileW(installed, copy, FALSE))
            throw "Error creating temporary file for removing program files.";

        // The copy takes the whole tail of its command line as the folder,
        // so a folder that could not be quoted still arrives whole.
        wchar_t argument[MAX_PATH];
        std::wcscpy(argument, installFolder);
        PathQuoteSpacesW(argument);
        std::wstring commandLine = std::wcschr(copy, L' ') ? L"\"" + std::wstring(copy) + L"\"" : std::wstring(copy);
        commandLine += L' ';
        commandLine += argument;
        std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
        writable.push_back(L'\0');

        STARTUPINFOW startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(copy, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            DeleteFileW(copy);
            throw "Error executing process to remove program files.";
        }
        // Not waited for: this process must end so that its Setup.exe can go.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    } catch (const char* text) {
        messageBox(nullptr, text, MB_ICONWARNING);
    } catch (...) {
        messageBox(nullptr, kUnknownError, MB_ICONERROR);
    }
    if (unregistered) showNotRemovedMessage();
    return 1;
}

int runSelfRemoval() {
    // Ask for this copy to be deleted at the next start of the system,
    // whatever happens below.
    wchar_t copy[MAX_PATH];
    if (tempCopyPath(copy)) {
        GetShortPathNameW(copy, copy, MAX_PATH);
        WritePrivateProfileStringW(L"rename", L"NUL", copy, L"WININIT.INI");
    }
    leaveProgramFolder();
    try {
        deleteProgramFiles();
        messageBox(nullptr, "Tarnwick uninstalled.", MB_ICONINFORMATION);
        return 0;
    } catch (const char* text) {
        messageBox(nullptr, text, MB_ICONWARNING);
    } catch (...) {
        messageBox(nullptr, kUnknownError, MB_ICONERROR);
    }
    showNotRemovedMessage();
    return 1;
}

}  // namespace setup
