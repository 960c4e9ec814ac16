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

// A file the walk waits for has its size shown while it is packed when it
// is larger than this; a smaller one takes moments.
constexpr bool showsWhileWaiting(uint32_t size) { return size > PackScratch::kKeptSize; }

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
    uint64_t sizeHint = 0;
    // How far packing has got: set by the packing thread, read by the walk
    // without the lock; failure is set before finished.
    std::atomic<bool> sized{false}, read{false}, finished{false};
    std::exception_ptr failure;
    // The walking thread's: how much of the line is out.
    int shown = kPath;
    Job* next = nullptr;  // in the list it waits in to be packed
};

void PackQueue::JobList::push(Job* job) noexcept {
    job->next = nullptr;
    (tail ? tail->next : head) = job;
    tail = job;
}

PackQueue::Job* PackQueue::JobList::pop() noexcept {
    Job* job = head;
    head = job->next;
    if (!head) tail = nullptr;
    return job;
}

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
    void reached(FileJob& file, FileStage stage) override {
        (stage == FileStage::sized ? job_.sized : job_.read) = true;
        // A walk waiting for this file shows its size while a large one is
        // read and packed; a small one it shows when it is done.
        if (stage == FileStage::sized && showsWhileWaiting(file.size)) queue_.wakeIfAwaited(job_.seq);
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
    // Room first, and the memory for files set for every thread asked for:
    // a started worker reads both, so neither may move or change under it
    // but under the lock.
    workers_.reserve(threads);
    memoryForFiles_ = kPackMemory - uint64_t(threads) * PackScratch::kMemory;
    try {
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::exception&) {
        // As many as the system would start (std::system_error, or
        // std::bad_alloc for a thread's start); none means packing inline.
    }
    std::lock_guard<std::mutex> lock(lock_);
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
    makeRoom();
}

void PackQueue::makeRoom() {
    // A full queue is emptied by a batch before the walk goes on: a
    // wake-up of the walk is a trip to the server under Wine.
    if (items_.size() >= kMaxQueued) emitUntil(kMaxQueued - kRefill);
}

int32_t PackQueue::file(const std::wstring& path, int32_t parentIndex, uint32_t attributes, const std::string& name,
                        uint64_t sizeHint) {
    int32_t index = entries_++;
    if (failed_) return index;
    ProfileSpan span(Phase::output);
    auto job = std::make_unique<Job>();
    job->file.path = path;
    job->file.parentIndex = parentIndex;
    job->file.attributes = attributes;
    job->file.name = name;
    job->seq = nextSeq_++;
    job->sizeHint = sizeHint;

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
    // Handed over a few at a time while the packing threads have work:
    // each hand-over takes the lock that they take. Nothing here
    // allocates, so a file in the queue is always handed over.
    handing_.push(queued);
    if (++handingCount_ >= kHandOver || idle_ > 0) handOver();
    emitReady();
    makeRoom();
    return index;
}

void PackQueue::handOver() {
    if (handing_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        while (!handing_.empty()) {
            Job* job = handing_.pop();
            (job->sizeHint > PackScratch::kKeptSize ? largeWork_ : work_).push(job);
        }
    }
    if (handingCount_ == 1)
        workAdded_.notify_one();
    else
        workAdded_.notify_all();
    handingCount_ = 0;
}

void PackQueue::wakeIfAwaited(uint64_t seq) {
    // The walk sets awaited_ under the lock and then checks the job; the
    // packing thread sets the job's state and then checks awaited_. One of
    // the two sees the other's write, so the walk never sleeps through it.
    if (awaited_ != seq) return;
    { std::lock_guard<std::mutex> lock(lock_); }
    progress_.notify_all();
}

void PackQueue::drain() {
    if (failed_) return;
    ProfileSpan span(Phase::output);
    handOver();
    emitUntil(0);
    if (lineCut_) console().endLine();
}

size_t PackQueue::waiting() const { return items_.size(); }

void PackQueue::emitReady() {
    while (!failed_ && !items_.empty() && emitFront(false)) {
    }
}

void PackQueue::emitUntil(size_t left) {
    while (!failed_ && items_.size() > left) {
        if (emitFront(false)) continue;
        if (Job* later = laterToAwait(left))
            await(*later);
        else
            emitFront(true);
    }
}

// With the front still being packed and left items to keep, a file further
// back that is not packed yet: the last before left items remain. Waiting
// for it rather than for the front wakes the walk once for the whole batch.
// None when the front is large (its line shows while it is packed) or when
// everything behind it is packed.
PackQueue::Job* PackQueue::laterToAwait(size_t left) {
    const Job& front = *items_.front().job;
    if (front.sizeHint > PackScratch::kKeptSize || (front.sized && showsWhileWaiting(front.file.size))) return nullptr;
    for (size_t i = items_.size() - left; i-- > 1;) {
        Job* job = items_[i].job.get();
        if (job && !job->finished) return job;
    }
    return nullptr;
}

void PackQueue::await(Job& job) {
    handOver();
    std::unique_lock<std::mutex> lock(lock_);
    awaited_ = job.seq;
    ProfileSpan blocked(Phase::blocked);
    progress_.wait(lock, [&] { return job.finished.load(); });
    awaited_ = UINT64_MAX;
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
        if (!job.finished) {
            if (!wait) {
                emitted = false;
                return;
            }
            handOver();
            std::unique_lock<std::mutex> lock(lock_);
            // The copy waits for this file: show which one, with its size,
            // while it is read and packed.
            // Only the file awaited wakes the walk; the others finish
            // unannounced, which under Wine saves a trip to the server each.
            awaited_ = job.seq;
            if (onWait_) onWait_();
            {
                ProfileSpan blocked(Phase::blocked);
                progress_.wait(lock, [&] { return job.finished || (job.sized && showsWhileWaiting(job.file.size)); });
            }
            if (!job.finished) {
                int upTo = job.read ? kArrow : kSize;
                lock.unlock();
                showLine(job, upTo);
                console().flush();
                lock.lock();
                ProfileSpan blocked(Phase::blocked);
                progress_.wait(lock, [&] { return job.finished.load(); });
            }
            awaited_ = UINT64_MAX;
        }
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
        if (!stopping_ && work_.empty() && largeWork_.empty()) {
            ProfileSpan idle(Phase::waitWork);
            ++idle_;
            workAdded_.wait(lock, [&] { return stopping_ || !work_.empty() || !largeWork_.empty(); });
            --idle_;
        }
        if (stopping_) {
            endProfiledThread();
            return;
        }
        Job& job = *nextWork();
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

        job.failure = failure;
        if (failure) {
            std::lock_guard<std::mutex> failed(lock_);
            if (job.seq < firstFailure_) {
                // Every file after this one is wasted work now.
                firstFailure_ = job.seq;
                memoryFreed_.notify_all();
            }
        }
        // Once finished, the file is the walk's, which may append it and free
        // it at once: nothing of it is touched after this.
        const uint64_t seq = job.seq;
        job.finished = true;
        wakeIfAwaited(seq);
        lock.lock();
    }
}

// Under lock_, with work queued. A large file goes first while the packing
// memory has room for it now; otherwise a small one does, rather than wait
// for room with nothing to do.
PackQueue::Job* PackQueue::nextWork() {
    JobList* from = &work_;
    if (!largeWork_.empty()) {
        const Job& large = *largeWork_.head;
        const uint64_t need = PackScratch::memoryBeyond(
            uint32_t(large.sizeHint < kMaxFileSize ? large.sizeHint : kMaxFileSize));
        if (work_.empty() ||
            (waitingForMemory_.empty() && (memoryInUse_ == 0 || memoryInUse_ + need <= memoryForFiles_)))
            from = &largeWork_;
    }
    return from->pop();
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
