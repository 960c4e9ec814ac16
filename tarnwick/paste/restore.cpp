// Folder and file restore: one entry of the block made real on disk.
#include <windows.h>

#include "../../common/handles.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "../platform/wide.h"
#include "../text/file_time.h"
#include "content.h"
#include "paste_context.h"

namespace tw {

namespace {

// Read-only, hidden, system and archive; nothing else from the block is
// given to a restored entry.
constexpr DWORD kRestoredAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE;

void setRestoredAttributes(const std::wstring& callPath, uint32_t attributes) {
    DWORD bits = attributes & kRestoredAttributes;
    ::SetFileAttributesW(callPath.c_str(), bits ? bits : FILE_ATTRIBUTE_NORMAL);
}

// What the file calls get: paths of any length work (see fsPath).
DWORD attributesOf(const std::wstring& callPath) { return ::GetFileAttributesW(callPath.c_str()); }

// Each piece in one write; a piece that is not written whole fails.
class FileSink final : public ByteSink {
public:
    explicit FileSink(HANDLE file) : file_(file) {}
    bool put(const uint8_t* bytes, size_t length) override {
        DWORD written = 0;
        return ::WriteFile(file_, bytes, DWORD(length), &written, nullptr) && written == length;
    }

private:
    HANDLE file_;
};

}  // namespace

bool PasteContext::restoreFolder(const std::u16string& name, const FolderInfo& info) {
    const std::wstring path = fromU16(name), callPath = fsPath(path);
    console().write(path);
    console().write(">\n");

    DWORD existing = attributesOf(callPath);
    if (existing == INVALID_FILE_ATTRIBUTES || !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        if (!::CreateDirectoryW(callPath.c_str(), nullptr)) throw "Error creating directory.";
    } else if (!force) {
        std::wstring question = L"The directory\n\n" + path +
                                L"\n\nalready exists.\n\n"
                                L"Do you want to merge any contents of the directory being copied\n"
                                L"with those of the existing one?\n"
                                L"(You will still be prompted to overwrite each existing file or subdirectory.)";
        int answer = messageBox(question, MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL) throw "";
        // Anything but Yes leaves the existing folder exactly as it was.
        if (answer != IDYES) return true;
    }
    // Before any of its contents arrive; a read-only folder still takes
    // files.
    setRestoredAttributes(callPath, info.attributes.get());
    return false;
}

bool PasteContext::restoreFile(const std::u16string& name, const FileInfo& info, const FileBytes& stored) {
    const std::wstring path = fromU16(name), callPath = fsPath(path);
    console().write(path);
    console().write('\n');

    if (attributesOf(callPath) != INVALID_FILE_ATTRIBUTES) {
        if (!confirmOverwrite(path, info, force)) return false;
        // So that a read-only file can be replaced.
        ::SetFileAttributesW(callPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    // Everything is checked before the destination is opened, so a bad
    // file never replaces a good one.
    {
        FileContent content(info, stored);
        content.check();
        unique_hfile file(::CreateFileW(callPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw "Error creating file.";
        FileSink sink(file.get());
        if (!content.writeTo(sink)) throw "Error writing to file.";
    }

    // The time goes on through a handle of its own, once the content is
    // closed, so nothing touches it afterwards.
    unique_hfile file(::CreateFileW(callPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) {
        FILETIME lastWrite = toFileTime(info.lastWriteTime.get());
        ::SetFileTime(file.get(), nullptr, nullptr, &lastWrite);
        file.reset();
    }
    setRestoredAttributes(callPath, info.attributes.get());
    return true;
}

}  // namespace tw
