// Folder and file restore: one entry of the block made real on disk.
#include <shlwapi.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "../../common/handles.h"
#include "../frontend/frontend.h"
#include "../text/file_time.h"
#include "paste_context.h"

namespace tw {

namespace {

// Read-only, hidden, system and archive; nothing else from the block is
// given to a restored entry.
constexpr DWORD kRestoredAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE;

void setRestoredAttributes(const std::string& path, uint32_t attributes) {
    DWORD bits = attributes & kRestoredAttributes;
    ::SetFileAttributesA(path.c_str(), bits ? bits : FILE_ATTRIBUTE_NORMAL);
}

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

bool PasteContext::restoreFolder(const std::string& path, const FolderInfo& info) {
    std::fwrite(path.data(), 1, path.size(), stdout);
    std::fputs(">\n", stdout);

    if (!::PathIsDirectoryA(path.c_str())) {
        if (!::CreateDirectoryA(path.c_str(), nullptr)) throw "Error creating directory.";
    } else if (!force) {
        std::string question = "The directory\n\n" + path +
                               "\n\nalready exists.\n\n"
                               "Do you want to merge any contents of the directory being copied\n"
                               "with those of the existing one?\n"
                               "(You will still be prompted to overwrite each existing file or subdirectory.)";
        int answer = messageBox(question.c_str(), MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL) throw "";
        // Anything but Yes leaves the existing folder exactly as it was.
        if (answer != IDYES) return true;
    }
    // Before any of its contents arrive; a read-only folder still takes
    // files.
    setRestoredAttributes(path, info.attributes.get());
    return false;
}

bool PasteContext::restoreFile(const std::string& path, const FileInfo& info, const FileBytes& stored) {
    std::fwrite(path.data(), 1, path.size(), stdout);
    std::fputc('\n', stdout);

    if (::PathFileExistsA(path.c_str())) {
        if (!confirmOverwrite(path.c_str(), info, force)) return false;
        // So that a read-only file can be replaced.
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    // Everything is checked before the destination is opened, so a bad
    // file never replaces a good one.
    const uint32_t size = info.uncompressedSize.get();
    const uint8_t* content = stored.data;
    std::unique_ptr<uint8_t, FreeDeleter> buffer;
    if (size != 0) {
        if (info.compressed) {
            buffer.reset(static_cast<uint8_t*>(std::malloc(size)));
            if (!buffer) throw "Not enough memory.";
            // uncompress never writes more than the room it is given.
            uLongf produced = size;
            if (::uncompress(buffer.get(), &produced, stored.data, stored.length) != Z_OK)
                throw "Error decompressing data.";
            if (produced != size) throw "Incorrect decompressed data length.";
            content = buffer.get();
        }
        if (::crc32(::crc32(0, nullptr, 0), content, size) != info.crc32.get()) throw "CRC failed on file data.";
    }

    {
        unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw "Error creating file.";
        if (size != 0) {
            DWORD written = 0;
            if (!::WriteFile(file.get(), content, size, &written, nullptr) || written != size)
                throw "Error writing to file.";
        }
    }
    buffer.reset();

    // The time goes on through a handle of its own, once the content is
    // closed, so nothing touches it afterwards.
    unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) {
        FILETIME lastWrite = toFileTime(info.lastWriteTime.get());
        ::SetFileTime(file.get(), nullptr, nullptr, &lastWrite);
        file.reset();
    }
    setRestoredAttributes(path, info.attributes.get());
    return true;
}

}  // namespace tw
