#include "pack_file.h"

#include <windows.h>

#include "../../common/handles.h"
#include "../frontend/console.h"
#include "../text/file_time.h"
#include "../text/format_size.h"
#include "messages.h"

namespace tw {

namespace {

// Reads exactly size bytes, or fails: a file that shrank since it was
// measured is not stored short.
bool readAll(HANDLE file, uint8_t* into, uint32_t size) {
    while (size) {
        DWORD got = 0;
        if (!::ReadFile(file, into, size, &got, nullptr) || got == 0) return false;
        into += got;
        size -= got;
    }
    return true;
}

}  // namespace

void packFile(EntryList& list, const std::string& path, int32_t parentIndex, uint32_t attributes,
              const std::string& name) {
    console().write(": ");
    unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw kErrorOpeningFile;

    auto record = std::make_unique<FileRecord>(makeFileRecord(parentIndex, name.c_str()));

    // Measured in 64 bits: a 32-bit query would take a file of 4 GiB and
    // some bytes for a small one and store it cut short.
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(file.get(), &length)) throw kErrorReadingFile;
    if (uint64_t(length.QuadPart) > kMaxFileSize) throw kFileTooLarge;
    uint32_t size = uint32_t(length.QuadPart);
    console().write(formatSize(size));

    HeapBytes content;
    if (size) {
        // The line so far shows which file is being read while it is.
        console().flush();
        content = allocateBytes(size);
        if (!content) throw kNotEnoughMemory;
        if (!readAll(file.get(), content.get(), size)) throw kErrorReadingFile;
        console().write(" -> ");
    }
    file.reset();

    FILETIME lastWrite;
    if (!getFileTimeAndSize(path.c_str(), &lastWrite, nullptr)) throw kErrorGettingFileTime;

    PackedContent packed = packContent(std::move(content), size);
    packed.applyTo(record->info);
    record->info.lastWriteTime.set(fromFileTime(lastWrite));
    record->info.attributes.set(attributes);

    if (size) {
        console().write(formatSize(packed.storedSize) + formatRatio(packed.storedSize, size));
    }
    list.appendFile(std::move(record), std::move(packed.stored));
}

}  // namespace tw
