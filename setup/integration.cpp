// Shell integration: the options and their registry value, the registry
// tables, and the Send To and Quick Launch shortcuts.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <string>

#include "common/handles.h"
#include "resources/resource.h"
#include "setup.h"

namespace setup {

const RegistryEntry FolderVerbEntries[2] = {
    {HKEY_CLASSES_ROOT, L"Directory\\shell\\TarnwickPaste", L"", L"Paste from Tarnwick"},
    {HKEY_CLASSES_ROOT, L"Directory\\shell\\TarnwickPaste\\command", L"", L"\"%s\" /PASTE \"%%1\""},
};

const RegistryEntry NewTypeEntries[6] = {
    {HKEY_CLASSES_ROOT, L"Tarnwick.Target", L"", L"Tarnwick Target"},
    {HKEY_CLASSES_ROOT, L"Tarnwick.Target\\shell", L"", L"open"},
    {HKEY_CLASSES_ROOT, L"Tarnwick.Target\\shell\\open", L"", L"Paste Here"},
    {HKEY_CLASSES_ROOT, L"Tarnwick.Target\\shell\\open\\command", L"", L"\"%s\" /PASTE \"%%1\""},
    {HKEY_CLASSES_ROOT, L".tarnwk", L"", L"Tarnwick.Target"},
    {HKEY_CLASSES_ROOT, L".tarnwk\\ShellNew", L"Command", L"\"%s\" /PASTE \"%%1\""},
};

namespace {

constexpr const wchar_t kOptionsValue[] = L"ShellIntegrationOptions";
constexpr int kOptionBoxes[4] = {IDC_SEND_TO, IDC_QUICK_LAUNCH, IDC_FOLDER_VERB, IDC_NEW_MENU};

bool* flagsOf(IntegrationOptions& o, int i) {
    bool* flags[4] = {&o.sendTo, &o.quickLaunch, &o.folderVerb, &o.newMenu};
    return flags[i];
}

// Joins and reports overflow instead of leaving the folder in the buffer.
bool append(wchar_t (&path)[MAX_PATH], const wchar_t* more) {
    return PathAppendW(path, more) != FALSE;
}

}  // namespace

void readIntegrationOptions(IntegrationOptions& options, HKEY root, const wchar_t* subKey) {
    DWORD data = 0;
    DWORD size = sizeof data;
    DWORD type = REG_DWORD;
    if (SHGetValueW(root, subKey, kOptionsValue, &type, &data, &size) != ERROR_SUCCESS) data = 0;
    options = optionsFromBits(data);
}

LSTATUS writeIntegrationOptions(const IntegrationOptions& options, HKEY root, const wchar_t* subKey) {
    DWORD data = optionsToBits(options);
    return SHSetValueW(root, subKey, kOptionsValue, REG_DWORD, &data, sizeof data);
}

void optionsFromDialog(IntegrationOptions& options, HWND dialog) {
    for (int i = 0; i < 4; ++i) *flagsOf(options, i) = IsDlgButtonChecked(dialog, kOptionBoxes[i]) == BST_CHECKED;
}

void optionsToDialog(const IntegrationOptions& options, HWND dialog) {
    IntegrationOptions copy = options;
    for (int i = 0; i < 4; ++i)
        CheckDlgButton(dialog, kOptionBoxes[i], *flagsOf(copy, i) ? BST_CHECKED : BST_UNCHECKED);
}

HKEY placeRow(const RegistryEntry& row, std::wstring& subKey) {
    subKey = row.subKey;
    if (scope == Scope::kAllUsers) return row.root;
    if (row.root == HKEY_CLASSES_ROOT) subKey = L"Software\\Classes\\" + subKey;
    return HKEY_CURRENT_USER;
}

void writeRegistryEntries(const RegistryEntry* table, std::size_t count, const wchar_t* path) {
    for (std::size_t i = 0; i < count; ++i) {
        const RegistryEntry& row = table[i];
        std::wstring text = expandRegistryFormat(row.format, path);
        std::wstring subKey;
        HKEY root = placeRow(row, subKey);
        if (SHSetValueW(root, subKey.c_str(), row.valueName, REG_SZ, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
            throw "Error setting registry entry.";
    }
}

void deleteRegistryEntries(const RegistryEntry* table, std::size_t count) {
    // Last to first: every subkey goes before its parent.
    for (std::size_t i = count; i-- > 0;) {
        std::wstring subKey;
        HKEY root = placeRow(table[i], subKey);
        LONG size = 0;
        if (RegQueryValueW(root, subKey.c_str(), nullptr, &size) != ERROR_SUCCESS) continue;
        if (RegDeleteKeyW(root, subKey.c_str()) != ERROR_SUCCESS) throw "Error deleting registry entry.";
    }
}

void sendToShortcutPath(wchar_t (&path)[MAX_PATH]) {
    path[0] = L'\0';
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_SENDTO, TRUE) || !append(path, L"Tarnwick.lnk"))
        throw "Error getting Send To path.";
}

void quickLaunchShortcutPath(wchar_t (&path)[MAX_PATH]) {
    path[0] = L'\0';
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, TRUE)) {
        UINT length = GetWindowsDirectoryW(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !append(path, L"Application Data"))
            throw "Error getting Quick Launch path.";
    }
    if (!append(path, L"Microsoft\\Internet Explorer\\Quick Launch\\Tarnwick.lnk"))
        throw "Error getting Quick Launch path.";
}

namespace {

void saveShortcut(IPersistFile* file, const wchar_t* path, const char* failure) {
    if (FAILED(file->Save(path, FALSE))) throw failure;
}

}  // namespace

void createShellIntegration(const IntegrationOptions& options, const wchar_t* target) {
    if (options.sendTo || options.quickLaunch) {
        // Both shortcuts are one Shell Link saved to two places; the
        // interfaces are released on every way out.
        tw::com_ptr<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    link.put_void())) ||
            !link)
            throw "Error creating shortcuts.";
        tw::com_ptr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file)
            throw "Error creating shortcuts.";
        link->SetPath(target);
        link->SetDescription(L"Tarnwick");

        wchar_t path[MAX_PATH];
        if (options.sendTo) {
            sendToShortcutPath(path);
            saveShortcut(file.get(), path, "Error creating Send To shortcut.");
        }
        if (options.quickLaunch) {
            quickLaunchShortcutPath(path);
            saveShortcut(file.get(), path, "Error creating Quick Launch shortcut.");
        }
    }
    if (options.folderVerb) writeRegistryEntries(FolderVerbEntries, rowCount(FolderVerbEntries), target);
    if (options.newMenu) writeRegistryEntries(NewTypeEntries, rowCount(NewTypeEntries), target);
}

void removeShortcut(const wchar_t* path, bool& flag) {
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return;
    if (flag) {
        // Already in place: leave the user's shortcut as it is.
        flag = false;
        return;
    }
    if (!DeleteFileW(path)) throw "Error removing shortcut.";
}

void removeShellIntegration(IntegrationOptions& options) {
    wchar_t path[MAX_PATH];
    sendToShortcutPath(path);
    removeShortcut(path, options.sendTo);
    quickLaunchShortcutPath(path);
    removeShortcut(path, options.quickLaunch);
    if (!options.folderVerb) deleteRegistryEntries(FolderVerbEntries, rowCount(FolderVerbEntries));
    if (!options.newMenu) deleteRegistryEntries(NewTypeEntries, rowCount(NewTypeEntries));
}

}  // namespace setup
