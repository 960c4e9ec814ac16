// Installation: the program files, the uninstall key and the OK button.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "resources/resource.h"
#include "setup.h"

namespace setup {

const wchar_t* const ProgramFiles[kProgramFileCount] = {L"Setup.exe", L"Tarnwick.exe", L"zlib1.dll", L"ReadMe.txt"};

const RegistryEntry UninstallEntries[2] = {
    {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", L"Tarnwick"},
    {HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", L"\"%s\""},
};

namespace {

// PathAppendW fails on overflow and leaves its buffer as it was; the
// result must be checked or the folder itself would be used as the file.
bool joinPath(wchar_t (&path)[MAX_PATH], const wchar_t* folder, const wchar_t* name) {
    path[0] = L'\0';
    if (std::wcslen(folder) >= MAX_PATH) return false;
    std::wcscpy(path, folder);
    if (!PathAppendW(path, name)) {
        path[0] = L'\0';
        return false;
    }
    return true;
}

bool isRetryable(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_BUSY;
}

// Both names refer to one file on disk (same volume, same file index).
bool sameFile(const wchar_t* a, const wchar_t* b) {
    BY_HANDLE_FILE_INFORMATION infoA{};
    BY_HANDLE_FILE_INFORMATION infoB{};
    auto query = [](const wchar_t* path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
void deleteRetrying(const wchar_t* path) {
    for (int attempt = 1;; ++attempt) {
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path)) return;
        DWORD error = GetLastError();
        if (attempt == 10 || !isRetryable(error)) throw "Error deleting file.";
        Sleep(500);
    }
}

// Copies a file that is about to be overwritten to a fresh name in the temp
// folder, so that a roll-back can put it back as it was. False, with
// nothing left behind, when that cannot be done.
bool keepAside(const wchar_t* path, wchar_t (&kept)[MAX_PATH]) {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    kept[0] = L'\0';
    if (length == 0 || length >= MAX_PATH || !GetTempFileNameW(temp, L"tws", 0, kept)) {
        kept[0] = L'\0';
        return false;
    }
    if (CopyFileW(path, kept, FALSE)) return true;
    DeleteFileW(kept);
    kept[0] = L'\0';
    return false;
}

// Gone already when it was moved back; a read-only copy is deleted too.
void discardKeptAside(wchar_t* kept) {
    if (!kept[0]) return;
    SetFileAttributesW(kept, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(kept);
    kept[0] = L'\0';
}

}  // namespace

bool programFilePath(int index, wchar_t (&path)[MAX_PATH]) {
    return joinPath(path, installFolder, ProgramFiles[index]);
}

void copyProgramFiles(InstallAttempt& attempt) {
    // A folder too long to hold the file names is refused before anything
    // is created in it.
    wchar_t target[MAX_PATH];
    for (int i = 0; i < kProgramFileCount; ++i)
        if (!programFilePath(i, target)) throw "Error creating destination folder.";

    // The user's own programs folder is there on a current Windows; made
    // here where it is not. It is the system's, so a roll-back leaves it.
    if (scope == Scope::kCurrentUser) {
        wchar_t programs[MAX_PATH];
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                       programs)) &&
            PathAppendW(programs, L"Programs"))
            CreateDirectoryW(programs, nullptr);
    }
    if (CreateDirectoryW(installFolder, nullptr))
        attempt.createdFolder = true;
    else if (GetLastError() != ERROR_ALREADY_EXISTS)
        throw "Error creating destination folder.";

    // The installation set is taken from the current directory.
    wchar_t source[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, source);
    if (length == 0 || length >= MAX_PATH) throw "Error copying file.";

    for (int i = 0; i < kProgramFileCount; ++i) {
        wchar_t from[MAX_PATH];
        if (!joinPath(from, source, ProgramFiles[i])) throw "Error copying file.";
        programFilePath(i, target);
        // Installing into the folder the set is taken from: the file is
        // already in place. Copying it onto itself would fail; left alone,
        // it is not this attempt's to remove in a roll-back either.
        if (sameFile(from, target)) continue;
        // A file of the same name (another copy's, an earlier version) is
        // overwritten, but only once it is safe elsewhere.
        if (GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES && !keepAside(target, attempt.keptAside[i]))
            throw "Error copying file.";
        if (!CopyFileW(from, target, FALSE)) throw "Error copying file.";
        attempt.copied[i] = true;
    }
}

void undoInstallAttempt(InstallAttempt& attempt) {
    for (int i = 0; i < kProgramFileCount; ++i) {
        wchar_t path[MAX_PATH];
        if (!programFilePath(i, path)) continue;
        wchar_t* kept = attempt.keptAside[i];
        if (kept[0]) {
            // Also when the copy over it failed: it may have cut the file
            // short. A file that cannot be replaced now (read-only, locked)
            // could not have been written then either, so its copy aside is
            // only kept when this attempt did overwrite it.
            if (MoveFileExW(kept, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) || !attempt.copied[i])
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
    if (attempt.createdFolder) RemoveDirectoryW(installFolder);
}

void discardKeptAside(InstallAttempt& attempt) {
    for (wchar_t* kept : attempt.keptAside) discardKeptAside(kept);
}

void deleteProgramFiles() {
    if (GetFileAttributesW(installFolder) == INVALID_FILE_ATTRIBUTES) return;

    for (int i = 0; i < kProgramFileCount; ++i) {
        wchar_t path[MAX_PATH];
        if (!programFilePath(i, path)) throw "Error deleting file.";
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) continue;
        deleteRetrying(path);
    }
    if (!RemoveDirectoryW(installFolder)) throw "Error removing directory.";
}

void applySetup() {
    if (freshInstall && scope == Scope::kAllUsers && !canInstallForAllUsers()) {
        // The elevated Setup shows the dialog again and installs; declined,
        // this dialog stays as it is.
        if (restartElevated(mainDialog)) EndDialog(mainDialog, 0);
        return;
    }
    bool filesCopied = false;
    bool installed = false;
    try {
        if (freshInstall) {
            // A folder name longer than the buffer is refused, not cut: a cut
            // name is a different folder from the one shown. This happens
            // before the roll-back guard, which would otherwise clean up the
            // folder of an earlier attempt.
            if (GetWindowTextLengthW(GetDlgItem(mainDialog, IDC_INSTALL_FOLDER)) >= MAX_PATH)
                throw "Error creating destination folder.";
            InstallAttempt attempt;
            try {
                GetDlgItemTextW(mainDialog, IDC_INSTALL_FOLDER, installFolder, MAX_PATH);
                copyProgramFiles(attempt);
                filesCopied = true;
                wchar_t setupPath[MAX_PATH];
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

        wchar_t target[MAX_PATH];
        if (!programFilePath(kTarnwickExe, target)) throw "Error creating shortcuts.";
        IntegrationOptions options;
        optionsFromDialog(options, mainDialog);
        writeIntegrationOptions(options, uninstallRoot(), kUninstallKey);
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
