// Setup: installs Tarnwick, changes its shell integration later and
// uninstalls it again. Every command catches its own failures; inside a
// command they travel as a thrown constant message text.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "options.h"

namespace setup {

// ---- process-wide state -----------------------------------------------------

extern HINSTANCE instance;
// The program folder; at most 259 characters. Setup works in the wide API
// throughout, so any name Windows holds will do.
extern wchar_t installFolder[MAX_PATH];
// True when no installation was found at start. Fixed for the process.
extern bool freshInstall;
// The installation dialog: owner of the folder picker and of OK's boxes.
extern HWND mainDialog;

// Whom an installation serves. For all users: Program Files, the uninstall
// key under HKEY_LOCAL_MACHINE, the shell's keys under HKEY_CLASSES_ROOT,
// as Setup has always installed. For the current user alone, which needs no
// administrator: the user's own programs folder and the same keys under
// HKEY_CURRENT_USER (the shell's under its Software\Classes). Send To and
// Quick Launch belong to the user either way.
enum class Scope { kAllUsers, kCurrentUser };
// Found with the installation, or chosen on the dialog of a first one.
extern Scope scope;

constexpr const wchar_t kCaption[] = L"Tarnwick Setup";
constexpr const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";
constexpr const char kUnknownError[] = "An unknown error occured!";

// Every box of Setup carries the caption "Tarnwick Setup". Failures travel
// as thrown plain-ASCII texts; the second form takes those.
int messageBox(HWND owner, const wchar_t* text, UINT type);
int messageBox(HWND owner, const char* asciiText, UINT type);

// ---- entry and dialogs (main.cpp) ---------------------------------------------

void detectInstallation();
// This process may write for all users (an administrator's elevated run).
bool canInstallForAllUsers();
// Starts Setup again with an administrator's rights through the shell's
// "runas" verb (the system asks); false when that did not happen.
bool restartElevated(HWND owner);
HKEY uninstallRoot();
void centreWindow(HWND window);
void initInstallDialog();
void browseForInstallFolder();
INT_PTR CALLBACK installDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK maintenanceDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- installation (install.cpp) -----------------------------------------------

enum ProgramFileIndex { kSetupExe = 0, kTarnwickExe = 1, kZlibDll = 2, kReadMe = 3, kProgramFileCount = 4 };
extern const wchar_t* const ProgramFiles[kProgramFileCount];

// installFolder joined with the name at that index. Returns false, and
// leaves the buffer empty, when the two do not fit in MAX_PATH characters:
// a path that was cut short would name some other file.
bool programFilePath(int index, wchar_t (&path)[MAX_PATH]);

// What one installation attempt put in place, so that its roll-back can
// remove exactly that: files of an earlier installation, or the installation
// set itself when it is the chosen folder, are none of its business. A file
// that was there before is copied aside to the temp folder before it is
// overwritten, and the roll-back puts that copy back.
struct InstallAttempt {
    bool createdFolder = false;
    bool copied[kProgramFileCount] = {};
    wchar_t keptAside[kProgramFileCount][MAX_PATH] = {};  // "" when nothing was there
};

void copyProgramFiles(InstallAttempt& attempt);
// Never throws: a roll-back removes what it can and is otherwise silent. A
// copy aside that cannot be put back stays in the temp folder.
void undoInstallAttempt(InstallAttempt& attempt);
// After a successful installation: the copies aside are not needed.
void discardKeptAside(InstallAttempt& attempt);
void deleteProgramFiles();
void applySetup();

// ---- shell integration (integration.cpp) -------------------------------------

struct RegistryEntry {
    HKEY root;
    const wchar_t* subKey;
    const wchar_t* valueName;  // "" is the key's default value
    const wchar_t* format;     // "%s" is the path given when writing, "%%" a "%"
};

extern const RegistryEntry UninstallEntries[2];
extern const RegistryEntry FolderVerbEntries[2];
extern const RegistryEntry NewTypeEntries[6];

template <std::size_t N>
constexpr std::size_t rowCount(const RegistryEntry (&)[N]) {
    return N;
}

// A row's key where the current scope puts it: the row names the place
// for all users.
HKEY placeRow(const RegistryEntry& row, std::wstring& subKey);
void writeRegistryEntries(const RegistryEntry* table, std::size_t count, const wchar_t* path);
void deleteRegistryEntries(const RegistryEntry* table, std::size_t count);

void readIntegrationOptions(IntegrationOptions& options, HKEY root, const wchar_t* subKey);
LSTATUS writeIntegrationOptions(const IntegrationOptions& options, HKEY root, const wchar_t* subKey);
void optionsFromDialog(IntegrationOptions& options, HWND dialog);
void optionsToDialog(const IntegrationOptions& options, HWND dialog);

void sendToShortcutPath(wchar_t (&path)[MAX_PATH]);
void quickLaunchShortcutPath(wchar_t (&path)[MAX_PATH]);

void createShellIntegration(const IntegrationOptions& options, const wchar_t* target);
// Removes what the cleared flags stand for; clears the flag of every
// shortcut that already exists, so that creating afterwards leaves it alone.
void removeShellIntegration(IntegrationOptions& options);
void removeShortcut(const wchar_t* path, bool& flag);

// ---- uninstallation (uninstall.cpp) -------------------------------------------

int uninstall();
int runSelfRemoval();
void showNotRemovedMessage();
void showNotRemovedMessage(const wchar_t* folder);

}  // namespace setup
