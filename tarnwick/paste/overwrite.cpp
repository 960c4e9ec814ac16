// The question asked before an existing file is replaced.
#include <cstring>

#include "../platform/command.h"
#include "../platform/wide.h"
#include "../text/file_time.h"
#include "../text/format_size.h"
#include "paste_context.h"

namespace tw {

namespace {

// How the pasted file compares with the existing one.
const char* timeVerdict(const FILETIME& pasted, const FILETIME& existing) {
    LONG order = ::CompareFileTime(&pasted, &existing);
    return order < 0 ? "older" : order > 0 ? "newer" : "of the same time";
}

const char* sizeVerdict(uint32_t pasted, uint32_t existing) {
    return pasted < existing ? "smaller" : pasted > existing ? "bigger" : "of the same size";
}

}  // namespace

std::wstring buildOverwritePrompt(const std::wstring& path, const FileInfo& info) {
    const std::wstring callPath = fsPath(path);
    FILETIME existingTime;
    uint32_t existingSize = 0;
    if (!getFileTimeAndSize(callPath.c_str(), &existingTime, &existingSize)) throw "Error getting file time/size.";
    // A failed query reads as all bits set; it must not pass for read-only.
    DWORD attributes = ::GetFileAttributesW(callPath.c_str());
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);

    const FILETIME pastedTime = toFileTime(info.lastWriteTime.get());
    const uint32_t pastedSize = info.uncompressedSize.get();

    // The path goes in exactly as the file system holds it; the rest, the
    // user's date texts among it, is ANSI text.
    std::string text;
    text += "\n\nalready exists";
    if (readOnly) text += " and is marked READ-ONLY";
    text += ".\n\n";
    text += "Do you want to overwrite the existing file\n of size ";
    text += formatSize(existingSize);
    text += ", modified on ";
    text += formatFileTime(existingTime);
    text += "\n";
    text += "with the file being copied\n of size ";
    text += formatSize(pastedSize);
    text += ", modified on ";
    text += formatFileTime(pastedTime);
    text += ",\n";
    text += "which is ";
    text += timeVerdict(pastedTime, existingTime);
    text += " and ";
    text += sizeVerdict(pastedSize, existingSize);
    text += "?";
    return L"The file\n\n" + path + widen(text);
}

bool confirmOverwrite(const std::wstring& path, const FileInfo& info, bool force) {
    if (force) return true;
    int answer = messageBox(buildOverwritePrompt(path, info), MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) throw "";
    return answer == IDYES;
}

}  // namespace tw
