#include "temp_folder.h"

#include <cwchar>

#include "../platform/final_path.h"

namespace tw {

const char* const kErrorKeeping = "Error writing to the temp folder.";

namespace {

const wchar_t kNewSuffix[] = L".new";

// A name for a writer's new file: the process and a count make it unique
// among the writers of this machine.
std::wstring newFileName(const std::wstring& path) {
    static volatile LONG count = 0;
    wchar_t tag[40];
    std::swprintf(tag, 40, L".%lu-%lu", (unsigned long)::GetCurrentProcessId(),
                  (unsigned long)::InterlockedIncrement(&count));
    return path + tag + kNewSuffix;
}

}  // namespace

DWORD ownAttributes(const std::wstring& path) {
    // A listing reports the entry itself; GetFileAttributes may report what
    // a link points at.
    WIN32_FIND_DATAW entry;
    unique_hfind search(::FindFirstFileW(path.c_str(), &entry));
    return search ? entry.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

namespace {

// The path an open of `path` ends at, links followed; false where Windows
// cannot tell (before Vista, which lacks the call) or nothing is there.
bool finalPath(const std::wstring& path, std::wstring& result) {
    unique_hfile file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return false;
    result = finalPathOf(file.get());
    // Only a final path shorter than 1024 units is compared.
    return !result.empty() && result.size() < 1024;
}

// True when opening the path ends somewhere other than the entry of that
// name in its folder: a link the attributes do not show (Wine reports a
// Linux symlink to a file as a plain file). Folder and entry are compared by
// their final paths, so short names and a linked temp folder do not count.
bool leadsElsewhere(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    std::wstring entry, folder;
    if (slash == std::wstring::npos || !finalPath(path, entry) || !finalPath(path.substr(0, slash), folder))
        return false;
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    folder += path.substr(slash + 1);
    return ::lstrcmpiW(folder.c_str(), entry.c_str()) != 0;
}

}  // namespace

bool removeLink(const std::wstring& path) {
    const DWORD attributes = ownAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!isLink(attributes) && !leadsElsewhere(path)) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // RemoveDirectory removes a junction or a link to a folder itself.
        // Nothing else is tried: Wine deletes or moves what a Linux symlink
        // points at, so there the link stays, and is never looked into.
        ::RemoveDirectoryW(path.c_str());
    } else {
        // A new, empty file renamed over a link replaces the link itself
        // (DeleteFile on a Linux symlink under Wine would delete its target).
        const std::wstring blank = newFileName(path);
        unique_hfile file(::CreateFileW(blank.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        if (file) {
            file.reset();
            if (::MoveFileExW(blank.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) ::DeleteFileW(path.c_str());
            else ::DeleteFileW(blank.c_str());
        }
    }
    const DWORD left = ownAttributes(path);
    return left == INVALID_FILE_ATTRIBUTES || (!isLink(left) && !leadsElsewhere(path));
}

void removeFile(const std::wstring& path) {
    if (removeLink(path) && !(ownAttributes(path) & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileW(path.c_str());
}

std::wstring transferFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) throw kErrorKeeping;
    std::wstring folder(temp, length);
    if (folder.back() != L'\\') folder += L'\\';
    folder += L"Tarnwick";
    if (!removeLink(folder)) throw kErrorKeeping;
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) throw kErrorKeeping;
    const DWORD attributes = ownAttributes(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || isLink(attributes))
        throw kErrorKeeping;
    return folder + L"\\";
}

void writeFileAtomically(const std::wstring& path, std::initializer_list<ByteRange> pieces) {
    const std::wstring temporary = newFileName(path);
    {
        // CREATE_NEW: a file or link already at the name is never written
        // through.
        removeFile(temporary);
        unique_hfile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw kErrorKeeping;
        bool ok = true;
        for (const ByteRange& piece : pieces) {
            const uint8_t* at = piece.data;
            size_t left = piece.length;
            while (ok && left) {
                DWORD chunk = left > (16u << 20) ? (16u << 20) : DWORD(left), written = 0;
                ok = ::WriteFile(file.get(), at, chunk, &written, nullptr) && written == chunk;
                at += chunk;
                left -= chunk;
            }
        }
        if (!ok) {
            file.reset();
            ::DeleteFileW(temporary.c_str());
            throw kErrorKeeping;
        }
    }
    // Renaming over a link replaces the link, not what it points at.
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(temporary.c_str());
        throw kErrorKeeping;
    }
}

void removeLeftovers(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring folder = path.substr(0, slash + 1);
    WIN32_FIND_DATAW entry;
    unique_hfind search(::FindFirstFileW((path + L"*" + kNewSuffix).c_str(), &entry));
    if (!search) return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) removeFile(folder + entry.cFileName);
    } while (::FindNextFileW(search.get(), &entry));
}

bool readSmallFile(const std::wstring& path, size_t limit, std::string& content) {
    if (isLink(ownAttributes(path)) || leadsElsewhere(path)) return false;
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || uint64_t(size.QuadPart) > limit) return false;
    content.resize(size_t(size.QuadPart));
    DWORD got = 0;
    return content.empty() ||
           (::ReadFile(file.get(), &content[0], DWORD(content.size()), &got, nullptr) && got == content.size());
}

FolderLock::FolderLock(const std::wstring& path) {
    if (!removeLink(path)) throw kErrorKeeping;
    const DWORD start = ::GetTickCount();
    for (;;) {
        file_ = unique_hfile(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_) return;
        if (::GetLastError() != ERROR_SHARING_VIOLATION || ::GetTickCount() - start > 60000) throw kErrorKeeping;
        ::Sleep(20);
    }
}

}  // namespace tw
