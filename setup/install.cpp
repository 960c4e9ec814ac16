// Installation: the program files, the uninstall key and the OK button.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

#include "resources/resource.h"
#include "setup.h"

namespace setup {

const char* const ProgramFiles[kProgramFileCount] = {"Setup.exe", "Tarnwick.exe", "zlib1.dll", "ReadMe.txt"};

const RegistryEntry UninstallEntries[2] = {
    {HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "Tarnwick"},
    {HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", "\"%s\""},
};

namespace {

// PathAppendA fails on overflow and leaves its buffer as it was; the
// result must be checked or the folder itself would be used as the file.
bool joinPath(char (&path)[MAX_PATH], const char* folder, const char* name) {
    path[0] = '\0';
    if (std::strlen(folder) >= MAX_PATH) return false;
    std::strcpy(path, folder);
    if (!PathAppendA(path, name)) {
        path[0] = '\0';
        return false;
    }
    return true;
}

bool isRetryable(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_BUSY;
}

// Both names refer to one file on disk (same volume, same file index).
bool sameFile(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION infoA{};
    BY_HANDLE_FILE_INFORMATION infoB{};
    auto query = [](const char* path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool ok = GetFileInformationByHandle(h, &info) != FALSE;
        CloseHandle(h);
        return ok;
    };
    return query(a, infoA) && query(b, infoB) && infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh && infoA.nFileIndexLow == infoB.nFileIndexLow;
}

// A locked file is retried for up to 4.5 seconds: the Setup that started a
// self-removal run may still be running from the program folder.
void deleteRetrying(const char* path) {
    for (int attempt = 1;; ++attempt) {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path)) return;
        DWORD error = GetLastError();
        if (attempt == 10 || !isRetryable(error)) throw "Error deleting file.";
        Sleep(500);
    }
}

// Copies a file that is about to be overwritten to a fresh name in the temp
// folder, so that a roll-back can put it back as it was. False, with
// nothing left behind, when that cannot be done.
bool keepAside(const char* path, char (&kept)[MAX_PATH]) {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    kept[0] = '\0';
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameA(temp, "tws", 0, kept)) {
        kept[0] = '\0';
        return false;
    }
    if (CopyFileA(path, kept, FALSE)) return true;
    DeleteFileA(kept);
    kept[0] = '\0';
    return false;
}

// Gone already when it was moved back; a read-only copy is deleted too.
void discardKeptAside(char* kept) {
    if (!kept[0]) return;
    SetFileAttributesA(kept, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kept);
    kept[0] = '\0';
}

}  // namespace

bool programFilePath(int index, char (&path)[MAX_PATH]) {
    return joinPath(path, installFolder, ProgramFiles[index]);
}

void copyProgramFiles(InstallAttempt& attempt) {
    // A folder too long to hold the file names is refused before anything
    // is created in it.
    char target[MAX_PATH];
    for (int i = 0; i < kProgramFileCount; ++i)
        if (!programFilePath(i, target)) throw "Error creating destination folder.";

    if (CreateDirectoryA(installFolder, nullptr))
        attempt.createdFolder = true;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
        throw "Error creating destination folder.";

    // The installation set is taken from the current directory.
    char source[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, source);
    if (length == 0 || length >= MAX_PATH) throw "Error copying file.";

    for (int i = 0; i < kProgramFileCount; ++i) {
        char from[MAX_PATH];
        if (!joinPath(from, source, ProgramFiles[i])) throw "Error copying file.";
        programFilePath(i, target);
        // Installing into the folder the set is taken from: the file is
        // already in place. Copying it onto itself would fail; left alone,
        // it is not this attempt's to remove in a roll-back either.
        if (sameFile(from, target)) continue;
        // A file of the same name (another copy's, an earlier version) is
        // overwritten, but only once it is safe elsewhere.
        if (GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES && !keepAside(target, attempt.keptAside[i]))
            throw "Error copying file.";
        if (!CopyFileA(from, target, FALSE)) throw "Error copying file.";
        attempt.copied[i] = true;
    }
}

void undoInstallAttempt(InstallAttempt& attempt) {
    for (int i = 0; i < kProgramFileCount; ++i) {
        char path[MAX_PATH];
        if (!programFilePath(i, path)) continue;
        char* kept = attempt.keptAside[i];
        if (kept[0]) {
            // Also when the copy over it failed: it may have cut the file
            // short. A file that cannot be replaced now (read-only, locked)
            // could not have been written then either, so its copy aside is
            // only kept when this attempt did overwrite it.
            if (MoveFileExA(kept, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) || !attempt.copied[i])
                discardKeptAside(kept);
            continue;
        }
        if (!attempt.copied[i]) continue;
        try {
            deleteRetrying(path);
        } catch (...) {
        }
    }
    // Only a folder this attempt made; it fails harmlessly if a file in it
    // could not be deleted.
    if (attempt.createdFolder) RemoveDirectoryA(installFolder);
}

void discardKeptAside(InstallAttempt& attempt) {
    for (char* kept : attempt.keptAside) discardKeptAside(kept);
}

void deleteProgramFiles() {
    if (GetFileAttributesA(installFolder) == INVALID_FILE_ATTRIBUTES) return;

    for (int i = 0; i < kProgramFileCount; ++i) {
        char path[MAX_PATH];
        if (!programFilePath(i, path)) throw "Error deleting file.";
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) continue;
        deleteRetrying(path);
    }
    if (!RemoveDirectoryA(installFolder)) throw "Error removing directory.";
}

void applySetup() {
    bool filesCopied = false;
    bool installed = false;
    try {
        if (freshInstall) {
            // A folder name longer than the buffer is refused, not cut: a cut
            // name is a different folder from the one shown. This happens
            // before the roll-back guard, which would otherwise clean up the
            // folder of an earlier attempt.
            if (GetWindowTextLengthA(GetDlgItem(mainDialog, IDC_INSTALL_FOLDER)) >= MAX_PATH)
                throw "Error creating destination folder.";
            InstallAttempt attempt;
            try {
                GetDlgItemTextA(mainDialog, IDC_INSTALL_FOLDER, installFolder, MAX_PATH);
                copyProgramFiles(attempt);
                filesCopied = true;
                char setupPath[MAX_PATH];
                programFilePath(kSetupExe, setupPath);
                writeRegistryEntries(UninstallEntries, rowCount(UninstallEntries), setupPath);
                installed = true;
                discardKeptAside(attempt);
            } catch (...) {
                // Leave no half installation behind, and nothing else gone
                // either: only what this attempt created is removed. The user
                // sees only the failure that started the roll-back.
                if (filesCopied) {
                    try {
                        deleteRegistryEntries(UninstallEntries, rowCount(UninstallEntries));
                    } catch (...) {
                    }
                }
                undoInstallAttempt(attempt);
                throw;
            }
        }

        char target[MAX_PATH];
        if (!programFilePath(kTarnwickExe, target)) throw "Error creating shortcuts.";
        IntegrationOptions options;
        optionsFromDialog(options, mainDialog);
        writeIntegrationOptions(options, HKEY_LOCAL_MACHINE, kUninstallKey);
        if (!freshInstall) removeShellIntegration(options);
        createShellIntegration(options, target);
        SHChangeNotify(SHCNE_ALLEVENTS, SHCNF_IDLIST, nullptr, nullptr);
        if (freshInstall) messageBox(mainDialog, "Tarnwick setup complete.", MB_ICONINFORMATION);
        EndDialog(mainDialog, 0);
        return;
    } catch (const char* text) {
        messageBox(mainDialog, text, MB_ICONWARNING);
    } catch (...) {
        messageBox(mainDialog, kUnknownError, MB_ICONERROR);
    }
    // Once registered, the installation stands even though a later step
    // failed; before that the user may correct the folder and try again.
    if (installed) EndDialog(mainDialog, 0);
}

}  // namespace setup
