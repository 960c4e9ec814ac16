// The /SELF command and its /NEXT: the running program's files as
// PowerShell scripts on the clipboard.
//
// Nothing of the set is kept: the scripts are made again from the running
// program for each /NEXT, and come out the same. A small state file beside
// the kept /TEXT copy says that /SELF placed the last set and which script
// comes next; the kept /TEXT copy itself stays, and a new text copy, a
// plain copy or /CLEAR drops the state file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "../platform/command.h"
#include "../platform/console.h"
#include "self_transfer.h"
#include "temp_folder.h"
#include "text_transfer.h"

namespace tw {

namespace {

const char kSelfUnreadable[] = "Cannot read Tarnwick's own files (Tarnwick.exe and zlib1.dll).";
const char kSelfChanged[] = "Tarnwick has changed since Tarnwick /SELF placed its first script: run Tarnwick /SELF again.";
constexpr size_t kMaxFile = 64u << 20;

std::wstring selfStatePath() { return transferFolder() + L"self.txt"; }

std::wstring moduleFile(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, &path[0], DWORD(path.size()));
        if (!length) throw kSelfUnreadable;
        if (length < path.size()) return path.substr(0, length);
        path.resize(path.size() * 2);
    }
}

SelfFile readSelfFile(const std::wstring& path, const char* name) {
    std::string content;
    if (!readSmallFile(path, kMaxFile, content)) throw kSelfUnreadable;
    return SelfFile{name, std::vector<uint8_t>(content.begin(), content.end())};
}

// The program as it runs: its own file, the zlib1.dll it loaded, and the
// ReadMe.txt beside it where there is one.
SelfSet runningSet(uint64_t chars) {
    const std::wstring exe = moduleFile(nullptr);
    std::vector<SelfFile> files;
    files.push_back(readSelfFile(exe, "Tarnwick.exe"));
    HMODULE zlib = ::GetModuleHandleW(L"zlib1.dll");
    if (!zlib) throw kSelfUnreadable;
    files.push_back(readSelfFile(moduleFile(zlib), "zlib1.dll"));
    const std::wstring readMe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"ReadMe.txt";
    std::string content;
    if (readSmallFile(readMe, kMaxFile, content))
        files.push_back(SelfFile{"ReadMe.txt", std::vector<uint8_t>(content.begin(), content.end())});
    return makeSelfSet(files, sizeof(void*) == 8, chars);
}

void writeState(uint32_t next, uint64_t chars, const std::string& setId) {
    const std::string text = selfStateText(next, chars, setId);
    writeFileAtomically(selfStatePath(), {{reinterpret_cast<const uint8_t*>(text.data()), text.size()}});
}

void placeScript(const SelfSet& set, uint32_t number, uint32_t next) {
    placeClipboardText(set.scripts[number - 1], true);
    const size_t count = set.scripts.size();
    char line[200];
    if (next <= count)
        std::snprintf(line, sizeof line, "Placed script %lu of %lu. Tarnwick /NEXT places script %lu.\n",
                      (unsigned long)number, (unsigned long)count, (unsigned long)next);
    else
        std::snprintf(line, sizeof line, "Placed script %lu of %lu.\n", (unsigned long)number, (unsigned long)count);
    console().write(line);
}

}  // namespace

bool placeSelf(uint64_t chars) {
    return runCommand([&] {
        const SelfSet set = runningSet(chars);
        console().write("Tarnwick as " + std::to_string(set.scripts.size()) + " PowerShell script" +
                        (set.scripts.size() == 1 ? "" : "s") + ", fingerprint " + set.fingerprint + ".\n");
        placeScript(set, 1, 2);
        writeState(2, chars, set.setId);
        console().write("On the other side, in PowerShell, in the folder to write to, type:  Get-Clipboard -Raw | iex\n");
        console().write("Done.\n");
    });
}

bool selfSetPlacedLast() {
    try {
        std::string text;
        uint32_t next = 0;
        uint64_t chars = 0;
        std::string id;
        return readSmallFile(selfStatePath(), 256, text) && readSelfState(text, next, chars, id);
    } catch (const char*) {
        return false;
    }
}

bool placeNextScript(uint32_t number) {
    return runCommand([&] {
        std::string text, id;
        uint32_t next = 0;
        uint64_t chars = 0;
        if (!readSmallFile(selfStatePath(), 256, text) || !readSelfState(text, next, chars, id)) throw kSelfChanged;
        const SelfSet set = runningSet(chars);
        if (set.setId != id) throw kSelfChanged;
        const uint32_t count = uint32_t(set.scripts.size());
        static char message[160];
        if (number > count) {
            std::snprintf(message, sizeof message, "Tarnwick is %lu scripts: Tarnwick /NEXT n takes n from 1 to %lu.",
                          (unsigned long)count, (unsigned long)count);
            throw static_cast<const char*>(message);
        }
        if (!number && next > count) {
            std::snprintf(message, sizeof message,
                          "All %lu scripts were placed. Tarnwick /NEXT n places script n again.", (unsigned long)count);
            throw static_cast<const char*>(message);
        }
        const uint32_t placed = number ? number : next;
        if (placed == next) ++next;
        placeScript(set, placed, next);
        writeState(next, chars, id);
        console().write("Done.\n");
    });
}

void forgetSelfSet() {
    try {
        removeFile(selfStatePath());
    } catch (const char*) {
        // No temp folder: nothing is kept either.
    }
}

}  // namespace tw
