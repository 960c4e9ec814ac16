// The copy's walk and its queue against the real file system, with a file
// that is still being packed at the front: how much may wait behind it, and
// a walk that runs out of memory while items wait.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "tarnwick/copy/entry_list.h"
#include "tarnwick/copy/pack_file.h"
#include "tarnwick/copy/pack_queue.h"
#include "tarnwick/platform/console.h"

// While a thread has this set, every operator new on that thread fails;
// the packing workers are not affected.
static thread_local bool failAllocations = false;

void* operator new(std::size_t n) {
    if (failAllocations) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tw {
namespace {

class FailingAllocations {
public:
    FailingAllocations() { failAllocations = true; }
    ~FailingAllocations() { failAllocations = false; }
};

// A folder holding slow.txt (3 MiB of words, a while to compress at level 9),
// e.txt (empty) and b.txt, made the current folder so that the walk's paths
// are short.
class WalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "tw-walk-" + std::to_string(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryA(dir_.c_str(), nullptr));
        static const char* const kWords[] = {"walk", "queue", "file", "folder", "the", "of", "packed", "slow"};
        std::string text;
        uint32_t x = 7;
        while (text.size() < (3u << 20)) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            text += kWords[x % 8];
            text += x % 9 ? ' ' : '\n';
        }
        text.resize(3u << 20);
        write("slow.txt", text);
        write("e.txt", "");
        write("b.txt", "b");
        ::GetCurrentDirectoryA(MAX_PATH, saved_);
        ::SetCurrentDirectoryA(dir_.c_str());
        console().flush();
        out_ = ::CreateFileA((dir_ + "\\out.txt").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
        stdout_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
        ::SetStdHandle(STD_OUTPUT_HANDLE, out_);
    }
    void TearDown() override {
        console().endLine();
        console().flush();
        ::SetStdHandle(STD_OUTPUT_HANDLE, stdout_);
        ::CloseHandle(out_);
        ::SetCurrentDirectoryA(saved_);
        for (const char* name : {"slow.txt", "e.txt", "b.txt", "out.txt"}) ::DeleteFileA((dir_ + "\\" + name).c_str());
        ::RemoveDirectoryA(dir_.c_str());
    }
    void write(const char* name, const std::string& content) {
        HANDLE h = ::CreateFileA((dir_ + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(h, content.data(), DWORD(content.size()), &written, nullptr);
        ::CloseHandle(h);
    }
    // Standard output since SetUp (written out first), as the console
    // shows it; starts afresh afterwards.
    std::string takeOutput() {
        console().flush();
        std::string text(::GetFileSize(out_, nullptr), '\0');
        DWORD got = 0;
        ::SetFilePointer(out_, 0, nullptr, FILE_BEGIN);
        ::ReadFile(out_, &text[0], DWORD(text.size()), &got, nullptr);
        ::SetFilePointer(out_, 0, nullptr, FILE_BEGIN);
        ::SetEndOfFile(out_);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

    std::string dir_;
    char saved_[MAX_PATH] = "";
    HANDLE out_ = nullptr, stdout_ = nullptr;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(text.substr(from, at - from));
    if (from < text.size()) lines.push_back(text.substr(from));
    return lines;
}

// Whatever the walk sends behind a file still being packed waits, up to
// the bound, and then the walk waits: files, folders and progress text
// alike. The file at the front is held back until the walk waits for it,
// so the queue must fill to its bound first.
TEST_F(WalkTest, WhatWaitsBehindASlowFileIsBounded) {
    struct Case {
        const char* what;
        std::string line;  // what each step shows
        std::function<void(PackQueue&)> step;
        uint32_t files, folders;  // each step adds
        int steps;                // enough to fill the queue
    } const cases[] = {
        {"files", "e.txt: 0 bytes",
         [](PackQueue& q) {
             q.write(L"e.txt");
             q.file(L"e.txt", kTopLevel, FILE_ATTRIBUTE_ARCHIVE, "e.txt");
             q.write('\n');
         },
         1, 0, int(PackQueue::kMaxWaiting / 3 + 100)},
        {"folders", "d>",
         [](PackQueue& q) {
             q.write(L"d");
             q.folder(std::make_unique<FolderRecord>(makeFolderRecord(kTopLevel, "d", FILE_ATTRIBUTE_DIRECTORY)));
             q.write('\n');
         },
         0, 1, int(PackQueue::kMaxWaiting / 3 + 100)},
        {"progress text", "t", [](PackQueue& q) { q.write(L"t\n"); }, 0, 0, int(PackQueue::kMaxWaiting + 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryList list;
        size_t most = 0, whenTheWalkWaited = 0;
        HANDLE go = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        {
            PackQueue* walk = nullptr;
            auto held = [go](FileJob& job, FileSteps& steps, PackScratch& scratch) {
                if (job.path == L"slow.txt") ::WaitForSingleObject(go, 60000);
                packFile(job, steps, scratch);
            };
            // Called on the walking thread, so it may ask the queue.
            auto waits = [&] {
                if (!whenTheWalkWaited) whenTheWalkWaited = walk->waiting();
                ::SetEvent(go);
            };
            PackQueue queue(list, 2, held, waits);
            walk = &queue;
            queue.write(L"slow.txt");
            queue.file(L"slow.txt", kTopLevel, FILE_ATTRIBUTE_ARCHIVE, "slow.txt");
            queue.write('\n');
            for (int i = 0; i < c.steps; ++i) {
                c.step(queue);
                most = std::max(most, queue.waiting());
            }
            queue.drain();
        }
        ::CloseHandle(go);
        // The walk first waited with the queue full, not at the end.
        EXPECT_EQ(whenTheWalkWaited, PackQueue::kMaxWaiting);
        EXPECT_LE(most, PackQueue::kMaxWaiting);
        EXPECT_EQ(list.fileCount(), 1 + c.steps * c.files);
        EXPECT_EQ(list.folderCount(), c.steps * c.folders);
        std::vector<std::string> lines = splitLines(takeOutput());
        ASSERT_EQ(lines.size(), size_t(1 + c.steps));
        EXPECT_EQ(lines[0].rfind("slow.txt: 3.00 MB -> ", 0), 0u) << lines[0];
        EXPECT_EQ(std::count(lines.begin() + 1, lines.end(), c.line), c.steps);
    }
}

// The walk runs out of memory while items wait behind a file still being
// packed. The failure leaves the walk as std::bad_alloc, which the copy
// command shows as "Not enough memory." with exit code 1, and the line it
// cut is still ended. Ending it must not allocate: a second bad_alloc while
// the first unwinds would end the process. Where the queue's own storage
// next needs memory depends on how much waits, hence the rows.
TEST_F(WalkTest, RunningOutOfMemoryWhileItemsWait) {
    for (int waiting = 0; waiting < 16; ++waiting) {
        SCOPED_TRACE(waiting);
        EntryList list;
        bool raised = false;
        {
            PackQueue queue(list, 2);
            list.setQueue(&queue);
            try {
                list.collectPaths({L"slow.txt"});
                for (int i = 0; i < waiting; ++i) queue.write(L"t\n");
                FailingAllocations failing;
                list.collectPaths({L"b.txt"});
            } catch (const std::bad_alloc&) {
                raised = true;
                queue.drain();
            }
            list.setQueue(nullptr);
        }
        EXPECT_TRUE(raised);
        EXPECT_EQ(list.size(), 1u);
        const std::string out = takeOutput();
        EXPECT_EQ(out.back(), '\n') << "the cut line is ended";
        std::vector<std::string> lines = splitLines(out);
        ASSERT_GE(lines.size(), size_t(1 + waiting));
        EXPECT_EQ(lines[0].rfind("slow.txt: 3.00 MB -> ", 0), 0u) << lines[0];
        EXPECT_EQ(std::count(lines.begin() + 1, lines.begin() + 1 + waiting, "t"), waiting);
        // The failure struck before the path was out, or after.
        if (lines.size() > size_t(1 + waiting)) {
            EXPECT_EQ(lines.back(), "b.txt");
        }
        EXPECT_LE(lines.size(), size_t(2 + waiting));
    }
}

}  // namespace
}  // namespace tw
