#include "temp_folder.h"

#include <cwchar>

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

bool removeLink(const std::wstring& path) {
    if (!isLink(::GetFileAttributesW(path.c_str()))) return true;
    // A link to a folder goes with RemoveDirectory on Windows; Wine removes
    // a Linux symlink with DeleteFile. Neither touches the target.
    if (!::RemoveDirectoryW(path.c_str())) ::DeleteFileW(path.c_str());
    return !isLink(::GetFileAttributesW(path.c_str()));
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
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || isLink(attributes))
        throw kErrorKeeping;
    return folder + L"\\";
}

void writeFileAtomically(const std::wstring& path, std::initializer_list<ByteRange> pieces) {
    const std::wstring temporary = newFileName(path);
    {
        // CREATE_NEW: a file or link already at the name is never written
        // through.
        ::DeleteFileW(temporary.c_str());
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
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isLink(entry.dwFileAttributes))
            ::DeleteFileW((folder + entry.cFileName).c_str());
    } while (::FindNextFileW(search.get(), &entry));
}

bool readSmallFile(const std::wstring& path, size_t limit, std::string& content) {
    if (isLink(::GetFileAttributesW(path.c_str()))) return false;
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
