// Where a copy's threads spend their time: a diagnostic, written only when
// TARNWICK_PROFILE names a file (pack_profile_win.cpp), and never to
// standard output.
//
// Each thread keeps its own log of phases (a span of time from the copy's
// start to its end, in seconds), totalled and split into slices of the
// copy's run, so that the report can show both where a thread's time went
// overall and when in the run it went there. Platform-free: the clock and
// the file are the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace tw {

enum class Phase : int {
    // Packing threads.
    waitWork,  // nothing queued to pack
    waitRoom,  // a large file waits for its share of the packing memory
    open,      // opening and measuring a file
    read,      // reading it, dating it, closing it
    compress,  // CRC-32, deflate and the stored form's buffer
    // The walking thread.
    list,     // folder searches, attributes, names, folder identities
    output,   // progress lines and appends to the list
    blocked,  // waiting for the file at the front of the queue
    publish,  // building the block and handing it to the clipboard
    count
};
constexpr size_t kPhases = size_t(Phase::count);

const char* phaseName(Phase phase);

class ThreadProfile {
public:
    explicit ThreadProfile(std::string name, double sliceSeconds = 1.0)
        : name_(std::move(name)), slice_(sliceSeconds) {}

    // A span of phase from..to (seconds since the copy began); a span that
    // crosses slices is shared out between them.
    void add(Phase phase, double from, double to);
    // The thread's own processor time, when the system can tell, and when
    // it ended (a packing thread ends before the block is built); time up
    // to then that no phase accounts for is its "other".
    void setCpu(double seconds) { cpu_ = seconds; }
    void setEnd(double at) { end_ = at; }
    double end() const { return end_; }

    const std::string& name() const { return name_; }
    double cpu() const { return cpu_; }
    double total(Phase phase) const { return totals_[size_t(phase)]; }
    size_t slices() const { return slices_.size(); }
    double inSlice(size_t slice, Phase phase) const {
        return slice < slices_.size() ? slices_[slice][size_t(phase)] : 0.0;
    }
    double sliceSeconds() const { return slice_; }

private:
    std::string name_;
    double slice_;
    double cpu_ = -1;
    double end_ = -1;
    std::array<double, kPhases> totals_{};
    std::vector<std::array<double, kPhases>> slices_;
};

// The report: per thread, each phase's seconds and share of the run, then
// per slice the cores that the packing threads spent in each phase and the
// walking thread's shares. threads[0] is the walking thread.
std::string profileReport(const std::vector<const ThreadProfile*>& threads, double wallSeconds);

}  // namespace tw

// ---- the copy's profile (Windows: pack_profile_win.cpp) ----
namespace tw {

// Starts the profile when TARNWICK_PROFILE names a file; the calling
// thread is the walking one. Everything below does nothing otherwise.
void startCopyProfile();
// Registers the calling thread as a packing thread.
void profilePackingThread();
// Notes the calling thread's processor time; called as it ends.
void endProfiledThread();
// Writes the report to the file (replacing it).
void finishCopyProfile();

// The calling thread spends the span's life in phase; time in a span
// nested inside it counts for the inner one only.
class ProfileSpan {
public:
    explicit ProfileSpan(Phase phase);
    ~ProfileSpan();
    ProfileSpan(const ProfileSpan&) = delete;
    ProfileSpan& operator=(const ProfileSpan&) = delete;

private:
    int outer_;
};

}  // namespace tw
