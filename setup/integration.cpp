// Shell integration: the options and their registry value, the registry
// tables, and the Send To and Quick Launch shortcuts.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/handles.h"
#include "resources/resource.h"
#include "setup.h"

namespace setup {

const RegistryEntry FolderVerbEntries[2] = {
    {HKEY_CLASSES_ROOT, "Directory\\shell\\TarnwickPaste", "", "Paste from Tarnwick"},
    {HKEY_CLASSES_ROOT, "Directory\\shell\\TarnwickPaste\\command", "", "\"%s\" /PASTE \"%%1\""},
};

const RegistryEntry NewTypeEntries[6] = {
    {HKEY_CLASSES_ROOT, "Tarnwick.Target", "", "Tarnwick Target"},
    {HKEY_CLASSES_ROOT, "Tarnwick.Target\\shell", "", "open"},
    {HKEY_CLASSES_ROOT, "Tarnwick.Target\\shell\\open", "", "Paste Here"},
    {HKEY_CLASSES_ROOT, "Tarnwick.Target\\shell\\open\\command", "", "\"%s\" /PASTE \"%%1\""},
    {HKEY_CLASSES_ROOT, ".tarnwk", "", "Tarnwick.Target"},
    {HKEY_CLASSES_ROOT, ".tarnwk\\ShellNew", "Command", "\"%s\" /PASTE \"%%1\""},
};

namespace {

constexpr const char kOptionsValue[] = "ShellIntegrationOptions";
constexpr int kOptionBoxes[4] = {IDC_SEND_TO, IDC_QUICK_LAUNCH, IDC_FOLDER_VERB, IDC_NEW_MENU};

bool* flagsOf(IntegrationOptions& o, int i) {
    bool* flags[4] = {&o.sendTo, &o.quickLaunch, &o.folderVerb, &o.newMenu};
    return flags[i];
}

// Joins and reports overflow instead of leaving the folder in the buffer.
bool append(char (&path)[MAX_PATH], const char* more) {
    return PathAppendA(path, more) != FALSE;
}

}  // namespace

void readIntegrationOptions(IntegrationOptions& options, HKEY root, const char* subKey) {
    DWORD data = 0;
    DWORD size = sizeof data;
    DWORD type = REG_DWORD;
    if (SHGetValueA(root, subKey, kOptionsValue, &type, &data, &size) != ERROR_SUCCESS) data = 0;
    options = optionsFromBits(data);
}

LSTATUS writeIntegrationOptions(const IntegrationOptions& options, HKEY root, const char* subKey) {
    DWORD data = optionsToBits(options);
    return SHSetValueA(root, subKey, kOptionsValue, REG_DWORD, &data, sizeof data);
}

void optionsFromDialog(IntegrationOptions& options, HWND dialog) {
    for (int i = 0; i < 4; ++i) *flagsOf(options, i) = IsDlgButtonChecked(dialog, kOptionBoxes[i]) == BST_CHECKED;
}

void optionsToDialog(const IntegrationOptions& options, HWND dialog) {
    IntegrationOptions copy = options;
    for (int i = 0; i < 4; ++i)
        CheckDlgButton(dialog, kOptionBoxes[i], *flagsOf(copy, i) ? BST_CHECKED : BST_UNCHECKED);
}

void writeRegistryEntries(const RegistryEntry* table, std::size_t count, const char* path) {
    for (std::size_t i = 0; i < count; ++i) {
        const RegistryEntry& row = table[i];
        std::string text = expandRegistryFormat(row.format, path);
        if (SHSetValueA(row.root, row.subKey, row.valueName, REG_SZ, text.c_str(),
                        static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS)
            throw "Error setting registry entry.";
    }
}

void deleteRegistryEntries(const RegistryEntry* table, std::size_t count) {
    // Last to first: every subkey goes before its parent.
    for (std::size_t i = count; i-- > 0;) {
        const RegistryEntry& row = table[i];
        LONG size = 0;
        if (RegQueryValueA(row.root, row.subKey, nullptr, &size) != ERROR_SUCCESS) continue;
        if (RegDeleteKeyA(row.root, row.subKey) != ERROR_SUCCESS) throw "Error deleting registry entry.";
    }
}

void sendToShortcutPath(char (&path)[MAX_PATH]) {
    path[0] = '\0';
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_SENDTO, TRUE) || !append(path, "Tarnwick.lnk"))
        throw "Error getting Send To path.";
}

void quickLaunchShortcutPath(char (&path)[MAX_PATH]) {
    path[0] = '\0';
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, TRUE)) {
        UINT length = GetWindowsDirectoryA(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !append(path, "Application Data"))
            throw "Error getting Quick Launch path.";
    }
    if (!append(path, "Microsoft\\Internet Explorer\\Quick Launch\\Tarnwick.lnk"))
        throw "Error getting Quick Launch path.";
}

namespace {

void saveShortcut(IPersistFile* file, const char* path, const char* failure) {
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (length <= 0) throw failure;
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
    if (FAILED(file->Save(wide.data(), FALSE))) throw failure;
}

}  // namespace

void createShellIntegration(const IntegrationOptions& options, const char* target) {
    if (options.sendTo || options.quickLaunch) {
        // Both shortcuts are one Shell Link saved to two places; the
        // interfaces are released on every way out.
        tw::com_ptr<IShellLinkA> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    link.put_void())) ||
            !link)
            throw "Error creating shortcuts.";
        tw::com_ptr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file)
            throw "Error creating shortcuts.";
        link->SetPath(target);
        link->SetDescription("Tarnwick");

        char path[MAX_PATH];
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

void removeShortcut(const char* path, bool& flag) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
    if (flag) {
        // Already in place: leave the user's shortcut as it is.
        flag = false;
        return;
    }
    if (!DeleteFileA(path)) throw "Error removing shortcut.";
}

void removeShellIntegration(IntegrationOptions& options) {
    char path[MAX_PATH];
    sendToShortcutPath(path);
    removeShortcut(path, options.sendTo);
    quickLaunchShortcutPath(path);
    removeShortcut(path, options.quickLaunch);
    if (!options.folderVerb) deleteRegistryEntries(FolderVerbEntries, rowCount(FolderVerbEntries));
    if (!options.newMenu) deleteRegistryEntries(NewTypeEntries, rowCount(NewTypeEntries));
}

}  // namespace setup
