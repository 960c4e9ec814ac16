#include "pack_profile.h"

#include <cmath>
#include <cstdio>

namespace tw {

const char* phaseName(Phase phase) {
    static const char* const kNames[kPhases] = {"wait-work", "wait-room", "open", "read", "compress",
                                                "list",      "output",    "blocked", "publish"};
    return kNames[size_t(phase)];
}

void ThreadProfile::add(Phase phase, double from, double to) {
    if (!(to > from) || from < 0) return;
    const size_t p = size_t(phase);
    totals_[p] += to - from;
    for (double at = from; at < to;) {
        const size_t slice = size_t(std::floor(at / slice_));
        const double end = std::fmin(to, double(slice + 1) * slice_);
        if (slices_.size() <= slice) slices_.resize(slice + 1);
        slices_[slice][p] += end - at;
        // A span that ends exactly on a boundary must not loop on it.
        at = end > at ? end : to;
    }
}

namespace {

template <class T>
std::string format(const char* pattern, T value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

constexpr Phase kWorkerPhases[] = {Phase::compress, Phase::read, Phase::open, Phase::waitWork, Phase::waitRoom};
constexpr Phase kWalkPhases[] = {Phase::list, Phase::output, Phase::blocked, Phase::compress, Phase::read,
                                 Phase::open, Phase::publish};

}  // namespace

std::string profileReport(const std::vector<const ThreadProfile*>& threads, double wall) {
    std::string out = "copy profile: " + format("%.2f s", wall) + ", " + std::to_string(threads.size() - 1) +
                      " packing threads (none: the walking thread packs)\n";
    out += "\nseconds per thread (share of the run)\n";
    out += format("%-8s", "thread") + format("%7s", "cpu");
    for (size_t p = 0; p < kPhases; ++p) out += format("%17s", phaseName(Phase(p)));
    out += format("%17s", "other") + "\n";
    for (const ThreadProfile* t : threads) {
        out += format("%-8s", t->name().c_str());
        out += t->cpu() < 0 ? format("%7s", "-") : format("%7.2f", t->cpu());
        double accounted = 0;
        for (size_t p = 0; p < kPhases; ++p) {
            const double s = t->total(Phase(p));
            accounted += s;
            out += format("%9.2f", s) + format(" (%3.0f%%)", wall > 0 ? 100 * s / wall : 0);
        }
        const double lived = t->end() >= 0 && t->end() < wall ? t->end() : wall;
        const double other = lived > accounted ? lived - accounted : 0;
        out += format("%9.2f", other) + format(" (%3.0f%%)", wall > 0 ? 100 * other / wall : 0) + "\n";
    }

    // When in the run: the packing threads together, in cores, and the
    // walking thread's share of each slice.
    size_t slices = 0;
    for (const ThreadProfile* t : threads) slices = t->slices() > slices ? t->slices() : slices;
    const double slice = threads.empty() ? 1.0 : threads[0]->sliceSeconds();
    out += "\nper " + format("%.1f s", slice) + ": packing threads in cores; walking thread in shares\n";
    out += format("%-7s", "from");
    for (Phase p : kWorkerPhases) out += format("%10s", phaseName(p));
    out += "  |";
    for (Phase p : kWalkPhases) out += format("%10s", phaseName(p));
    out += "\n";
    for (size_t i = 0; i < slices; ++i) {
        out += format("%6.1f ", double(i) * slice);
        for (Phase p : kWorkerPhases) {
            double cores = 0;
            for (size_t t = 1; t < threads.size(); ++t) cores += threads[t]->inSlice(i, p);
            out += format("%10.2f", cores / slice);
        }
        out += "  |";
        for (Phase p : kWalkPhases) out += format("%10.2f", threads.empty() ? 0 : threads[0]->inSlice(i, p) / slice);
        out += "\n";
    }
    return out;
}

}  // namespace tw
