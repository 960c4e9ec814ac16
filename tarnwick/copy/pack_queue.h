// The copy's files, read and packed on every core while the walk goes on,
// and handed to the list and to standard output in the order the walk met
// them.
//
// The walk sends everything anyone could observe through here: its progress
// text, its folders and its files. Whatever comes after a file that is still
// being packed waits behind it; the rest goes straight through. The list,
// the block and the console therefore get exactly what one thread would
// have given them, and a failure, the walk's own or a file's, shows at the
// point of the output where one thread would have met it: what came before
// it is out, nothing after it is.
//
// All members are called from the walking thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "entry_list.h"
#include "pack_file.h"

namespace tw {

// Files packed at once: one per processor, or TARNWICK_PACK_THREADS (1 to
// 64) when it is set. That variable is a test and diagnostic aid: the
// output and the block are the same with any number. The queue starts no
// more workers than its memory allows (16, or 6 in the 32-bit build).
unsigned packThreads();

class PackQueue {
public:
    // With one thread each file is packed on the calling thread when the
    // walk reaches it; otherwise by that many workers.
    PackQueue(EntryList& list, unsigned threads);
    // The same with a packer of the caller's instead of packFile, and a
    // call whenever the walk starts to wait for the file at the front (for
    // tests: a file held back until the walk waits for it).
    using Packer = std::function<void(FileJob&, FileSteps&, PackScratch&)>;
    PackQueue(EntryList& list, unsigned threads, Packer packer, std::function<void()> onWait);
    // Stops the workers (a file being compressed gives up within a slice);
    // whatever is still queued is dropped.
    ~PackQueue();
    PackQueue(const PackQueue&) = delete;
    PackQueue& operator=(const PackQueue&) = delete;

    // Each of these waits for the file at the front while too much waits
    // behind it, and then raises that file's failure if it failed.
    //
    // Progress text of the walk.
    void write(const std::wstring& text);
    void write(char c);
    // A folder's record, appended to the list in its turn and followed by
    // ">"; returns the index it gets.
    int32_t folder(std::unique_ptr<FolderRecord> record);
    // A file: ": ", its size and, once packed, the rest of its line.
    // Returns the index it gets. path is the walk's; name its record name;
    // sizeHint the size its folder's listing gave (0 when unknown), which
    // only decides when it is packed: files over a packing thread's kept
    // buffers go before smaller ones queued earlier, so that the last
    // large file of a tree does not leave one processor alone at the end.
    int32_t file(const std::wstring& path, int32_t parentIndex, uint32_t attributes, const std::string& name,
                 uint64_t sizeHint = 0);

    // Hands the files queued since the last hand-over to the packing
    // threads; the walk calls it before it lists a folder, so that they
    // need not wait for the listing.
    void handOver();

    // A failure of the walk itself cut its current line. Allocates nothing
    // and raises nothing, so it can be called while a std::bad_alloc
    // unwinds; drain ends the line after what came before it.
    void cutLine() noexcept { lineCut_ = true; }
    // Hands over everything still queued, waiting for files still being
    // packed, and raises the first failure among them. After a failure
    // of the walk itself this shows what the walk met before it.
    void drain();
    // Items waiting behind the file at the front (for tests), and how many
    // may: files, folders and progress text alike (a large file followed by
    // a tree of folders would otherwise queue the whole tree). Each holds a
    // path and, once packed, a record, a few hundred bytes; the walk goes
    // this far ahead of a large file, which keeps the packing threads fed
    // while it is compressed.
    size_t waiting() const;
    static constexpr size_t kMaxWaiting = 4096;
    // A full queue lets this many go before the walk goes on.
    static constexpr size_t kRefill = 512;

private:
    struct Job;
    struct Item;
    // Files waiting to be packed, first in first out, linked through the
    // files themselves: adding one allocates nothing and cannot fail.
    struct JobList {
        Job* head = nullptr;
        Job* tail = nullptr;
        bool empty() const { return head == nullptr; }
        void push(Job* job) noexcept;
        Job* pop() noexcept;
    };
    class InlineSteps;
    class WorkerSteps;

    void emitReady();
    void emitUntil(size_t left);
    void queue(Item item);
    bool emitFront(bool wait);
    void showLine(Job& job, int upTo);
    void finishLine(Job& job);
    template <class F>
    void guarded(F&& emit);
    void stopAll();
    void work();
    bool stopped(const Job& job) const;
    void reserve(const Job& job, uint32_t size);
    void release(uint32_t size);
    Job* nextWork();
    void makeRoom();
    Job* laterToAwait(size_t left);
    void await(Job& job);
    void wakeIfAwaited(uint64_t seq);

    EntryList& list_;
    Packer packer_;
    std::function<void()> onWait_;

    // The walking thread's own.
    std::deque<Item> items_;
    int32_t entries_ = 0;
    uint64_t nextSeq_ = 0;
    bool failed_ = false;
    bool lineCut_ = false;
    JobList handing_;  // queued, not yet handed to the packing threads
    size_t handingCount_ = 0;
    static constexpr size_t kHandOver = 32;

    // Shared with the workers.
    std::mutex lock_;
    std::condition_variable workAdded_, progress_, memoryFreed_;
    JobList work_, largeWork_;  // handed over, in walk order
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> firstFailure_{UINT64_MAX};
    uint64_t memoryInUse_ = 0;
    uint64_t memoryForFiles_ = 0;  // what the workers' scratch leaves
    std::set<uint64_t> waitingForMemory_;
    std::atomic<uint64_t> awaited_{UINT64_MAX};  // the file the walk waits for, if any; set under lock_
    std::atomic<unsigned> idle_{0};              // packing threads waiting for work
    std::vector<std::thread> workers_;
    PackScratch scratch_;  // the walking thread's, when it packs
};

}  // namespace tw
