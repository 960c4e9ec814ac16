// Setup.exe, first installation: the installation dialog as it opens, a
// complete installation, and the failures that roll it back or cut it short.
#include <algorithm>
#include <functional>

#include "setup_support.h"

using namespace e2e;
using namespace e2e::setuptest;

namespace {

class FirstInstallation : public SetupTest {};

// Values of the uninstall key, by name.
std::vector<std::string> valueNames(HKEY root, const std::string& subKey) {
    std::vector<std::string> names;
    HKEY key;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (::RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    ::RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

// Copies that Setup keeps aside in the temp folder while it overwrites files.
std::vector<std::string> keptAside() {
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> names;
    for (const std::string& name : listDir(temp))
        if (name.rfind("tws", 0) == 0) names.push_back(name);
    return names;
}

}  // namespace

TEST_F(FirstInstallation, DialogOpensWithDefaultsAndCancelWritesNothing) {
    Process p(setupExe(), {}, binDir());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    char windows[MAX_PATH];
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_EQ(controlText(dialog, kEdit), std::string(windows, 3) + "Program Files\\Tarnwick");
    EXPECT_TRUE(enabled(dialog, kEdit));
    EXPECT_TRUE(enabled(dialog, kBrowse));
    EXPECT_EQ(controlText(dialog, IDOK), "Install");
    EXPECT_TRUE(checked(dialog, kSendTo));
    EXPECT_FALSE(checked(dialog, kQuickLaunch));
    EXPECT_FALSE(checked(dialog, kFolderVerb));
    EXPECT_TRUE(checked(dialog, kNewMenu));
    // An administrator (Wine's user is one) installs for all users unless
    // choosing otherwise; the proposed folder follows the choice, a folder
    // typed by the user does not.
    EXPECT_TRUE(checked(dialog, kAllUsers));
    EXPECT_FALSE(checked(dialog, kJustMe));
    send(dialog, kJustMe, BM_CLICK);
    EXPECT_TRUE(checked(dialog, kJustMe));
    EXPECT_FALSE(checked(dialog, kAllUsers));
    EXPECT_EQ(controlText(dialog, kEdit), specialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Tarnwick");
    send(dialog, kAllUsers, BM_CLICK);
    EXPECT_EQ(controlText(dialog, kEdit), std::string(windows, 3) + "Program Files\\Tarnwick");
    setControlText(dialog, kEdit, "D:\\Mine");
    send(dialog, kJustMe, BM_CLICK);
    EXPECT_EQ(controlText(dialog, kEdit), "D:\\Mine");

    // Centred in the work area.
    RECT box, work;
    ::GetWindowRect(dialog, &box);
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((box.left + box.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (work.top + work.bottom) / 2, 1);

    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
    EXPECT_FALSE(anyKeyAt(forAllUsers()));
    EXPECT_FALSE(anyKeyAt(forCurrentUser()));
    EXPECT_FALSE(exists(sendToLink()));
}

// A user without an administrator's rights: no question asked, the user's
// own programs folder (made where it is missing) and keys under
// HKEY_CURRENT_USER alone; started again, the maintenance dialog.
TEST_F(FirstInstallation, WithoutAdministratorRightsForTheUserAlone) {
    struct NotAdmin {
        NotAdmin() { ::SetEnvironmentVariableW(L"TW_SETUP_TEST_NOT_ADMIN", L"1"); }
        ~NotAdmin() { ::SetEnvironmentVariableW(L"TW_SETUP_TEST_NOT_ADMIN", nullptr); }
    } notAdmin;
    const std::string programs = specialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs";
    const std::string folder = programs + "\\Tarnwick";
    removeTree(programs);
    {
        Process p(setupExe(), {}, binDir());
        HWND dialog = waitDialog(p, kEdit);
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(checked(dialog, kJustMe));
        EXPECT_FALSE(checked(dialog, kAllUsers));
        EXPECT_TRUE(enabled(dialog, kAllUsers));
        EXPECT_EQ(controlText(dialog, kEdit), folder);
        press(dialog, IDOK);
        Box done = answerBox(p);
        EXPECT_EQ(done.text, "Tarnwick setup complete.");
        ASSERT_TRUE(p.wait(20000));
        EXPECT_EQ(p.exitCode(), 0u);
    }
    for (const char* name : kProgramFiles) EXPECT_TRUE(exists(folder + "\\" + name)) << name;
    EXPECT_EQ(regString(HKEY_CURRENT_USER, kUninstallKey, "UninstallString"), "\"" + folder + "\\Setup.exe\"");
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, forCurrentUser().key(".tarnwk")));
    EXPECT_FALSE(anyKeyAt(machineOnly()));
    {
        Process p(folder + "\\Setup.exe", {}, folder);
        HWND maintenance = waitDialog(p, kCustomize);
        EXPECT_TRUE(maintenance);
        if (maintenance) press(maintenance, IDCANCEL);
        EXPECT_TRUE(p.wait(20000));
    }
    removeTree(programs);
}

TEST_F(FirstInstallation, InstallsIntoAFolderWithSpaces) {
    TempDir temp;
    makeDir(temp / "Program Files");
    std::string folder = temp / "Program Files\\Tarnwick";

    Process p(setupExe(), {}, binDir());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    setControlText(dialog, kEdit, folder);
    press(dialog, IDOK);
    HWND w = waitBox(p);
    ASSERT_TRUE(w);
    Box done = readBox(w);
    EXPECT_EQ(done.text, "Tarnwick setup complete.");
    EXPECT_EQ(done.icon, "information");
    EXPECT_EQ(::GetWindow(w, GW_OWNER), dialog) << "the box belongs to the installation dialog";
    press(w, IDOK);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 0u);

    for (const char* name : kProgramFiles)
        EXPECT_TRUE(sameContent(binDir() + "\\" + name, folder + "\\" + name)) << name;

    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"), "\"" + folder + "\\Setup.exe\"");
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"), "Tarnwick");
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 9u);
    EXPECT_EQ(valueNames(HKEY_LOCAL_MACHINE, kUninstallKey),
              (std::vector<std::string>{"DisplayName", "ShellIntegrationOptions", "UninstallString"}));

    Shortcut link = readShortcut(sendToLink());
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(link.target, folder + "\\Tarnwick.exe");
    EXPECT_EQ(link.description, "Tarnwick");
    EXPECT_EQ(link.arguments, "");
    EXPECT_FALSE(exists(quickLaunchLink()));

    std::string program = folder + "\\Tarnwick.exe";
    for (const auto& row : newTypeRows())
        EXPECT_EQ(regString(HKEY_CLASSES_ROOT, row.key, row.value), expectedText(row.text, program)) << row.key;
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kFolderVerbKey));
}

TEST_F(FirstInstallation, AllOptionsInAFolderWithoutSpaces) {
    TempDir temp;
    std::string folder = temp / "Tarnwick";
    makeQuickLaunchDir();
    DWORD code = 0;
    auto boxes = installWith(folder, {true, true, true, true}, &code);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Tarnwick setup complete.");
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 15u);
    std::string program = folder + "\\Tarnwick.exe";
    EXPECT_EQ(readShortcut(quickLaunchLink()).target, program);
    EXPECT_EQ(readShortcut(quickLaunchLink()).description, "Tarnwick");
    EXPECT_EQ(readShortcut(sendToLink()).target, program);
    // The program path is quoted even without a blank in it.
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, kFolderVerbKey, ""), "Paste from Tarnwick");
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, std::string(kFolderVerbKey) + "\\command", ""),
              "\"" + program + "\" /PASTE \"%1\"");
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, ".tarnwk\\ShellNew", "Command"), "\"" + program + "\" /PASTE \"%1\"");
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"), "\"" + folder + "\\Setup.exe\"");
}

TEST_F(FirstInstallation, NoOptionsCreatesNoShellEntries) {
    TempDir temp;
    std::string folder = temp / "Tarnwick";
    DWORD code = 0;
    auto boxes = installWith(folder, {false, false, false, false}, &code);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Tarnwick setup complete.");
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 0u);
    EXPECT_FALSE(exists(sendToLink()));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "Tarnwick.Target"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, ".tarnwk"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kFolderVerbKey));
}

TEST_F(FirstInstallation, MissingReadMeRollsBackAndASecondTrySucceeds) {
    TempDir source;
    copySet(source.path(), {"Setup.exe", "Tarnwick.exe", "zlib1.dll"});
    TempDir temp;
    std::string folder = temp / "Tarnwick";

    Process p(setupExe(), {}, source.path());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    setControlText(dialog, kEdit, folder);
    press(dialog, IDOK);
    Box failure = answerBox(p);
    EXPECT_EQ(failure.text, "Error copying file.");
    EXPECT_EQ(failure.icon, "warning");
    EXPECT_FALSE(exists(folder)) << "the three copied files and the folder are rolled back";
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(exists(sendToLink()));
    ASSERT_TRUE(::IsWindowVisible(dialog)) << "the dialog stays open";
    EXPECT_TRUE(p.running());

    // Still a first installation: with the read-me in place it goes through.
    copySet(source.path(), {"ReadMe.txt"});
    press(dialog, IDOK);
    Box done = answerBox(p);
    EXPECT_EQ(done.text, "Tarnwick setup complete.");
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 0u);
    EXPECT_TRUE(exists(folder + "\\ReadMe.txt"));
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 9u);
}

// A roll-back removes only what its attempt created. Here the chosen
// folder existed and ReadMe.txt is missing from the set, so everything in
// the folder afterwards was there before, with its content: the user's own
// files and an earlier ReadMe.txt, the programs of another copy that the
// attempt had already overwritten, or the installation set itself when
// Setup (started from elsewhere) takes the set from the chosen folder.
TEST_F(FirstInstallation, RollBackInAFolderWithOtherFilesKeepsThem) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // in the chosen folder before
        bool chosenIsTheSet;
    } const cases[] = {
        {"a folder with other files", {{"notes.txt", "mine"}, {"ReadMe.txt", "an earlier installation's"}}, false},
        {"another copy's programs",
         {{"Setup.exe", "another Setup"}, {"Tarnwick.exe", "another Tarnwick"}, {"zlib1.dll", "another zlib"}},
         false},
        {"the set's own folder", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir source;
        copySet(source.path(), {"Setup.exe", "Tarnwick.exe", "zlib1.dll"});
        TempDir other;
        for (const auto& file : c.files) writeFile(other / file.first, file.second);
        const std::string& folder = c.chosenIsTheSet ? source.path() : other.path();
        // Name and a digest of the content of every file in the folder.
        auto contents = [&] {
            std::vector<std::string> files;
            for (const std::string& name : listDir(folder))
                files.push_back(name + " " + std::to_string(std::hash<std::string>()(readFile(folder + "\\" + name))));
            return files;
        };
        std::vector<std::string> before = contents();
        const std::vector<std::string> keptBefore = keptAside();

        Process p(setupExe(), {}, source.path());
        HWND dialog = waitDialog(p, kEdit);
        ASSERT_TRUE(dialog);
        setControlText(dialog, kEdit, folder);
        press(dialog, IDOK);
        EXPECT_EQ(answerBox(p).text, "Error copying file.");
        // No second box for the folder that could not be removed.
        EXPECT_FALSE(waitBox(p, 1000));
        EXPECT_EQ(contents(), before);
        for (const auto& file : c.files) EXPECT_EQ(readFile(other / file.first), file.second) << file.first;
        EXPECT_EQ(keptAside(), keptBefore) << "the copies kept aside are put back";
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        press(dialog, IDCANCEL);
        ASSERT_TRUE(p.wait(20000));
        EXPECT_EQ(p.exitCode(), 1u);
    }
}

TEST_F(FirstInstallation, MissingParentFolder) {
    TempDir temp;
    std::string folder = temp / "missing\\Tarnwick";
    Process p(setupExe(), {}, binDir());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    setControlText(dialog, kEdit, folder);
    press(dialog, IDOK);
    Box failure = answerBox(p);
    EXPECT_EQ(failure.text, "Error creating destination folder.");
    EXPECT_EQ(failure.icon, "warning");
    EXPECT_TRUE(listDir(temp.path()).empty());
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(::IsWindowVisible(dialog));
    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
}

TEST_F(FirstInstallation, MissingQuickLaunchFolderKeepsTheInstallation) {
    ASSERT_FALSE(exists(quickLaunchDir()));
    TempDir temp;
    std::string folder = temp / "Tarnwick";
    DWORD code = 0;
    auto boxes = installWith(folder, {true, true, false, true}, &code);
    ASSERT_EQ(boxes.size(), 1u) << "no completion message after the failure";
    EXPECT_EQ(boxes[0].text, "Error creating Quick Launch shortcut.");
    EXPECT_EQ(boxes[0].icon, "warning");
    EXPECT_EQ(code, 0u);
    for (const char* name : kProgramFiles) EXPECT_TRUE(exists(folder + "\\" + name)) << name;
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"), "\"" + folder + "\\Setup.exe\"");
    // The choice is stored before the shortcuts are made; what came before
    // the failure stays, what comes after it is not made.
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 11u);
    EXPECT_TRUE(exists(sendToLink()));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, ".tarnwk"));
}

// Folder names that do not fit are refused whole; nothing is created at a
// shortened path or used as a file name.
TEST_F(FirstInstallation, FolderNamesTooLongAreRefused) {
    TempDir temp;
    // Fits in the buffer, but not with "\Setup.exe" behind it.
    std::string fits = temp.path() + "\\" + std::string(255 - temp.path().size() - 1, 'a');
    ASSERT_EQ(fits.size(), 255u);
    // Longer than the buffer; its first 259 characters name a folder whose
    // parent exists.
    std::string tooLong = temp.path() + "\\" + std::string(300, 'b');

    Process p(setupExe(), {}, binDir());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    for (const std::string& folder : {fits, tooLong}) {
        setControlText(dialog, kEdit, folder);
        press(dialog, IDOK);
        Box failure = answerBox(p);
        EXPECT_EQ(failure.text, "Error creating destination folder.") << folder.size();
        EXPECT_TRUE(listDir(temp.path()).empty()) << folder.size();
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        EXPECT_TRUE(::IsWindowVisible(dialog));
    }
    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
}

// Installing into the very folder Setup was started from: the files are
// already there and must survive.
TEST_F(FirstInstallation, IntoTheFolderItWasStartedFrom) {
    TempDir set;
    copySet(set.path());
    DWORD code = 0;
    auto boxes = installWith(set.path(), {true, false, false, false}, &code, set.path());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Tarnwick setup complete.");
    EXPECT_EQ(code, 0u);
    for (const char* name : kProgramFiles)
        EXPECT_TRUE(sameContent(binDir() + "\\" + name, set / name)) << name;
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"), "\"" + set.path() + "\\Setup.exe\"");
}

TEST_F(FirstInstallation, ExistingFilesAreOverwritten) {
    TempDir temp;
    std::string folder = temp / "Tarnwick";
    makeDir(folder);
    writeFile(folder + "\\ReadMe.txt", "old");
    setAttributes(folder + "\\ReadMe.txt", FILE_ATTRIBUTE_ARCHIVE);
    const std::vector<std::string> keptBefore = keptAside();
    DWORD code = 0;
    auto boxes = installWith(folder, {false, false, false, true}, &code);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Tarnwick setup complete.");
    EXPECT_TRUE(sameContent(binDir() + "\\ReadMe.txt", folder + "\\ReadMe.txt"));
    EXPECT_EQ(keptAside(), keptBefore) << "the old ReadMe.txt kept aside is deleted";
}

// Browse: the chosen folder becomes the parent of the program folder;
// cancelling the picker leaves the edit alone.
TEST_F(FirstInstallation, BrowseCancelKeepsTheFolder) {
    Process p(setupExe(), {}, binDir());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    setControlText(dialog, kEdit, "C:\\Somewhere\\Tarnwick");
    press(dialog, kBrowse);
    // The picker: another visible window of the same process.
    HWND found = nullptr;
    DWORD start = ::GetTickCount();
    while (!found && ::GetTickCount() - start < 20000) {
        found = findTopWindow([&](HWND w) {
            return windowProcess(w) == p.pid() && w != dialog && ::IsWindowVisible(w);
        });
        if (!found) ::Sleep(50);
    }
    ASSERT_TRUE(found) << "no folder picker";
    EXPECT_EQ(::GetWindow(found, GW_OWNER), dialog);
    press(found, IDCANCEL);
    ASSERT_TRUE(waitGone(found));
    EXPECT_EQ(controlText(dialog, kEdit), "C:\\Somewhere\\Tarnwick");
    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
}
