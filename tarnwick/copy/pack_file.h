// Reading one file and packing it into its record and stored bytes.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "../archive/layout.h"
#include "pack.h"

namespace tw {

// One file on its way into the list: what the walk knows of it, then what
// packing it gave.
struct FileJob {
    std::wstring path;  // as the walk joined it
    int32_t parentIndex = -1;
    uint32_t attributes = 0;
    std::string name;  // the record's name field

    uint32_t size = 0;                    // once the file is open
    std::unique_ptr<FileRecord> record;   // once it is packed
    HeapBytes stored;                     // null for an empty file
};

// How far packFile has got; the progress line shows as much.
enum class FileStage { sized, read };

// What packFile reports to, and asks of, whoever runs it.
class FileSteps {
public:
    // The size is known and the content is about to be read; then, the
    // content has been read.
    virtual void reached(FileJob& job, FileStage stage) = 0;
    // Asked between slices of reading and compressing: true gives up with
    // PackStopped.
    virtual bool stopped(const FileJob& job) = 0;
    // The content and then the compressor's buffer are about to take up to
    // twice size bytes; released once the stored form is chosen. A size of
    // 0 takes nothing.
    virtual void reserve(const FileJob& job, uint32_t size) = 0;
    virtual void release(uint32_t size) = 0;

protected:
    ~FileSteps() = default;
};

// Opens the file once and measures, reads and dates it through that handle,
// then packs it with the calling thread's scratch: job.size, job.record and
// job.stored. Prints nothing and appends nothing. Failures are raised as
// message texts (std::bad_alloc for the record itself).
void packFile(FileJob& job, FileSteps& steps, PackScratch& scratch);

}  // namespace tw
