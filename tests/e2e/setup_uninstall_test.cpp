// Setup.exe uninstalling: the whole way through the maintenance dialog and
// the temporary copy, the failures on the way, and the self-removal run
// started by hand.
#include <atomic>
#include <thread>

#include "setup_support.h"

using namespace e2e;
using namespace e2e::setuptest;

namespace {

class Uninstall : public SetupTest {
protected:
    void TearDown() override {
        ::SetFileAttributesA(tempCopy().c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(tempCopy().c_str());
        SetupTest::TearDown();
    }
};

// Runs Setup.exe by hand with a raw command-line tail and answers its boxes.
struct HandRun {
    std::vector<Box> boxes;
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};
HandRun runByHand(const std::string& tail, const std::string& cwd = "") {
    HandRun r;
    DWORD start = ::GetTickCount();
    auto p = Process::raw(setupExe(), quoteArgument(setupExe()) + " " + tail, cwd);
    while (!p->wait(50) && ::GetTickCount() - start < 60000) {
        HWND w = waitBox(*p, 100);
        if (!w) continue;
        r.boxes.push_back(readBox(w));
        press(w, IDOK);
        waitGone(w);
    }
    r.elapsedMs = ::GetTickCount() - start;
    r.exitCode = p->exitCode();
    return r;
}

// How long a run by hand takes that deletes nothing and shows one box:
// start-up and answering under Wine, to compare the retry pauses with.
DWORD baselineMs() {
    TempDir temp;
    return runByHand(temp / "gone").elapsedMs;
}

std::string notRemoved(const std::string& folder) {
    return "The Tarnwick program files in '" + folder + "' could not be removed. Please delete them manually.";
}

std::string shortPath(const std::string& path) {
    char s[MAX_PATH] = "";
    ::GetShortPathNameA(path.c_str(), s, MAX_PATH);
    return s;
}

// Installs through the real dialog, then starts the installed Setup.exe
// from inside its folder and confirms "Uninstall". Returns the first
// process (ended or not).
std::unique_ptr<Process> confirmUninstall(const std::string& folder);
std::unique_ptr<Process> startUninstall(const std::string& folder, const Options& o) {
    DWORD code = 0;
    auto boxes = installWith(folder, o, &code);
    if (boxes.size() != 1 || code != 0) throw std::runtime_error("installation failed");
    return confirmUninstall(folder);
}

// Starts the installed Setup.exe and confirms "Uninstall".
std::unique_ptr<Process> confirmUninstall(const std::string& folder) {
    // No captured output: under Wine the temporary copy gets this process's
    // standard handles even though Setup does not let it inherit any, and
    // an open pipe would keep the harness waiting for the copy to end.
    auto p = std::make_unique<Process>(folder + "\\Setup.exe", std::vector<std::string>{}, folder, false);
    HWND dialog = waitDialog(*p, kCustomize);
    if (!dialog) throw std::runtime_error("no maintenance dialog");
    press(dialog, kUninstall);
    Box question = answerBox(*p, IDYES);
    if (question.text != "Are you sure you want to uninstall Tarnwick?") throw std::runtime_error("no question");
    return p;
}

// Waits for the temporary copy's last box, answers it and its end; the
// box's text, or "" when none came.
std::string finishRemoval(const Process& first) {
    ForeignBox box = waitForAnyMessageBox(kCaption, first.pid(), 30000);
    if (!box.hwnd) return "";
    std::string text = readBox(box.hwnd).text;
    HANDLE copy = ::OpenProcess(SYNCHRONIZE, FALSE, box.pid);
    press(box.hwnd, IDOK);
    if (copy) {
        ::WaitForSingleObject(copy, 20000);
        ::CloseHandle(copy);
    }
    return text;
}

// Uninstall confirmed in the maintenance dialog: the folder and every
// all-users key are gone.
void uninstallFrom(const std::string& folder) {
    auto first = confirmUninstall(folder);
    ASSERT_TRUE(first->wait(20000));
    EXPECT_EQ(first->exitCode(), 0u);
    EXPECT_EQ(finishRemoval(*first), "Tarnwick uninstalled.");
    EXPECT_FALSE(exists(folder));
    EXPECT_FALSE(anyKeyAt(forAllUsers()));
}

}  // namespace

// Installed for all users or for the current user alone, in folders named in
// any script, through the maintenance start and a customisation to the
// uninstallation: each kind's keys where they belong and nowhere else, and
// nothing left at the end.
TEST_F(Uninstall, EveryKindOfInstallationFromInstallToNothingLeft) {
    struct Row {
        const char* name;
        bool justMe;
        const char* folder;
    } const rows[] = {
        {"for the current user", true, "Program Files\\Tarnwick"},
        {"Cyrillic folder, for all users", false, "Отчёт за год\\Tarnwick"},
        // Sinhala: a script that no ANSI code page holds.
        {"Sinhala folder, for the current user", true, "සිංහල\\Tarnwick"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        cleanMachine();
        TempDir temp;
        const std::string folder = temp / r.folder;
        makeDir(folder.substr(0, folder.rfind('\\')));
        makeQuickLaunchDir();
        const Place mine = r.justMe ? forCurrentUser() : forAllUsers();
        const Place other = r.justMe ? machineOnly() : forCurrentUser();
        const std::string program = folder + "\\Tarnwick.exe";

        DWORD code = 1;
        auto boxes = installWith(folder, {true, true, true, true}, &code, binDir(), r.justMe);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Tarnwick setup complete.");
        EXPECT_EQ(code, 0u);
        for (const char* name : kProgramFiles)
            EXPECT_TRUE(sameContent(binDir() + "\\" + name, folder + "\\" + name)) << name;
        EXPECT_EQ(regString(mine.root, kUninstallKey, "UninstallString"), "\"" + folder + "\\Setup.exe\"");
        EXPECT_EQ(regString(mine.root, kUninstallKey, "DisplayName"), "Tarnwick");
        EXPECT_EQ(regDword(mine.root, kUninstallKey, "ShellIntegrationOptions"), 15u);
        EXPECT_EQ(regString(mine.classes, mine.key(kFolderVerbKey), ""), "Paste from Tarnwick");
        EXPECT_EQ(regString(mine.classes, mine.key(kFolderVerbKey) + "\\command", ""),
                  "\"" + program + "\" /PASTE \"%1\"");
        for (const auto& row : newTypeRows())
            EXPECT_EQ(regString(mine.classes, mine.key(row.key), row.value), expectedText(row.text, program))
                << row.key;
        EXPECT_FALSE(anyKeyAt(other));
        EXPECT_EQ(readShortcut(sendToLink()).target, program);
        EXPECT_EQ(readShortcut(quickLaunchLink()).target, program);

        {
            // The maintenance start finds it and shows whom it serves, fixed.
            Process p(folder + "\\Setup.exe", {}, folder);
            HWND maintenance = waitDialog(p, kCustomize);
            ASSERT_TRUE(maintenance);
            press(maintenance, kCustomize);
            waitGone(maintenance);
            HWND dialog = waitDialog(p, kEdit);
            ASSERT_TRUE(dialog);
            EXPECT_EQ(controlText(dialog, kEdit), folder);
            EXPECT_EQ(checked(dialog, kJustMe), r.justMe);
            EXPECT_EQ(checked(dialog, kAllUsers), !r.justMe);
            EXPECT_FALSE(enabled(dialog, kJustMe));
            EXPECT_FALSE(enabled(dialog, kAllUsers));
            EXPECT_EQ(dialogOptions(dialog).folderVerb, true);
            setChecked(dialog, kFolderVerb, false);
            press(dialog, IDOK);
            ASSERT_TRUE(p.wait(20000));
            EXPECT_EQ(p.exitCode(), 0u);
        }
        EXPECT_EQ(regDword(mine.root, kUninstallKey, "ShellIntegrationOptions"), 11u);
        EXPECT_FALSE(keyExists(mine.classes, mine.key(kFolderVerbKey)));
        EXPECT_TRUE(keyExists(mine.classes, mine.key(".tarnwk")));
        EXPECT_FALSE(anyKeyAt(other));

        uninstallFrom(folder);
        EXPECT_FALSE(anyKeyAt(forCurrentUser()));
        EXPECT_FALSE(exists(sendToLink()));
        EXPECT_FALSE(exists(quickLaunchLink()));
        ::DeleteFileA(tempCopy().c_str());
    }
}

// A copy installed by the earlier Setup, which wrote its values through the
// ANSI API in the system's code page, is found and uninstalled.
TEST_F(Uninstall, AnInstallationByTheEarlierSetup) {
    TempDir temp;
    const std::string folder = temp / "Caf\xC3\xA9 Tools";  // "é" is in the code page of the test's locale
    makeDir(folder);
    copySet(folder);
    auto ansi = [](const std::string& utf8) {
        std::wstring wide = widen(utf8);
        std::string text(wide.size() * 2 + 1, '\0');
        int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &text[0], int(text.size()), nullptr, nullptr);
        text.resize(n > 0 ? n - 1 : 0);
        return text;
    };
    auto setText = [&](HKEY root, const std::string& key, const char* value, const std::string& utf8) {
        std::string text = ansi(utf8);
        ASSERT_EQ(::SHSetValueA(root, key.c_str(), value, REG_SZ, text.c_str(), DWORD(text.size() + 1)),
                  ERROR_SUCCESS);
    };
    ASSERT_EQ(ansi(folder).find('?'), std::string::npos);
    const std::string program = folder + "\\Tarnwick.exe";
    setText(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", "Tarnwick");
    setText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", "\"" + folder + "\\Setup.exe\"");
    DWORD bits = 12;
    ASSERT_EQ(::SHSetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, "ShellIntegrationOptions", REG_DWORD, &bits,
                            sizeof bits),
              ERROR_SUCCESS);
    setText(HKEY_CLASSES_ROOT, kFolderVerbKey, "", "Paste from Tarnwick");
    setText(HKEY_CLASSES_ROOT, std::string(kFolderVerbKey) + "\\command", "", "\"" + program + "\" /PASTE \"%1\"");
    for (const auto& row : newTypeRows()) setText(HKEY_CLASSES_ROOT, row.key, row.value, expectedText(row.text, program));

    uninstallFrom(folder);
}

TEST_F(Uninstall, EndToEnd) {
    TempDir temp;
    makeDir(temp / "Program Files");
    std::string folder = temp / "Program Files\\Tarnwick";
    makeQuickLaunchDir();
    auto first = startUninstall(folder, {true, true, true, true});
    ASSERT_TRUE(first->wait(20000));
    EXPECT_EQ(first->exitCode(), 0u);

    // The copy in the temp folder, another process, reports the outcome.
    ForeignBox box = waitForAnyMessageBox(kCaption, first->pid(), 30000);
    ASSERT_TRUE(box.hwnd) << "no box from the temporary copy";
    Box done = readBox(box.hwnd);
    EXPECT_EQ(done.text, "Tarnwick uninstalled.");
    EXPECT_EQ(done.icon, "information");
    EXPECT_EQ(::GetWindow(box.hwnd, GW_OWNER), nullptr);
    HANDLE copy = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, box.pid);
    ASSERT_TRUE(copy);
    std::string copyPath = tempCopy();
    std::string program = copyPath.find(' ') == std::string::npos ? copyPath : "\"" + copyPath + "\"";
    EXPECT_EQ(processCommandLine(copy), program + " \"" + folder + "\"");

    // All gone by the time the box shows.
    EXPECT_FALSE(exists(folder));
    EXPECT_TRUE(isDir(temp / "Program Files"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(exists(sendToLink()));
    EXPECT_FALSE(exists(quickLaunchLink()));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kFolderVerbKey));
    for (const auto& row : newTypeRows()) EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, row.key)) << row.key;

    press(box.hwnd, IDOK);
    ASSERT_EQ(::WaitForSingleObject(copy, 20000), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(copy, &code);
    ::CloseHandle(copy);
    EXPECT_EQ(code, 0u);

    // The copy stays until the next start of the system, which deletes it.
    EXPECT_TRUE(exists(copyPath));
    EXPECT_EQ(::lstrcmpiA(wininitEntry().c_str(), shortPath(copyPath).c_str()), 0)
        << wininitEntry() << " vs " << shortPath(copyPath);
}

TEST_F(Uninstall, TemporaryCopyCannotBeMade) {
    TempDir temp;
    std::string folder = temp / "Tarnwick";
    writeFile(tempCopy(), "in use");
    FileLock inUse(tempCopy());
    auto first = startUninstall(folder, {true, false, false, true});
    Box failure = answerBox(*first);
    EXPECT_EQ(failure.text, "Error creating temporary file for removing program files.");
    EXPECT_EQ(failure.icon, "warning");
    EXPECT_EQ(::GetWindow(failure.hwnd, GW_OWNER), nullptr);
    Box warning = answerBox(*first);
    EXPECT_EQ(warning.text, notRemoved(folder));
    EXPECT_EQ(warning.icon, "warning");
    ASSERT_TRUE(first->wait(20000));
    EXPECT_EQ(first->exitCode(), 1u);
    // Unregistered, but the files are still there.
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(exists(sendToLink()));
    EXPECT_TRUE(exists(folder + "\\Tarnwick.exe"));
}

TEST_F(Uninstall, ShortcutThatCannotBeDeletedStopsEarly) {
    TempDir temp;
    std::string folder = temp / "Tarnwick";
    DWORD code = 0;
    ASSERT_EQ(installWith(folder, {true, false, false, true}, &code).size(), 1u);
    FileLock inUse(sendToLink());
    Process p(folder + "\\Setup.exe", {}, folder);
    HWND dialog = waitDialog(p, kCustomize);
    ASSERT_TRUE(dialog);
    press(dialog, kUninstall);
    answerBox(p, IDYES);
    Box failure = answerBox(p);
    EXPECT_EQ(failure.text, "Error removing shortcut.");
    EXPECT_EQ(failure.icon, "warning");
    EXPECT_FALSE(waitBox(p, 1000)) << "no could-not-be-removed warning before unregistering";
    ASSERT_TRUE(p.wait(20000));
    EXPECT_EQ(p.exitCode(), 1u);
    EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"), "\"" + folder + "\\Setup.exe\"");
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, ".tarnwk"));
    EXPECT_TRUE(exists(folder + "\\Setup.exe"));
}

// ---- the self-removal run, started by hand ------------------------------------

TEST_F(Uninstall, ByHandDeletesTheFourFilesAndTheFolderOnly) {
    // An installation elsewhere, which a run by hand must not touch.
    ::SHSetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", REG_SZ, "\"C:\\x\\Setup.exe\"", 17);
    ::SHSetValueA(HKEY_CLASSES_ROOT, ".tarnwk", "", REG_SZ, "Tarnwick.Target", 16);
    writeFile(sendToLink(), "link");

    TempDir temp;
    std::string folder = temp / "Tarnwick files";
    makeDir(folder);
    copySet(folder);
    setAttributes(folder + "\\ReadMe.txt", FILE_ATTRIBUTE_READONLY);
    HandRun r = runByHand(quoteArgument(folder));
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Tarnwick uninstalled.");
    EXPECT_EQ(r.boxes[0].icon, "information");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_FALSE(exists(folder));
    EXPECT_TRUE(listDir(temp.path()).empty());

    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, ".tarnwk"));
    EXPECT_TRUE(exists(sendToLink()));
}

TEST_F(Uninstall, UserFileInTheProgramFolder) {
    TempDir folder;
    copySet(folder.path());
    writeFile(folder / "mine.txt", "keep me");
    HandRun r = runByHand(folder.path());
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, "Error removing directory.");
    EXPECT_EQ(r.boxes[0].icon, "warning");
    EXPECT_EQ(r.boxes[1].text, notRemoved(folder.path()));
    EXPECT_EQ(r.boxes[1].icon, "warning");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(listDir(folder.path()), std::vector<std::string>{"mine.txt"});
    EXPECT_EQ(readFile(folder / "mine.txt"), "keep me");
}

TEST_F(Uninstall, FolderArgumentForms) {
    TempDir temp;
    struct Case {
        const char* what;
        std::string tail;  // after the program name
        std::string cwd;
        std::string removed;
    };
    makeDir(temp / "a b");
    makeDir(temp / "word");
    makeDir(temp / "inside");
    const Case cases[] = {
        {"quoted, with a blank", "\"" + (temp / "a b") + "\"", "", temp / "a b"},
        {"a stray word, relative to the current folder", "word", temp.path(), temp / "word"},
        {"the current folder itself", ".", temp / "inside", temp / "inside"},
        {"a folder that is already gone", temp / "gone", "", ""},
    };
    for (const Case& c : cases) {
        if (!c.removed.empty()) copySet(c.removed);
        HandRun r = runByHand(c.tail, c.cwd);
        ASSERT_EQ(r.boxes.size(), 1u) << c.what;
        EXPECT_EQ(r.boxes[0].text, "Tarnwick uninstalled.") << c.what;
        EXPECT_EQ(r.exitCode, 0u) << c.what;
        if (!c.removed.empty()) {
            EXPECT_FALSE(exists(c.removed)) << c.what;
        }
    }
    EXPECT_TRUE(listDir(temp.path()).empty());
}

// A tail that does not fit the folder buffer is refused whole. Its first 259
// characters here name the very folder that holds the files (the folder
// followed by "\." steps), so cutting it short would delete them.
TEST_F(Uninstall, TailLongerThanTheFolderBuffer) {
    TempDir folder;
    copySet(folder.path());
    std::string tail = folder.path();
    while (tail.size() < 259) tail += "\\.";
    tail += "\\" + std::string(40, 'z');
    ASSERT_GT(tail.size(), 259u);
    HandRun r = runByHand(tail);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, notRemoved(tail));
    EXPECT_EQ(r.boxes[0].icon, "warning");
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(listDir(folder.path()).size(), 4u);
}

// A folder that fits the buffer but cannot take a file name behind it is
// refused at once: no file name is joined to it, nothing is deleted, and
// the folder itself is never taken for a file and retried.
TEST_F(Uninstall, FolderTooLongToHoldTheFileNames) {
    TempDir temp;
    std::string folder = temp.path() + "\\" + std::string(255 - temp.path().size() - 1, 'f');
    ASSERT_EQ(folder.size(), 255u);
    makeDir(folder);
    DWORD baseline = baselineMs();
    HandRun r = runByHand(folder);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, "Error deleting file.");
    EXPECT_EQ(r.boxes[1].text, notRemoved(folder));
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_TRUE(isDir(folder));
    EXPECT_LT(r.elapsedMs, baseline + 3000) << "the folder was retried as if it were a locked file";
}

// A locked file is retried every half second, ten times at most: a lock
// that goes away in time is waited out, one that stays ends the run. Each
// attempt first clears the file's attributes: the file is marked hidden,
// and marked again each time an attempt has cleared the mark, so that the
// attempts can be counted.
namespace {

// Counts Setup's attempts at a locked file while run() goes on; calls
// enough() with each count and stops watching when it returns true.
int countAttempts(const std::string& locked, const std::function<void()>& run,
                  const std::function<bool(int)>& enough) {
    setAttributes(locked, FILE_ATTRIBUTE_HIDDEN);
    std::atomic<int> attempts{0};
    std::atomic<bool> ended{false};
    auto tried = [&] {
        DWORD a = attributes(locked);
        if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_HIDDEN)) return false;
        setAttributes(locked, FILE_ATTRIBUTE_HIDDEN);
        return true;
    };
    std::thread watcher([&] {
        while (!ended && !enough(attempts)) {
            if (tried()) ++attempts;
            ::Sleep(5);
        }
    });
    run();
    ended = true;
    watcher.join();
    // The last attempt may come after the watcher's last look.
    if (!enough(attempts) && tried()) ++attempts;
    return attempts;
}

}  // namespace

TEST_F(Uninstall, LockedFilesAreRetried) {
    {
        // Released once Setup has tried the locked file and tried it again,
        // that is, waited instead of giving up.
        TempDir folder;
        copySet(folder.path());
        const std::string locked = folder / "zlib1.dll";
        auto lock = std::make_unique<FileLock>(locked);
        HandRun r;
        const int attempts = countAttempts(
            locked, [&] { r = runByHand(folder.path()); },
            [&](int n) {
                if (n < 2) return false;
                lock.reset();
                return true;
            });
        EXPECT_EQ(attempts, 2) << "the locked file was not tried again";
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, "Tarnwick uninstalled.");
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_FALSE(exists(folder.path()));
    }
    {
        // Never released: ten attempts, then the run ends.
        TempDir folder;
        copySet(folder.path());
        const std::string locked = folder / "zlib1.dll";
        FileLock lock(locked);
        HandRun r;
        const int attempts = countAttempts(
            locked, [&] { r = runByHand(folder.path()); }, [](int) { return false; });
        EXPECT_EQ(attempts, 10);
        ASSERT_EQ(r.boxes.size(), 2u);
        EXPECT_EQ(r.boxes[0].text, "Error deleting file.");
        EXPECT_EQ(r.boxes[1].text, notRemoved(folder.path()));
        EXPECT_EQ(r.exitCode, 1u);
        // In order: the two before it went, the one after it was not tried.
        EXPECT_EQ(listDir(folder.path()), (std::vector<std::string>{"ReadMe.txt", "zlib1.dll"}));
    }
}
