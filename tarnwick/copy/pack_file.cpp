#include "pack_file.h"

#include <windows.h>

#include "../../common/handles.h"
#include "../text/file_time.h"
#include "../platform/wide.h"
#include "messages.h"
#include "pack_profile.h"

namespace tw {

namespace {

// Large reads go a slice at a time, so that a copy that has failed
// elsewhere need not wait for them.
constexpr DWORD kReadSlice = 4 << 20;

// Reads exactly size bytes, or fails: a file that shrank since it was
// measured is not stored short.
bool readAll(HANDLE file, uint8_t* into, uint32_t size, FileSteps& steps, const FileJob& job) {
    while (size) {
        if (steps.stopped(job)) throw PackStopped();
        DWORD got = 0;
        if (!::ReadFile(file, into, size < kReadSlice ? size : kReadSlice, &got, nullptr) || got == 0) return false;
        into += got;
        size -= got;
    }
    return true;
}

// Holds a share of the packing memory while a file's content is in hand.
class Reservation {
public:
    Reservation(FileSteps& steps, const FileJob& job, uint32_t size) : steps_(steps), size_(size) {
        steps.reserve(job, size);
    }
    ~Reservation() { steps_.release(size_); }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

private:
    FileSteps& steps_;
    uint32_t size_;
};

}  // namespace

void packFile(FileJob& job, FileSteps& steps, PackScratch& scratch) {
    ProfileSpan opening(Phase::open);
    unique_hfile file(::CreateFileW(fsPath(job.path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw kErrorOpeningFile;

    auto record = std::make_unique<FileRecord>(makeFileRecord(job.parentIndex, job.name.c_str()));

    // Measured in 64 bits: a 32-bit query would take a file of 4 GiB and
    // some bytes for a small one and store it cut short.
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(file.get(), &length)) throw kErrorReadingFile;
    if (uint64_t(length.QuadPart) > kMaxFileSize) throw kFileTooLarge;
    const uint32_t size = uint32_t(length.QuadPart);
    job.size = size;
    steps.reached(job, FileStage::sized);

    Reservation memory(steps, job, size);
    ProfileSpan reading(Phase::read);
    HeapBytes owned;
    uint8_t* content = nullptr;
    if (size) {
        content = scratch.contentRoom(size, owned);
        if (!content) throw kNotEnoughMemory;
        if (!readAll(file.get(), content, size, steps, job)) throw kErrorReadingFile;
        steps.reached(job, FileStage::read);
    }
    // From the handle that read the content, as the size was: one open per
    // file, and the time belongs to the bytes read.
    FILETIME lastWrite;
    if (!::GetFileTime(file.get(), nullptr, nullptr, &lastWrite)) throw kErrorGettingFileTime;
    file.reset();

    ProfileSpan compressing(Phase::compress);
    PackedContent packed = scratch.pack(content, std::move(owned), size, [&] { return steps.stopped(job); });
    packed.applyTo(record->info);
    record->info.lastWriteTime.set(fromFileTime(lastWrite));
    record->info.attributes.set(job.attributes);
    job.stored = std::move(packed.stored);
    job.record = std::move(record);
}

}  // namespace tw
