// /SELF: the scripts it places, run by a real PowerShell (pwsh on Linux,
// started from this Wine process) in a fresh folder, as the far side runs
// them: the files they write are the build's, byte for byte, whatever the
// order and whatever the channel did to line ends and trailing blanks; a
// script cut, changed or of another set writes nothing; a different
// Tarnwick.exe already there stays.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "harness.h"
#include "hands_free_support.h"

namespace e2e {
namespace {

const char* const kFiles[] = {"Tarnwick.exe", "zlib1.dll", "ReadMe.txt"};

std::string base64Utf16(const std::string& text) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = uint8_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[v & 63] : '=';
    }
    return out;
}

// Lines as a channel that turns CR LF into LF, drops trailing blanks and
// the final line end leaves them.
std::string flattened(const std::string& script) {
    std::string out;
    size_t start = 0;
    while (start < script.size()) {
        size_t end = script.find('\n', start);
        if (end == std::string::npos) end = script.size();
        std::string line = script.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (!out.empty()) out += '\n';
        out += line;
        start = end + 1;
    }
    return out;
}

class Self : public TextTransfer {
protected:
    void SetUp() override {
#ifndef TW_PWSH_UNIX
        GTEST_SKIP() << "pwsh is not installed (scripts/install-deps.sh installs it where dotnet is): "
                        "the scripts /SELF places are not run";
#endif
        TextTransfer::SetUp();
        folder = tmp / "far";
        makeDir(folder);
        farTemp = tmp / "far-temp";
        makeDir(farTemp);
    }

    // Runs PowerShell from a Linux shell: Wine does not wait for a Linux
    // program it starts itself, nor hand it a pipe.
    std::string pwsh(const std::string& command) {
#ifdef TW_PWSH_UNIX
        const std::string job = tmp / ("pwsh-" + std::to_string(++scripts));
        makeDir(job);
        writeFile(job + "\\run.sh", std::string("'") + TW_PWSH_UNIX +
                                         "' -NoProfile -NonInteractive -OutputFormat Text -EncodedCommand " +
                                         base64Utf16(command) + " >'" + unixPath(job + "\\out") +
                                         "' 2>&1 </dev/null\necho $? >'" + unixPath(job + "\\rc.tmp") + "' && mv '" +
                                         unixPath(job + "\\rc.tmp") + "' '" + unixPath(job + "\\rc") + "'\n");
        Process shell("Z:\\bin\\sh", {unixPath(job + "\\run.sh")}, "", false);
        EXPECT_TRUE(waitFor([&] { return exists(job + "\\rc"); }, 300000)) << command;
        return exists(job + "\\out") ? readFile(job + "\\out") : "";
#else
        (void)command;
        return "";
#endif
    }
    std::string saved(const std::string& text) {
        const std::string file = tmp / ("script-" + std::to_string(++scripts) + ".ps1");
        writeFile(file, text);
        return unixPath(file);
    }

    // Runs a script text as `Get-Clipboard -Raw | iex` would, in the folder.
    std::string runScript(const std::string& text, const std::string& in, const std::string& before = "") {
        return pwsh(before + "$env:TEMP = '" + unixPath(farTemp) + "'; Set-Location -LiteralPath '" + unixPath(in) +
                    "'; Get-Content -Raw -LiteralPath '" + saved(text) + "' | iex");
    }

    // The scripts of a set: /SELF places the first, /NEXT the others.
    std::vector<std::string> placeSet(const std::string& exe, const std::string& size, std::string* fingerprint = nullptr) {
        RunResult r = run(exe, {size});
        EXPECT_EQ(r.exitCode, 0u) << r.out;
        expectKeptOutOfHistory("/SELF");
        std::vector<std::string> scripts{getClipboardText().value_or("")};
        unsigned count = 0;
        const size_t at = r.out.find("Tarnwick as ");
        EXPECT_NE(at, std::string::npos) << r.out;
        std::sscanf(r.out.c_str() + at, "Tarnwick as %u", &count);
        const size_t print = r.out.find("fingerprint ");
        if (fingerprint && print != std::string::npos) *fingerprint = r.out.substr(print + 12, 14);
        for (unsigned n = 2; n <= count; ++n) {
            RunResult next = run(exe, {"/NEXT"});
            EXPECT_EQ(next.exitCode, 0u) << next.out;
            EXPECT_TRUE(contains(next.out, "Placed script " + std::to_string(n) + " of " + std::to_string(count)))
                << next.out;
            scripts.push_back(getClipboardText().value_or(""));
        }
        return scripts;
    }

    void expectWritten(const std::string& in) {
        for (const char* name : kFiles) EXPECT_EQ(readFile(in + "\\" + name), readFile(binDir() + "\\" + name)) << name;
    }
    void expectNothingWritten(const std::string& what) {
        EXPECT_TRUE(listDir(folder).empty()) << what;
    }
    size_t piecesKept() {
        size_t n = 0;
        const std::string root = farTemp + "\\TarnwickSelf";
        if (!isDir(root)) return 0;
        for (const std::string& set : listDir(root)) n += listDir(root + "\\" + set).size();
        return n;
    }

    std::string folder, farTemp;
    unsigned scripts = 0;
};

TEST_F(Self, OneScriptWritesTheBuildAndSaysWhatNext) {
    std::string fingerprint;
    const std::vector<std::string> set = placeSet(tarnwickExe(), "/SELF", &fingerprint);
    ASSERT_EQ(set.size(), 1u);
    const std::string& script = set[0];
    // The header names the files, their hashes and the fingerprint /SELF printed.
    const std::string header = script.substr(0, script.find("\n$set"));
    for (const char* name : kFiles) EXPECT_TRUE(contains(header, std::string("#   ") + name)) << header;
    EXPECT_EQ(countOf(header, "SHA-256 "), 5u) << header;  // three files, the set, the piece
    EXPECT_TRUE(contains(header, "Fingerprint of Tarnwick.exe: " + fingerprint)) << header;
    EXPECT_TRUE(contains(header, "Get-Clipboard -Raw | iex")) << header;

    // Windows PowerShell 5.1 reads it: no syntax that only PowerShell 7 has,
    // and no command but the four that every version has and its own.
    const std::string lint = pwsh(
        "$ast = [Management.Automation.Language.Parser]::ParseInput((Get-Content -Raw -LiteralPath '" + saved(script) +
        "'), [ref]$null, [ref]$null);"
        "$newer = $ast.FindAll({ param($n) $n.GetType().Name -in 'TernaryExpressionAst', 'PipelineChainAst' -or "
        "('BinaryExpressionAst', 'AssignmentStatementAst' -contains $n.GetType().Name -and \"$($n.Operator)\" -like 'QuestionQuestion*') -or "
        "('MemberExpressionAst', 'InvokeMemberExpressionAst', 'IndexExpressionAst' -contains $n.GetType().Name -and $n.NullConditional) }, $true);"
        "$own = @($ast.FindAll({ param($n) $n.GetType().Name -eq 'FunctionDefinitionAst' }, $true) | ForEach-Object { $_.Name });"
        "$known = @('Write-Host', 'ForEach-Object', 'Where-Object', 'New-Object') + $own;"
        "$other = @($ast.FindAll({ param($n) $n.GetType().Name -eq 'CommandAst' }, $true) | ForEach-Object { $_.GetCommandName() } | "
        "Where-Object { $known -notcontains $_ });"
        "Write-Host \"newer syntax: $($newer.Count); other commands: $($other -join ',')\"");
    EXPECT_TRUE(contains(lint, "newer syntax: 0; other commands: \n")) << lint;

    const std::string out = runScript(script, folder);
    expectWritten(folder);
    EXPECT_TRUE(contains(out, "Next: .\\Tarnwick.exe /RECEIVE <folder>")) << out;
    EXPECT_EQ(piecesKept(), 0u);
    // Run again: nothing to do, nothing else written.
    EXPECT_TRUE(contains(runScript(script, folder), "already written")) << out;
    EXPECT_EQ(listDir(folder).size(), 3u);

    // A different Tarnwick.exe already there stays; the set goes beside it.
    const std::string other = tmp / "other";
    makeDir(other);
    writeFile(other + "\\Tarnwick.exe", std::string("another program"));
    const std::string beside = runScript(flattened(script), other);
    EXPECT_EQ(readFile(other + "\\Tarnwick.exe"), "another program");
    EXPECT_TRUE(contains(beside, "holds a different Tarnwick.exe")) << beside;
    expectWritten(other + "\\Tarnwick-" + fingerprint);
    EXPECT_TRUE(contains(beside, "Next: .\\Tarnwick-" + fingerprint + "\\Tarnwick.exe /RECEIVE")) << beside;

    // Constrained Language Mode: one plain line, nothing written.
    removeTree(folder);
    makeDir(folder);
    const std::string constrained =
        runScript(script, folder, "$ExecutionContext.SessionState.LanguageMode = 'ConstrainedLanguage'; ");
    EXPECT_TRUE(contains(constrained, "Constrained Language Mode")) << constrained;
    expectNothingWritten("constrained");
}

// End to end: the program the script wrote receives a tree that the
// build's /SEND places on another machine, through a text-only channel.
TEST_F(Self, TheWrittenProgramReceivesATreeSentByTheBuild) {
    const std::vector<std::string> set = placeSet(tarnwickExe(), "/SELF");
    ASSERT_EQ(set.size(), 1u);
    runScript(set[0], folder);
    const std::string written = folder + "\\Tarnwick.exe";
    ASSERT_TRUE(exists(written));
    Channel channel(tmp, 0, "lf", 0, false);
    Process receiver(written, {"/FORCERECEIVE", dest});
    ASSERT_TRUE(waitFor([&] { return contains(receiver.output(), "Waiting for Tarnwick parts"); })) << receiver.output();
    OtherMachineProcess sender(tarnwickExe(), {"/SEND:8K", sharedPath(source)});
    ASSERT_TRUE(receiver.wait(600000)) << receiver.output();
    EXPECT_EQ(receiver.exitCode(), 0u) << receiver.output();
    EXPECT_TRUE(contains(receiver.output(), "Done.\n")) << receiver.output();
    ASSERT_TRUE(sender.wait(120000)) << sender.output();
    expectArrived();
}

TEST_F(Self, PiecesInAnyOrderTwiceAndThroughAFlatteningChannel) {
    // /NEXT follows whichever of a text copy and /SELF came last.
    const std::string note = tmp / "note.bin";
    writeFile(note, randomBytes(30000, 3));
    ASSERT_EQ(runTarnwick({"/TEXT:8K", note}).exitCode, 0u);
    const std::vector<std::string> set = placeSet(tarnwickExe(), "/SELF:200K");
    ASSERT_GE(set.size(), 2u);
    ASSERT_EQ(runTarnwick({"/TEXT:8K", note}).exitCode, 0u);
    const RunResult part = runTarnwick({"/NEXT"});
    EXPECT_TRUE(contains(part.out, "Part 2 of ")) << part.out;
    ASSERT_EQ(runTarnwick({"/SELF:200K"}).exitCode, 0u);
    for (const std::string& s : set) EXPECT_LE(s.size(), 200u << 10);
    // The scripts are made again for each /NEXT, the same: /NEXT 1 places
    // script 1 again without moving on, and /NEXT then script 2.
    EXPECT_TRUE(contains(runTarnwick({"/NEXT", "1"}).out, "Placed script 1 of "));
    EXPECT_EQ(getClipboardText().value_or(""), set[0]);
    EXPECT_TRUE(contains(runTarnwick({"/NEXT"}).out, "Placed script 2 of "));
    EXPECT_EQ(getClipboardText().value_or(""), set[1]);

    for (bool flatten : {false, true}) {
        SCOPED_TRACE(flatten ? "flattened" : "as placed");
        removeTree(folder);
        makeDir(folder);
        std::vector<size_t> order(set.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(flatten ? 5 : 11));
        order.insert(order.begin() + 1, order[0]);  // one run twice
        for (size_t i = 0; i < order.size(); ++i) {
            const std::string out = runScript(flatten ? flattened(set[order[i]]) : set[order[i]], folder);
            if (i + 1 < order.size()) {
                EXPECT_TRUE(contains(out, "still to run")) << out;
                expectNothingWritten("before the last piece");
            } else {
                EXPECT_TRUE(contains(out, "Written to")) << out;
            }
        }
        expectWritten(folder);
        EXPECT_EQ(piecesKept(), 0u);
    }
}

TEST_F(Self, ACutChangedOrForeignPieceWritesNothing) {
    std::string own, other;
    const std::vector<std::string> set = placeSet(tarnwickExe(), "/SELF:200K", &own);
    ASSERT_GE(set.size(), 2u);
    // Another set: the same program with one letter of its DOS stub
    // changed, near the start, so that every piece of the stream differs.
    const std::string otherBin = tmp / "other-bin";
    makeDir(otherBin);
    std::string program = readFile(tarnwickExe());
    const size_t stub = program.find("DOS mode");
    ASSERT_NE(stub, std::string::npos);
    program[stub + 4] = 'M';
    writeFile(otherBin + "\\Tarnwick.exe", program);
    for (const char* name : {"zlib1.dll", "ReadMe.txt"})
        writeFile(otherBin + "\\" + name, readFile(binDir() + "\\" + name));
    const std::vector<std::string> foreign = placeSet(otherBin + "\\Tarnwick.exe", "/SELF:200K", &other);
    ASSERT_GE(foreign.size(), 2u);
    ASSERT_NE(own, other);

    const std::string& second = set[1];
    const size_t data = second.find("\n#>") + 1;
    std::string changed = second;
    changed[data + 40] = changed[data + 40] == 'A' ? 'B' : 'A';
    // Its data lines, between this script's own marks.
    const size_t foreignData = foreign[1].find("\n#>") + 1;
    const std::string spliced = second.substr(0, data) +
                                foreign[1].substr(foreignData, foreign[1].find("\n#TWSELF", foreignData) + 1 - foreignData) +
                                second.substr(second.find("\n#TWSELF", data) + 1);
    struct Row {
        const char* name;
        std::string text;
        const char* says;
    };
    const Row rows[] = {
        {"cut", second.substr(0, second.size() * 2 / 3), "arrived cut short"},
        {"one character changed", changed, "was changed on the way"},
        {"another set's data", spliced, "was changed on the way"},
    };
    for (const Row& row : rows) {
        const std::string out = runScript(row.text, folder);
        EXPECT_TRUE(contains(out, row.says)) << row.name << ": " << out;
        EXPECT_TRUE(contains(out, "Nothing was written.")) << row.name << ": " << out;
        expectNothingWritten(row.name);
        EXPECT_EQ(piecesKept(), 0u) << row.name;
    }
    // A whole piece of another set is kept apart and completes nothing.
    EXPECT_TRUE(contains(runScript(set[0], folder), "still to run"));
    const std::string out = runScript(foreign[1], folder);
    EXPECT_TRUE(contains(out, "another Tarnwick set")) << out;
    expectNothingWritten("another set's piece");
    EXPECT_EQ(piecesKept(), 2u);
}

}  // namespace
}  // namespace e2e
