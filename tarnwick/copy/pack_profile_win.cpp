#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

#include "pack_profile.h"

namespace tw {

namespace {

constexpr int kNoPhase = -1;

struct Profile {
    std::wstring file;
    LARGE_INTEGER start{}, frequency{};
    std::mutex lock;
    std::deque<ThreadProfile> threads;  // the walking thread first
};

Profile* active = nullptr;

struct ThreadState {
    ThreadProfile* log = nullptr;
    int phase = kNoPhase;
    double since = 0;
};
thread_local ThreadState self;

double now() {
    LARGE_INTEGER at;
    ::QueryPerformanceCounter(&at);
    return double(at.QuadPart - active->start.QuadPart) / double(active->frequency.QuadPart);
}

void attach(const std::string& name) {
    std::lock_guard<std::mutex> lock(active->lock);
    active->threads.emplace_back(name);
    self = ThreadState{&active->threads.back(), kNoPhase, 0};
}

// Switches the calling thread to phase, closing the span of the one before.
int enter(int phase) {
    if (!self.log) return kNoPhase;
    const double at = now();
    if (self.phase != kNoPhase) self.log->add(Phase(self.phase), self.since, at);
    const int outer = self.phase;
    self.phase = phase;
    self.since = at;
    return outer;
}

}  // namespace

void startCopyProfile() {
    wchar_t name[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"TARNWICK_PROFILE", name, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    active = new Profile;
    active->file = name;
    ::QueryPerformanceFrequency(&active->frequency);
    ::QueryPerformanceCounter(&active->start);
    attach("walk");
}

void profilePackingThread() {
    if (active) attach("pack " + std::to_string(active->threads.size()));
}

void endProfiledThread() {
    if (!self.log) return;
    enter(kNoPhase);
    self.log->setEnd(now());
    FILETIME created, exited, kernel, user;
    if (::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) {
        auto seconds = [](const FILETIME& t) {
            return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
        };
        self.log->setCpu(seconds(kernel) + seconds(user));
    }
    self.log = nullptr;
}

void finishCopyProfile() {
    if (!active) return;
    ThreadProfile* walk = self.log;
    endProfiledThread();
    const double wall = now();
    std::vector<const ThreadProfile*> threads;
    if (walk) threads.push_back(walk);
    for (const ThreadProfile& t : active->threads)
        if (&t != walk) threads.push_back(&t);
    const std::string report = profileReport(threads, wall);
    HANDLE file = ::CreateFileW(active->file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                                nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        ::WriteFile(file, report.data(), DWORD(report.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    delete active;
    active = nullptr;
}

ProfileSpan::ProfileSpan(Phase phase) : outer_(enter(int(phase))) {}
ProfileSpan::~ProfileSpan() {
    if (self.log) enter(outer_);
}

}  // namespace tw
