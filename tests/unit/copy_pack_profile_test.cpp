// The copy's profile: spans shared out between the slices they cross, and
// the report's figures taken from them.
#include <gtest/gtest.h>

#include <string>

#include "tarnwick/copy/pack_profile.h"

namespace tw {
namespace {

TEST(PackProfile, SpansAreSharedOutBetweenSlices) {
    struct Case {
        const char* what;
        double from, to;
        double slices[3];  // seconds in slices 0, 1, 2 (of 1 s)
    } const cases[] = {
        {"inside one slice", 0.25, 0.75, {0.5, 0, 0}},
        {"across one boundary", 0.5, 1.25, {0.5, 0.25, 0}},
        {"across two", 0.75, 2.5, {0.25, 1.0, 0.5}},
        {"ending on a boundary", 1.5, 2.0, {0, 0.5, 0}},
        {"empty", 1.0, 1.0, {0, 0, 0}},
        {"backwards", 2.0, 1.0, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ThreadProfile t("pack 1");
        t.add(Phase::compress, c.from, c.to);
        t.add(Phase::read, 0.0, 0.125);
        double total = 0;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(t.inSlice(i, Phase::compress), c.slices[i], 1e-9) << i;
            total += c.slices[i];
        }
        EXPECT_NEAR(t.total(Phase::compress), total, 1e-9);
        EXPECT_NEAR(t.inSlice(0, Phase::read), 0.125, 1e-9);
        EXPECT_EQ(t.inSlice(7, Phase::compress), 0.0);
    }
}

TEST(PackProfile, ReportShowsEachThreadsPhasesAndTheCoresPerSlice) {
    ThreadProfile walk("walk"), a("pack 1"), b("pack 2");
    walk.add(Phase::blocked, 0.0, 1.5);
    walk.setCpu(0.25);
    a.add(Phase::compress, 0.0, 1.0);
    a.setEnd(1.5);  // a packing thread ends before the block is built
    b.add(Phase::compress, 0.0, 1.0);
    b.add(Phase::waitWork, 1.0, 2.0);
    const std::string report = profileReport({&walk, &a, &b}, 2.0);
    EXPECT_NE(report.find("2 packing threads"), std::string::npos) << report;
    auto row = [&](const char* name) {
        size_t at = report.find(std::string("\n") + name + " ");
        return at == std::string::npos ? std::string() : report.substr(at + 1, report.find('\n', at + 1) - at - 1);
    };
    // The walking thread: blocked 1.5 s of 2 (75 %), 0.5 s unaccounted.
    EXPECT_EQ(row("walk").rfind("walk       0.25", 0), 0u) << report;
    EXPECT_NE(row("walk").find("1.50 ( 75%)"), std::string::npos) << report;
    // The last column, "other": a thread that ended early counts only what
    // it did not account for up to its end.
    auto other = [&](const char* name) { return row(name).substr(row(name).size() - 11); };
    EXPECT_EQ(other("walk"), "0.50 ( 25%)") << report;
    EXPECT_EQ(other("pack 1"), "0.50 ( 25%)") << report;
    EXPECT_EQ(other("pack 2"), "0.00 (  0%)") << report;
    // Slice 0: two cores compressing; slice 1: one waiting for work.
    EXPECT_NE(report.find("   0.0       2.00      0.00      0.00      0.00"), std::string::npos) << report;
    EXPECT_NE(report.find("   1.0       0.00      0.00      0.00      1.00"), std::string::npos) << report;
}

}  // namespace
}  // namespace tw
