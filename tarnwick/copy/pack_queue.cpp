#include "pack_queue.h"

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <system_error>

#include "../platform/console.h"
#include "../text/format_size.h"
#include "pack_profile.h"

namespace tw {

namespace {

constexpr size_t kMaxQueued = PackQueue::kMaxWaiting;

// Memory that packing holds beyond the stored forms, all threads together:
// each packing thread's scratch (PackScratch::kMemory, about 2.3 MiB), and
// the content and compressed stream of every file too large for its
// thread's scratch. A file that needs more than what the scratch leaves
// waits until it can be alone. The 32-bit build has the address space of
// one process for the whole copy, block included.
constexpr uint64_t kPackMemory = sizeof(void*) > 4 ? 48u << 20 : 24u << 20;
// Packing threads beyond these would leave too little of that memory for
// files: at most 16 (x64) or 6 (32-bit) threads, whatever is asked.
constexpr unsigned kMaxWorkers = sizeof(void*) > 4 ? 16 : 6;
static_assert(kMaxWorkers * PackScratch::kMemory <= kPackMemory * 4 / 5, "room for files as well");

constexpr unsigned kMaxThreads = 64;

// How much of a file's line is out: the pieces that a failure can cut it
// after.
enum Shown : int { kPath = 0, kColon = 1, kSize = 2, kArrow = 3 };

}  // namespace

unsigned packThreads() {
    char text[16];
    DWORD n = ::GetEnvironmentVariableA("TARNWICK_PACK_THREADS", text, sizeof text);
    if (n > 0 && n < sizeof text) {
        char* end = nullptr;
        long value = std::strtol(text, &end, 10);
        if (*end == '\0' && value >= 1 && value <= long(kMaxThreads)) return unsigned(value);
    }
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    unsigned cores = unsigned(system.dwNumberOfProcessors);
    return cores < 1 ? 1 : cores > kMaxThreads ? kMaxThreads : cores;
}

struct PackQueue::Job {
    FileJob file;
    uint64_t seq = 0;
    // Under lock_ while workers run: how far packing has got.
    bool sized = false;
    bool read = false;
    bool finished = false;
    std::exception_ptr failure;
    // The walking thread's: how much of the line is out.
    int shown = kPath;
};

struct PackQueue::Item {
    std::wstring text;                     // progress text,
    std::unique_ptr<FolderRecord> folder;  // or a folder,
    std::unique_ptr<Job> job;              // or a file
};

// One thread: the line follows the file as it is read, as the copy has
// always shown it, and the path and size are out before the content is read.
class PackQueue::InlineSteps final : public FileSteps {
public:
    InlineSteps(PackQueue& queue, Job& job) : queue_(queue), job_(job) {}
    void reached(FileJob&, FileStage stage) override {
        if (stage == FileStage::sized) {
            job_.sized = true;
            queue_.showLine(job_, kSize);
            if (job_.file.size) console().flush();
        } else {
            job_.read = true;
            queue_.showLine(job_, kArrow);
        }
    }
    bool stopped(const FileJob&) override { return false; }
    void reserve(const FileJob&, uint32_t) override {}
    void release(uint32_t) override {}

private:
    PackQueue& queue_;
    Job& job_;
};

// On a worker: reports to the walking thread, which shows the line when the
// file comes to the front.
class PackQueue::WorkerSteps final : public FileSteps {
public:
    WorkerSteps(PackQueue& queue, Job& job) : queue_(queue), job_(job) {}
    void reached(FileJob&, FileStage stage) override {
        bool awaited;
        {
            std::lock_guard<std::mutex> lock(queue_.lock_);
            (stage == FileStage::sized ? job_.sized : job_.read) = true;
            awaited = queue_.awaited_ == job_.seq;
        }
        if (awaited) queue_.progress_.notify_all();
    }
    bool stopped(const FileJob&) override { return queue_.stopped(job_); }
    void reserve(const FileJob&, uint32_t size) override { queue_.reserve(job_, size); }
    void release(uint32_t size) override { queue_.release(size); }

private:
    PackQueue& queue_;
    Job& job_;
};

PackQueue::PackQueue(EntryList& list, unsigned threads) : PackQueue(list, threads, packFile, {}) {}

PackQueue::PackQueue(EntryList& list, unsigned threads, Packer packer, std::function<void()> onWait)
    : list_(list), packer_(std::move(packer)), onWait_(std::move(onWait)) {
    entries_ = int32_t(list.size());
    if (threads <= 1) return;
    if (threads > kMaxWorkers) threads = kMaxWorkers;
    try {
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // As many as the system would start; none means packing inline.
    }
    memoryForFiles_ = kPackMemory - workers_.size() * PackScratch::kMemory;
}

PackQueue::~PackQueue() { stopAll(); }

void PackQueue::stopAll() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopping_ = true;
    }
    workAdded_.notify_all();
    memoryFreed_.notify_all();
    for (std::thread& worker : workers_)
        if (worker.joinable()) worker.join();
}

void PackQueue::write(const std::wstring& text) {
    if (failed_) return;
    ProfileSpan span(Phase::output);
    if (items_.empty())
        console().write(text);
    else
        queue(Item{text, nullptr, nullptr});
}

void PackQueue::write(char c) { write(std::wstring(1, wchar_t(c))); }

int32_t PackQueue::folder(std::unique_ptr<FolderRecord> record) {
    int32_t index = entries_++;
    if (failed_) return index;
    ProfileSpan span(Phase::output);
    if (!items_.empty()) emitReady();
    if (items_.empty()) {
        guarded([&] {
            list_.appendFolder(std::move(record));
            console().write('>');
        });
    } else {
        queue(Item{std::wstring(), std::move(record), nullptr});
    }
    return index;
}

void PackQueue::queue(Item item) {
    items_.push_back(std::move(item));
    emitUntil(kMaxQueued - 1);
}

int32_t PackQueue::file(const std::wstring& path, int32_t parentIndex, uint32_t attributes, const std::string& name) {
    int32_t index = entries_++;
    if (failed_) return index;
    ProfileSpan span(Phase::output);
    auto job = std::make_unique<Job>();
    job->file.path = path;
    job->file.parentIndex = parentIndex;
    job->file.attributes = attributes;
    job->file.name = name;
    job->seq = nextSeq_++;

    if (workers_.empty()) {
        guarded([&] {
            showLine(*job, kColon);
            InlineSteps steps(*this, *job);
            packer_(job->file, steps, scratch_);
            finishLine(*job);
        });
        return index;
    }
    Job* queued = job.get();
    items_.push_back(Item{std::wstring(), nullptr, std::move(job)});
    {
        std::lock_guard<std::mutex> lock(lock_);
        work_.push_back(queued);
    }
    workAdded_.notify_one();
    emitReady();
    emitUntil(kMaxQueued - 1);
    return index;
}

void PackQueue::drain() {
    if (failed_) return;
    ProfileSpan span(Phase::output);
    emitUntil(0);
    if (lineCut_) console().endLine();
}

size_t PackQueue::waiting() const { return items_.size(); }

void PackQueue::emitReady() {
    while (!failed_ && !items_.empty() && emitFront(false)) {
    }
}

void PackQueue::emitUntil(size_t left) {
    while (!failed_ && items_.size() > left) emitFront(true);
}

template <class F>
void PackQueue::guarded(F&& emit) {
    try {
        emit();
    } catch (...) {
        // The line the failure cut ends here; nothing after it is shown or
        // appended, and the workers give up.
        failed_ = true;
        console().endLine();
        stopAll();
        throw;
    }
}

bool PackQueue::emitFront(bool wait) {
    Item& item = items_.front();
    bool emitted = true;
    guarded([&] {
        if (!item.job) {
            if (item.folder) {
                list_.appendFolder(std::move(item.folder));
                console().write('>');
            } else {
                console().write(item.text);
            }
            return;
        }
        Job& job = *item.job;
        std::unique_lock<std::mutex> lock(lock_);
        if (!job.finished) {
            if (!wait) {
                emitted = false;
                return;
            }
            // The copy waits for this file: show which one, with its size,
            // while it is read and packed.
            // Only the file awaited wakes the walk; the others finish
            // unannounced, which under Wine saves a trip to the server each.
            awaited_ = job.seq;
            if (onWait_) onWait_();
            {
                ProfileSpan blocked(Phase::blocked);
                progress_.wait(lock, [&] { return job.finished || job.sized; });
            }
            if (!job.finished) {
                int upTo = job.read ? kArrow : kSize;
                lock.unlock();
                showLine(job, upTo);
                console().flush();
                lock.lock();
                ProfileSpan blocked(Phase::blocked);
                progress_.wait(lock, [&] { return job.finished; });
            }
            awaited_ = UINT64_MAX;
        }
        lock.unlock();
        finishLine(job);
    });
    if (emitted) items_.pop_front();
    return emitted;
}

void PackQueue::showLine(Job& job, int upTo) {
    if (job.shown < kColon && upTo >= kColon) console().write(": ");
    if (job.shown < kSize && upTo >= kSize) console().write(formatSize(job.file.size));
    if (job.shown < kArrow && upTo >= kArrow) console().write(" -> ");
    if (upTo > job.shown) job.shown = upTo;
}

void PackQueue::finishLine(Job& job) {
    showLine(job, job.read ? kArrow : job.sized ? kSize : kColon);
    if (job.failure) std::rethrow_exception(job.failure);
    const uint32_t size = job.file.size, stored = job.file.record->info.storedSize.get();
    if (size) console().write(formatSize(stored) + formatRatio(stored, size));
    list_.appendFile(std::move(job.file.record), std::move(job.file.stored));
}

void PackQueue::work() {
    profilePackingThread();
    PackScratch scratch;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        {
            ProfileSpan idle(Phase::waitWork);
            workAdded_.wait(lock, [&] { return stopping_ || !work_.empty(); });
        }
        if (stopping_) {
            endProfiledThread();
            return;
        }
        Job& job = *work_.front();
        work_.pop_front();
        lock.unlock();

        std::exception_ptr failure;
        try {
            WorkerSteps steps(*this, job);
            packer_(job.file, steps, scratch);
        } catch (const PackStopped&) {
            // A later file of a copy that has already failed: never shown.
        } catch (...) {
            failure = std::current_exception();
        }

        lock.lock();
        job.failure = failure;
        job.finished = true;
        if (failure && job.seq < firstFailure_) {
            // Every file after this one is wasted work now.
            firstFailure_ = job.seq;
            memoryFreed_.notify_all();
        }
        if (awaited_ == job.seq) progress_.notify_all();
    }
}

bool PackQueue::stopped(const Job& job) const { return stopping_ || job.seq > firstFailure_; }

void PackQueue::reserve(const Job& job, uint32_t size) {
    const uint64_t need = PackScratch::memoryBeyond(size);
    if (need == 0) return;
    std::unique_lock<std::mutex> lock(lock_);
    // First come, first served: a large file at the front is not starved by
    // small ones behind it.
    waitingForMemory_.insert(job.seq);
    ProfileSpan waiting(Phase::waitRoom);
    memoryFreed_.wait(lock, [&] {
        return stopped(job) || (*waitingForMemory_.begin() == job.seq &&
                                (memoryInUse_ == 0 || memoryInUse_ + need <= memoryForFiles_));
    });
    waitingForMemory_.erase(job.seq);
    bool giveUp = stopped(job);
    if (!giveUp) memoryInUse_ += need;
    lock.unlock();
    memoryFreed_.notify_all();
    if (giveUp) throw PackStopped();
}

void PackQueue::release(uint32_t size) {
    const uint64_t need = PackScratch::memoryBeyond(size);
    if (need == 0) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        memoryInUse_ -= need;
    }
    memoryFreed_.notify_all();
}

}  // namespace tw
