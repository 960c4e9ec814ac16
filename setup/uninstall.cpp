// Uninstallation. The program folder holds the Setup.exe that the user
// started, so the work is split: this process unregisters everything and
// starts a copy of itself from the temp folder, which removes the files.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "setup.h"

namespace setup {

namespace {

constexpr const char kTempCopyName[] = "Tarnwick-Setup.exe";

// The temp folder (with its trailing backslash) followed by the copy's name.
bool tempCopyPath(char (&path)[MAX_PATH]) {
    path[0] = '\0';
    DWORD length = GetTempPathA(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH || length + sizeof kTempCopyName > MAX_PATH) {
        path[0] = '\0';
        return false;
    }
    std::strcat(path, kTempCopyName);
    return true;
}

// A process cannot remove the folder that is its current directory, and
// the copy inherits the current directory of the Setup that started it,
// which may well be the program folder. The folder is made absolute first
// so that moving to the temp folder does not change which folder it names.
void leaveProgramFolder() {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(installFolder, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return;
    char temp[MAX_PATH];
    length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return;
    std::strcpy(installFolder, full);
    SetCurrentDirectoryA(temp);
}

}  // namespace

void showNotRemovedMessage(const char* folder) {
    std::string text = "The Tarnwick program files in '";
    text += folder;
    text += "' could not be removed. Please delete them manually.";
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

        char installed[MAX_PATH];
        char copy[MAX_PATH];
        if (!programFilePath(kSetupExe, installed) || !tempCopyPath(copy) || !CopyFileA(installed, copy, FALSE))
            throw "Error creating temporary file for removing program files.";

        // The copy takes the whole tail of its command line as the folder,
        // so a folder that could not be quoted still arrives whole.
        char argument[MAX_PATH];
        std::strcpy(argument, installFolder);
        PathQuoteSpacesA(argument);
        std::string commandLine = std::strchr(copy, ' ') ? "\"" + std::string(copy) + "\"" : std::string(copy);
        commandLine += ' ';
        commandLine += argument;
        std::vector<char> writable(commandLine.begin(), commandLine.end());
        writable.push_back('\0');

        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(copy, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            DeleteFileA(copy);
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
    char copy[MAX_PATH];
    if (tempCopyPath(copy)) {
        GetShortPathNameA(copy, copy, MAX_PATH);
        WritePrivateProfileStringA("rename", "NUL", copy, "WININIT.INI");
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
