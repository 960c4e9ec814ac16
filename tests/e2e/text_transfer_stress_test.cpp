// A tree copied as text on one machine and pasted on another through a
// channel with a size cap: 20 MB through VMware Tools' 4 MiB, and 5 MB
// through 200 KiB as a browser console allows (36 parts; each is
// four process starts, and Wine now and then fails one of hundreds).
// Seconds per MB of text on both sides are printed as figures (each run's
// Wine start included; scripts/bench-text.sh measures without the
// harness); nothing here is timed.
#include <cstdio>

#include "text_support.h"

namespace e2e {
namespace {

class TextStress : public TextTransfer {
protected:
    // How many files of about 512 KiB the tree holds.
    virtual int files() const { return 40; }
    // Incompressible files (the text is as long as it can be) in nested
    // folders, with times and attributes.
    void makeSource() override {
        makeDir(source);
        for (int i = 0; i < 5; ++i) {
            makeDir(source + "\\f" + std::to_string(i));
            makeDir(source + "\\f" + std::to_string(i) + "\\sub");
        }
        for (int i = 0; i < files(); ++i) {
            const std::string folder = source + "\\f" + std::to_string(i % 5) + (i % 2 ? "\\sub" : "");
            const std::string file = folder + "\\data" + std::to_string(i) + ".bin";
            writeFile(file, randomBytes(512 * 1024 + i * 97, 100 + i));
            setLastWriteTime(file, 0x01D5000000000000ull + uint64_t(i) * 123456789);
            if (i % 7 == 0) setAttributes(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        }
    }

    // Copies with the size, carries every part through the cap and pastes
    // it; prints the figures.
    void crossWith(const std::string& size, size_t cap) {
        double copySeconds = 0, pasteSeconds = 0, textMb = 0;
        std::vector<std::string> parts = {copyAsText(size)};
        copySeconds += copied.seconds;
        const size_t count = partCount();
        RunResult r;
        for (size_t i = 0; i < count; ++i) {
            if (i) {
                parts.push_back(next());
                copySeconds += copied.seconds;
            }
            textMb += double(readFile(parts.back()).size() / 2) / 1e6;
            carry(parts.back(), cap);
            r = paste();
            ASSERT_EQ(r.exitCode, 0u) << r.out;
            pasteSeconds += r.seconds;
        }
        EXPECT_EQ(r.lines.back(), "Done.");
        expectArrived();
        std::printf("[ figures  ] /TEXT%s through a cap of %zu characters: %zu parts, %.1f MB of text; copy side "
                    "%.1f s (%.2f s/MB), paste side %.1f s (%.2f s/MB)\n",
                    size.c_str(), cap, count, textMb, copySeconds, copySeconds / textMb, pasteSeconds,
                    pasteSeconds / textMb);
        std::fflush(stdout);
    }
};

TEST_F(TextStress, TwentyMegabytesThroughFourMebibytes) { crossWith(":4M", 4u << 20); }

// Many small parts: a quarter of the tree gives the same walk through the
// parts as the whole one, with a quarter of the processes.
class TextStressSmall : public TextStress {
protected:
    int files() const override { return 10; }
};

TEST_F(TextStressSmall, FiveMegabytesThroughTwoHundredKibibytes) { crossWith(":200K", 200u << 10); }

}  // namespace
}  // namespace e2e
