// Setup.exe on an installed system: the maintenance dialog, and
// "Customize..." turning the shell integration off and on.
#include "setup_support.h"

using namespace e2e;
using namespace e2e::setuptest;

namespace {

class Maintenance : public SetupTest {
protected:
    // Installs with the given options into a fresh folder.
    void install(const Options& o) {
        DWORD code = 0;
        auto boxes = installWith(folder(), o, &code);
        ASSERT_EQ(boxes.size(), 1u);
        ASSERT_EQ(boxes[0].text, "Tarnwick setup complete.");
        ASSERT_EQ(code, 0u);
    }
    std::string folder() const { return temp_ / "Tarnwick"; }
    std::string program() const { return folder() + "\\Tarnwick.exe"; }

    // Starts the installed Setup.exe and opens the installation dialog
    // through "Customize...".
    HWND customize(Process& p) {
        HWND maintenance = waitDialog(p, kCustomize);
        if (!maintenance) return nullptr;
        press(maintenance, kCustomize);
        waitGone(maintenance);
        return waitDialog(p, kEdit);
    }

    // Customises to the given options; returns the boxes shown.
    std::vector<Box> customizeTo(const Options& o, DWORD* exitCode) {
        Process p(folder() + "\\Setup.exe", {}, folder());
        HWND dialog = customize(p);
        if (!dialog) throw std::runtime_error("no installation dialog");
        setOptions(dialog, o);
        press(dialog, IDOK);
        std::vector<Box> boxes;
        while (!p.wait(50)) {
            HWND w = waitBox(p, 100);
            if (!w) continue;
            boxes.push_back(readBox(w));
            press(w, IDOK);
            waitGone(w);
            if (::IsWindowVisible(dialog)) break;  // a failure leaves the dialog open
        }
        if (p.running()) {
            press(dialog, IDCANCEL);
            p.wait(20000);
        }
        *exitCode = p.exitCode();
        return boxes;
    }

    bool typeKeysPresent() const {
        for (const auto& row : newTypeRows())
            if (!keyExists(HKEY_CLASSES_ROOT, row.key)) return false;
        return true;
    }
    bool anyTypeKeyPresent() const {
        for (const auto& row : newTypeRows())
            if (keyExists(HKEY_CLASSES_ROOT, row.key)) return true;
        return false;
    }

    TempDir temp_;
};

}  // namespace

TEST_F(Maintenance, CancelAndDeclinedUninstallChangeNothing) {
    install({true, false, false, true});
    Process p(folder() + "\\Setup.exe", {}, folder());
    HWND dialog = waitDialog(p, kCustomize);
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(::GetDlgItem(dialog, kUninstall));
    EXPECT_EQ(controlText(dialog, kCustomize), "Customize...");
    EXPECT_EQ(controlText(dialog, kUninstall), "Uninstall");

    press(dialog, kUninstall);
    HWND question = waitBox(p);
    ASSERT_TRUE(question);
    Box b = readBox(question);
    EXPECT_EQ(b.text, "Are you sure you want to uninstall Tarnwick?");
    EXPECT_EQ(b.icon, "question");
    EXPECT_TRUE(b.has(IDYES) && b.has(IDNO));
    EXPECT_FALSE(b.has(IDCANCEL));
    EXPECT_EQ(::GetWindow(question, GW_OWNER), dialog);
    press(question, IDNO);
    ASSERT_TRUE(waitGone(question));
    EXPECT_TRUE(::IsWindowVisible(dialog)) << "No keeps the maintenance dialog open";

    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
    EXPECT_TRUE(exists(folder() + "\\Setup.exe"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(exists(sendToLink()));
    EXPECT_TRUE(typeKeysPresent());
}

TEST_F(Maintenance, CustomizeShowsTheStoredOptions) {
    install({true, false, false, true});
    struct Case {
        std::optional<DWORD> stored;
        Options shown;
    } const cases[] = {
        {9u, {true, false, false, true}},
        {0xF6u, {false, true, true, false}},  // bits above 3 mean nothing
        {std::nullopt, {false, false, false, false}},
    };
    for (const Case& c : cases) {
        if (c.stored) {
            DWORD value = *c.stored;
            ::SHSetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions", REG_DWORD, &value, 4);
        } else {
            ::SHDeleteValueA(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions");
        }
        Process p(folder() + "\\Setup.exe", {}, folder());
        HWND dialog = customize(p);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(controlText(dialog, kEdit), folder());
        EXPECT_FALSE(enabled(dialog, kEdit));
        EXPECT_FALSE(enabled(dialog, kBrowse));
        EXPECT_EQ(controlText(dialog, IDOK), "OK");
        Options shown = dialogOptions(dialog);
        EXPECT_EQ(shown.sendTo, c.shown.sendTo);
        EXPECT_EQ(shown.quickLaunch, c.shown.quickLaunch);
        EXPECT_EQ(shown.folderVerb, c.shown.folderVerb);
        EXPECT_EQ(shown.newMenu, c.shown.newMenu);
        press(dialog, IDCANCEL);
        ASSERT_TRUE(p.wait(20000));
        EXPECT_EQ(p.exitCode(), 1u);
    }
    // Cancel wrote nothing back.
    EXPECT_FALSE(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"));
}

TEST_F(Maintenance, TurningOptionsOffAndOn) {
    install({true, false, false, true});
    makeQuickLaunchDir();

    // {Send To, New menu} -> {Quick Launch}.
    DWORD code = 0;
    EXPECT_TRUE(customizeTo({false, true, false, false}, &code).empty()) << "no message after a customisation";
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(exists(sendToLink()));
    EXPECT_FALSE(anyTypeKeyPresent());
    EXPECT_EQ(readShortcut(quickLaunchLink()).target, program());
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 2u);

    // {Quick Launch} -> {Send To, folder verb, New menu}.
    EXPECT_TRUE(customizeTo({true, false, true, true}, &code).empty());
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(exists(quickLaunchLink()));
    EXPECT_EQ(readShortcut(sendToLink()).target, program());
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, std::string(kFolderVerbKey) + "\\command", ""),
              "\"" + program() + "\" /PASTE \"%1\"");
    for (const auto& row : newTypeRows())
        EXPECT_EQ(regString(HKEY_CLASSES_ROOT, row.key, row.value), expectedText(row.text, program())) << row.key;
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 13u);

    // Everything off.
    EXPECT_TRUE(customizeTo({false, false, false, false}, &code).empty());
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(exists(sendToLink()));
    EXPECT_FALSE(exists(quickLaunchLink()));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kFolderVerbKey));
    EXPECT_FALSE(anyTypeKeyPresent());
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 0u);
    // The installation itself is untouched.
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"), "\"" + folder() + "\\Setup.exe\"");
}

TEST_F(Maintenance, ShortcutsLeftOnAreKeptAndMissingOnesMadeAgain) {
    install({true, false, true, true});
    // An old write time: a rewrite of the shortcut would show.
    const uint64_t old = 125000000000000000ull;
    setLastWriteTime(sendToLink(), old);
    // The registry groups of options left on are written again.
    ::SHSetValueA(HKEY_CLASSES_ROOT, "Tarnwick.Target", "", REG_SZ, "changed", 8);

    DWORD code = 0;
    EXPECT_TRUE(customizeTo({true, false, true, true}, &code).empty());
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(lastWriteTime(sendToLink()), old) << "the existing shortcut was rewritten";
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, "Tarnwick.Target", ""), "Tarnwick Target");

    // The user deleted the shortcut; the option is still on.
    ASSERT_TRUE(::DeleteFileA(sendToLink().c_str()));
    EXPECT_TRUE(customizeTo({true, false, true, true}, &code).empty());
    EXPECT_EQ(code, 0u);
    Shortcut link = readShortcut(sendToLink());
    EXPECT_TRUE(link.loaded);
    EXPECT_EQ(link.target, program());
    EXPECT_EQ(link.description, "Tarnwick");
}

TEST_F(Maintenance, FolderVerbWithoutItsCommandKeyIsDeletedQuietly) {
    install({false, false, false, false});
    ASSERT_EQ(::SHSetValueA(HKEY_CLASSES_ROOT, kFolderVerbKey, "", REG_SZ, "Paste from Tarnwick", 20), ERROR_SUCCESS);
    ASSERT_FALSE(keyExists(HKEY_CLASSES_ROOT, std::string(kFolderVerbKey) + "\\command"));
    DWORD code = 0;
    EXPECT_TRUE(customizeTo({false, false, false, false}, &code).empty());
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kFolderVerbKey));
}

TEST_F(Maintenance, FailedCustomisationKeepsTheDialogOpen) {
    install({true, false, false, false});
    ASSERT_FALSE(exists(quickLaunchDir()));
    Process p(folder() + "\\Setup.exe", {}, folder());
    HWND dialog = customize(p);
    ASSERT_TRUE(dialog);
    setOptions(dialog, {true, true, false, false});
    press(dialog, IDOK);
    Box failure = answerBox(p);
    EXPECT_EQ(failure.text, "Error creating Quick Launch shortcut.");
    EXPECT_EQ(failure.icon, "warning");
    EXPECT_TRUE(::IsWindowVisible(dialog));
    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
    // The choice was stored before the failure; the installation stays.
    EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions"), 3u);
    EXPECT_TRUE(exists(sendToLink()));
}

// An "UninstallString" that is not a text is no installation: Setup offers
// a first installation instead of reading it as a folder.
TEST_F(Maintenance, UninstallStringOfTheWrongTypeMeansNotInstalled) {
    DWORD bogus = 7;
    ::SHSetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", REG_DWORD, &bogus, 4);
    Process p(setupExe(), {}, binDir());
    HWND dialog = waitDialog(p, kEdit);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(controlText(dialog, IDOK), "Install");
    EXPECT_TRUE(enabled(dialog, kEdit));
    press(dialog, IDCANCEL);
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
}
