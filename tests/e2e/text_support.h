// Two machines (two Wine prefixes, two clipboards) and a channel between
// them that carries only text: the copy runs with /TEXT and /NEXT on the
// other machine, the relay carries each part's text here, and the paste
// runs here, where the harness answers its boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

struct StopOtherMachine : ::testing::Environment {
    void TearDown() override { stopOtherMachine(); }
};
inline const auto* const kStopOtherMachine = ::testing::AddGlobalTestEnvironment(new StopOtherMachine);

// Where each machine keeps its text copies and received parts
// (%TEMP%\Tarnwick): this one, and the other machine's through Z:.
inline std::string transferFolder() {
    char temp[MAX_PATH];
    const DWORD n = ::GetTempPathA(MAX_PATH, temp);
    return std::string(temp, n) + "Tarnwick";
}
inline std::string otherTransferFolder() {
    const std::string bin = TW_BIN_DIR_UNIX;
    char user[256] = "";
    DWORD size = sizeof user;
    EXPECT_TRUE(::GetUserNameA(user, &size));
    std::string path = "Z:" + bin.substr(0, bin.find_last_of('/')) + "/wine-other-machine/drive_c/users/" + user +
                       "/Temp/Tarnwick";
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
}
// The folders of received copies ("in-<id>") in a transfer folder.
inline size_t keptCopies(const std::string& folder) {
    size_t n = 0;
    for (const std::string& name : listDir(folder)) n += name.compare(0, 3, "in-") == 0;
    return n;
}

// Every entry beneath a folder: relative path, then size, content hash,
// last-write time and the attribute bits a paste restores.
inline std::map<std::string, std::string> treeOf(const std::string& folder, const std::string& prefix = "") {
    std::map<std::string, std::string> tree;
    for (const std::string& name : listDir(folder)) {
        const std::string path = folder + "\\" + name, key = prefix + name;
        char facts[96];
        if (isDir(path)) {
            std::snprintf(facts, sizeof facts, "folder %lx", attributes(path) & 0x27ul);
            auto inner = treeOf(path, key + "\\");
            tree.insert(inner.begin(), inner.end());
        } else {
            const std::string content = readFile(path);
            std::snprintf(facts, sizeof facts, "%zu %zx %llx %lx", content.size(), std::hash<std::string>()(content),
                          (unsigned long long)lastWriteTime(path), attributes(path) & 0x27ul);
        }
        tree[key] = facts;
    }
    return tree;
}

class TextTransfer : public ::testing::Test {
protected:
    // A small tree with nested folders, an empty file, times and attributes.
    virtual void makeSource() {
        makeDir(source);
        makeDir(source + "\\deep");
        makeDir(source + "\\deep\\er");
        writeFile(source + "\\words.txt", repeatedText(20000));
        writeFile(source + "\\deep\\noise.bin", randomBytes(24000, 4));
        writeFile(source + "\\deep\\er\\empty", "");
        // Its exact name travels in the text beside the block.
        writeFile(source + u8"\\deep\\Отчёт.txt", "report");
        setLastWriteTime(source + "\\deep\\noise.bin", 0x01D0123456789ABCull);
        setAttributes(source + "\\words.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    }
    void SetUp() override {
        // What earlier tests kept on either machine plays no part.
        removeTree(transferFolder());
        removeTree(otherTransferFolder());
        makeSource();
        makeDir(dest);
    }

    // On the other machine: the copy, then the text it placed. copied holds
    // the last run there (the copy or a /NEXT).
    std::string copyAsText(const std::string& size, const std::string& exe = tarnwickExe()) {
        copied = runOnOtherMachine(exe, {"/TEXT" + size, sharedPath(source)});
        EXPECT_EQ(copied.exitCode, 0u) << copied.out << copied.err;
        unsigned n = 1;
        for (const std::string& line : copied.lines) std::sscanf(line.c_str(), "The copy is %u parts of text.", &n);
        partsOfCopy = n;
        return takeText();
    }
    // The number of parts the last copy said it made (1 when it said nothing).
    size_t partCount() const { return partsOfCopy; }
    std::vector<std::string> copyAllParts(const std::string& size, const std::string& exe = tarnwickExe()) {
        std::vector<std::string> parts = {copyAsText(size, exe)};
        while (parts.size() < partCount()) parts.push_back(next(exe));
        return parts;
    }
    std::string next(const std::string& exe = tarnwickExe()) {
        copied = runOnOtherMachine(exe, {"/NEXT"});
        EXPECT_EQ(copied.exitCode, 0u) << copied.out << copied.err;
        return takeText();
    }
    std::string takeText() {
        const std::string file = sharedPath(tmp / ("part" + std::to_string(++taken)));
        EXPECT_EQ(runOnOtherMachine(testsDir() + "\\relay.exe", {"get", file}).exitCode, 0u);
        return file;
    }
    // Onto this machine's clipboard, as the channel lets it through.
    void carry(const std::string& file, size_t cap = 0, const char* lineEnds = "lf") {
        RunResult r = run(testsDir() + "\\relay.exe", {"put", file, std::to_string(cap), lineEnds});
        ASSERT_EQ(r.exitCode, 0u);
    }
    RunResult paste(const char* command = "/FORCEPASTE") { return runTarnwick({command, dest}); }
    void expectArrived() { EXPECT_EQ(treeOf(dest + "\\tree"), treeOf(source)); }

    TempDir tmp;
    const std::string source = tmp / "tree", dest = tmp / "dest";
    RunResult copied;
    size_t partsOfCopy = 0;
    int taken = 0;
};

}  // namespace e2e
