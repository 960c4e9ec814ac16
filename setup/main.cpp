// Setup's entry, the two dialogs and the folder picker.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/handles.h"
#include "resources/resource.h"
#include "setup.h"

// The shield on a button whose action asks for an administrator (Vista on).
#ifndef BCM_SETSHIELD
#define BCM_SETSHIELD 0x160C
#endif

namespace setup {

HINSTANCE instance = nullptr;
wchar_t installFolder[MAX_PATH] = L"";
bool freshInstall = true;
HWND mainDialog = nullptr;

int messageBox(HWND owner, const wchar_t* text, UINT type) {
    return MessageBoxW(owner, text, kCaption, type);
}

int messageBox(HWND owner, const char* asciiText, UINT type) {
    std::wstring text(asciiText, asciiText + std::strlen(asciiText));
    return messageBox(owner, text.c_str(), type);
}

Scope scope = Scope::kAllUsers;

namespace {

// Reads the installed Setup's path from one uninstall key; false, with the
// folder empty, when there is none.
bool readInstallFolder(HKEY root) {
    DWORD type = REG_SZ;
    DWORD size = sizeof installFolder;
    // An earlier Setup wrote this value through the ANSI API; the registry
    // keeps REG_SZ text as UTF-16 either way, so the wide read gets it whole.
    LSTATUS status = SHGetValueW(root, kUninstallKey, L"UninstallString", &type, installFolder, &size);
    // Only a terminated text counts; anything else is treated like no
    // installation at all rather than read past the buffer.
    bool usable = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
                  size >= sizeof(wchar_t) && std::wmemchr(installFolder, L'\0', size / sizeof(wchar_t)) != nullptr;
    if (!usable) installFolder[0] = L'\0';
    return usable;
}

// The folder a first installation proposes for a scope.
void defaultInstallFolder(Scope forScope, wchar_t (&folder)[MAX_PATH]) {
    if (forScope == Scope::kCurrentUser) {
        // The user's own programs folder, %LOCALAPPDATA%\Programs.
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) &&
            PathAppendW(folder, L"Programs\\Tarnwick"))
            return;
    }
    // The drive of the Windows folder, whatever letter it has.
    std::wcscpy(folder, L"C:\\");
    wchar_t windows[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH) std::wcscpy(folder, windows);
    folder[3] = L'\0';
    PathAppendW(folder, L"Program Files\\Tarnwick");
}

// Without an administrator's rights, Install for all users carries the
// shield: it asks for them first.
void showScope(HWND dialog) {
    CheckRadioButton(dialog, IDC_ALL_USERS, IDC_JUST_ME, scope == Scope::kAllUsers ? IDC_ALL_USERS : IDC_JUST_ME);
    SendDlgItemMessageW(dialog, IDOK, BCM_SETSHIELD, 0,
                        freshInstall && scope == Scope::kAllUsers && !canInstallForAllUsers());
}

// A first installation's choice: the proposed folder follows it unless the
// user has typed one of their own.
void chooseScope(Scope chosen) {
    if (!freshInstall || chosen == scope) return;
    wchar_t shown[MAX_PATH] = L"";
    wchar_t proposed[MAX_PATH] = L"";
    GetDlgItemTextW(mainDialog, IDC_INSTALL_FOLDER, shown, MAX_PATH);
    defaultInstallFolder(scope, proposed);
    scope = chosen;
    if (lstrcmpiW(shown, proposed) == 0) {
        defaultInstallFolder(scope, proposed);
        SetDlgItemTextW(mainDialog, IDC_INSTALL_FOLDER, proposed);
    }
    showScope(mainDialog);
}

}  // namespace

bool canInstallForAllUsers() {
    // Wine runs every program as an administrator; the tests reach the
    // standard user's Setup through this variable. No person is told of it.
    if (GetEnvironmentVariableW(L"TW_SETUP_TEST_NOT_ADMIN", nullptr, 0) > 0) return false;
    return IsUserAnAdmin() != FALSE;
}

HKEY uninstallRoot() {
    return scope == Scope::kAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool restartElevated(HWND owner) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    SHELLEXECUTEINFOW request;
    std::memset(&request, 0, sizeof request);
    request.cbSize = sizeof request;
    request.hwnd = owner;
    request.lpVerb = L"runas";
    request.lpFile = self;
    request.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&request) != FALSE;
}

void detectInstallation() {
    // For all users first, as Setup has always looked; then the user's own.
    if (readInstallFolder(HKEY_LOCAL_MACHINE)) {
        scope = Scope::kAllUsers;
    } else if (readInstallFolder(HKEY_CURRENT_USER)) {
        scope = Scope::kCurrentUser;
    } else {
        freshInstall = true;
        scope = canInstallForAllUsers() ? Scope::kAllUsers : Scope::kCurrentUser;
        return;
    }
    freshInstall = false;
    PathUnquoteSpacesW(installFolder);
    PathRemoveFileSpecW(installFolder);
}

void centreWindow(HWND window) {
    RECT box{};
    RECT work{};
    GetWindowRect(window, &box);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    int x = (work.left + work.right - width) / 2;
    int y = (work.top + work.bottom - height) / 2;
    SetWindowPos(window, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void initInstallDialog() {
    if (freshInstall) defaultInstallFolder(scope, installFolder);
    SetDlgItemTextW(mainDialog, IDC_INSTALL_FOLDER, installFolder);
    // The folder of an existing installation cannot be moved, nor made one
    // for other users.
    EnableWindow(GetDlgItem(mainDialog, IDC_INSTALL_FOLDER), freshInstall);
    EnableWindow(GetDlgItem(mainDialog, IDC_BROWSE), freshInstall);
    EnableWindow(GetDlgItem(mainDialog, IDC_ALL_USERS), freshInstall);
    EnableWindow(GetDlgItem(mainDialog, IDC_JUST_ME), freshInstall);

    IntegrationOptions options;
    if (freshInstall) {
        options.sendTo = true;
        options.quickLaunch = false;
        options.folderVerb = false;
        options.newMenu = true;
        optionsToDialog(options, mainDialog);
        SetDlgItemTextW(mainDialog, IDOK, L"Install");
    } else {
        readIntegrationOptions(options, uninstallRoot(), kUninstallKey);
        optionsToDialog(options, mainDialog);
    }
    showScope(mainDialog);
}

void browseForInstallFolder() {
    tw::com_ptr<IMalloc> allocator;
    if (FAILED(SHGetMalloc(allocator.put())) || !allocator) return;

    BROWSEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.hwndOwner = mainDialog;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (!chosen) return;

    wchar_t path[MAX_PATH] = L"";
    // The chosen folder is the parent; the program gets a folder of its own.
    if (SHGetPathFromIDListW(chosen, path) && PathAppendW(path, L"Tarnwick"))
        SetDlgItemTextW(mainDialog, IDC_INSTALL_FOLDER, path);
    allocator->Free(chosen);
}

namespace {

void showSetupIcon(HWND window) {
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SETUP));
    SetClassLongPtrW(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

}  // namespace

INT_PTR CALLBACK installDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    // A dialog procedure is called from the system: nothing may leave it.
    try {
        switch (message) {
        case WM_INITDIALOG:
            mainDialog = window;
            showSetupIcon(window);
            centreWindow(window);
            initInstallDialog();
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDOK:
                applySetup();
                break;
            case IDCANCEL:
                EndDialog(window, 1);
                break;
            case IDC_BROWSE:
                browseForInstallFolder();
                break;
            case IDC_ALL_USERS:
                chooseScope(Scope::kAllUsers);
                break;
            case IDC_JUST_ME:
                chooseScope(Scope::kCurrentUser);
                break;
            default:
                break;
            }
            return TRUE;
        default:
            return FALSE;
        }
    } catch (...) {
        return TRUE;
    }
}

INT_PTR CALLBACK maintenanceDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    try {
        switch (message) {
        case WM_INITDIALOG:
            showSetupIcon(window);
            centreWindow(window);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDCANCEL:
            case IDC_CUSTOMIZE:
                EndDialog(window, LOWORD(wParam));
                break;
            case IDC_UNINSTALL:
                if (messageBox(window, L"Are you sure you want to uninstall Tarnwick?", MB_YESNO | MB_ICONQUESTION) ==
                    IDYES)
                    EndDialog(window, IDC_UNINSTALL);
                break;
            default:
                break;
            }
            return TRUE;
        default:
            return FALSE;
        }
    } catch (...) {
        return TRUE;
    }
}

namespace {

int runInstallDialog() {
    return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_INSTALL), nullptr,
                                            installDialogProc, 0));
}

int run(HINSTANCE module, const wchar_t* tail) {
    instance = module;

    if (tail && *tail) {
        // The self-removal run: the tail names the program folder, quoted
        // when it holds a blank. It is unquoted at full length first and
        // refused when it does not fit, because cutting it short would
        // name a different folder, and that folder's files would go.
        freshInstall = false;
        std::vector<wchar_t> folder(tail, tail + std::wcslen(tail) + 1);
        PathUnquoteSpacesW(folder.data());
        if (std::wcslen(folder.data()) >= MAX_PATH) {
            showNotRemovedMessage(folder.data());
            return 1;
        }
        std::wcscpy(installFolder, folder.data());
        return runSelfRemoval();
    }

    CoInitialize(nullptr);
    tw::scope_exit uninitialise([] { CoUninitialize(); });
    detectInstallation();
    // An installation for all users is changed by an administrator only:
    // without the rights, Setup asks for them before the maintenance dialog.
    if (!freshInstall && scope == Scope::kAllUsers && !canInstallForAllUsers() && restartElevated(nullptr))
        return 0;
    int code;
    if (freshInstall) {
        code = runInstallDialog();
    } else {
        INT_PTR choice = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAINTENANCE), nullptr,
                                         maintenanceDialogProc, 0);
        if (choice == IDC_CUSTOMIZE)
            code = runInstallDialog();
        else if (choice == IDC_UNINSTALL)
            code = uninstall();
        else
            code = 1;
    }
    return code;
}

}  // namespace
}  // namespace setup

// The wide entry (linked with -municode): the tail keeps every character of
// a folder name, which the ANSI tail would turn into "?".
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    try {
        return setup::run(instance, commandLine);
    } catch (...) {
        return 1;
    }
}
