// Hands-free transfer of a 20 MB tree (incompressible files in nested
// folders, with times and attributes) through a two-way channel capped at
// VMware Tools' 4 MiB with the default part size, and of a quarter of it
// through a browser console's 256 KiB with no size given, where /SEND must
// find the size.
// Nothing here is timed: scripts/bench-text.sh measures.
#include "hands_free_support.h"

namespace e2e {
namespace {

class HandsFreeStress : public HandsFree {
protected:
    HandsFreeStress() { receiverWaitMs = 1200000; }
    void makeSource() override {
        makeDir(source);
        for (int i = 0; i < 5; ++i) {
            makeDir(source + "\\f" + std::to_string(i));
            makeDir(source + "\\f" + std::to_string(i) + "\\sub");
        }
        makeDir(source + "\\empty");
        writeFile(source + u8"\\Отчёт.txt", "report");
        // Through the browser console's cap a quarter of the tree (5 MB, still
        // some thirty parts after the sender found the size) keeps the row
        // within minutes in each build.
        const int files = GetParam().cap < (1u << 20) ? 10 : 40;
        for (int i = 0; i < files; ++i) {
            const std::string folder = source + "\\f" + std::to_string(i % 5) + (i % 2 ? "\\sub" : "");
            const std::string file = folder + "\\data" + std::to_string(i) + ".bin";
            writeFile(file, randomBytes(512 * 1024 + i * 97, 100 + i));
            setLastWriteTime(file, 0x01D5000000000000ull + uint64_t(i) * 123456789);
            if (i % 7 == 0) setAttributes(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        }
    }
};

const Row kStressChannels[] = {
    {"TwentyMegabytesTwoWayCappedAt4MiB", 4u << 20, "lf", 0, false, {"/SEND"}, false, Event::None, kPasted},
    {"FiveMegabytesCappedAt256KiBNoSizeGiven", 256u << 10, "keep", 0, false, {"/SEND"}, true, Event::None,
     "cutting the copy again into parts of 235520 characters."},
};

TEST_P(HandsFreeStress, TheTreeArrives) { runRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Channels, HandsFreeStress, ::testing::ValuesIn(kStressChannels),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
