#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarnwick/text/format_size.h"
#include "tarnwick/text/line_buffer.h"

namespace tw {
namespace {

TEST(FormatSize, TableAtEveryBoundary) {
    struct Case {
        uint32_t size;
        const char* text;
    } const cases[] = {
        {0, "0 bytes"},          {1, "1 byte"},           {2, "2 bytes"},
        {1023, "1023 bytes"},    {1024, "1.00 KB"},       {1536, "1.50 KB"},
        {1048575, "1024.00 KB"}, {1048576, "1.00 MB"},    {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"}, {4294967295u, "4.00 GB"}, {1152, "1.13 KB"},  // exact half: up
        {1034, "1.01 KB"},       {5 * 1048576 + 5243, "5.01 MB"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatSize(c.size), c.text) << c.size;
}

TEST(FormatSize, TotalsPastFourGigabytesStayInGigabytes) {
    EXPECT_EQ(formatTotalSize(0), "0 bytes");
    EXPECT_EQ(formatTotalSize(1536), formatSize(1536));
    EXPECT_EQ(formatTotalSize(0xFFFFFFFFull), "4.00 GB");
    EXPECT_EQ(formatTotalSize(3ull * 0x7FFFFFFF), "6.00 GB");
    EXPECT_EQ(formatTotalSize(1536ull << 30), "1536.00 GB");
}

TEST(FormatSize, RatioHasTwoDecimalsAndAFullStop) {
    EXPECT_EQ(formatRatio(15, 15), " (100.00%)");
    EXPECT_EQ(formatRatio(1, 3), " (33.33%)");
    EXPECT_EQ(formatRatio(2, 3), " (66.67%)");
    EXPECT_EQ(formatRatio(0xFFFFFFFFu, 0xFFFFFFFFu), " (100.00%)");
    EXPECT_EQ(formatRatio(30, 3ull * 0x7FFFFFFF), " (0.00%)");
    EXPECT_EQ(formatRatio(0x7FFFFFFF, 0xFFFFFFFEull), " (50.00%)");
}

// Pieces appended in turn: the bytes a text-mode stdout would write, and
// whether a line is left open.
TEST(LineBuffer, WritesWhatTextModeStdoutWrites) {
    const struct {
        std::vector<std::string> pieces;
        std::string bytes;
        bool open;
    } cases[] = {
        {{}, "", false},
        {{"Z:\\a.txt", ": ", "1 byte"}, "Z:\\a.txt: 1 byte", true},
        {{"Z:\\d", ">", "\n"}, "Z:\\d>\r\n", false},
        {{"\n", "3 bytes -> 3 bytes (100.00%)\n"}, "\r\n3 bytes -> 3 bytes (100.00%)\r\n", false},
        {{"\nDone.\n", ""}, "\r\nDone.\r\n", false},       // an empty piece changes nothing
        {{"a\n\nb", "\r"}, "a\r\n\r\nb\r", true},        // a lone \r passes as it is
        {{std::string("x\0y\n", 4)}, std::string("x\0y\r\n", 5), false},
    };
    for (const auto& c : cases) {
        LineBuffer b;
        for (const std::string& p : c.pieces) b.append(p);
        EXPECT_EQ(std::string(b.data(), b.size()), c.bytes);
        EXPECT_EQ(b.lineOpen(), c.open) << c.bytes;
        EXPECT_EQ(b.endsLine(), !c.bytes.empty() && !c.open);
        b.clear();
        EXPECT_TRUE(b.empty());
        EXPECT_EQ(b.lineOpen(), c.open) << "written out, the line stays as it was";
    }
}

}  // namespace
}  // namespace tw
