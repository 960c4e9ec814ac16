#include "temp_folder.h"

#include <windows.h>

#include "../../common/handles.h"

namespace tw {

const char* const kErrorKeeping = "Error writing to the temp folder.";

std::wstring transferFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) throw kErrorKeeping;
    std::wstring folder(temp, length);
    if (folder.back() != L'\\') folder += L'\\';
    folder += L"Tarnwick";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) throw kErrorKeeping;
    return folder + L"\\";
}

void writeFileAtomically(const std::wstring& path, std::initializer_list<ByteRange> pieces) {
    const std::wstring temporary = path + L".new";
    {
        unique_hfile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(temporary.c_str());
        throw kErrorKeeping;
    }
}

bool readSmallFile(const std::wstring& path, size_t limit, std::string& content) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.get(), &size) || uint64_t(size.QuadPart) > limit) return false;
    content.resize(size_t(size.QuadPart));
    DWORD got = 0;
    return content.empty() ||
           (::ReadFile(file.get(), &content[0], DWORD(content.size()), &got, nullptr) && got == content.size());
}

}  // namespace tw
