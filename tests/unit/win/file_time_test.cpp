// Date texts and file queries, against the real Windows calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "tarnwick/text/file_time.h"
#include "tarnwick/text/format_size.h"

namespace tw {
namespace {

std::string tempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "tw-unit-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string expectedText(uint64_t value) {
    FILETIME utc = toFileTime(value), local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &st);
    char date[128], time[128];
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

TEST(FormatFileTime, LongDateBlankTimeOfDay) {
    // 2026-12-07 08:38:56 UTC.
    const uint64_t t = 134411063360000000ull;
    std::string text = formatFileTime(toFileTime(t));
    EXPECT_EQ(text, expectedText(t));
    // Long date, a blank, a time with seconds, in local time: the tests run
    // in India Standard Time (UTC+05:30 all year, scripts/wine-run.sh) with
    // en-US formats.
    EXPECT_EQ(text, "Monday, December 7, 2026 2:08:56 PM");
    EXPECT_LE(text.size(), 126u);
}

TEST(FormatFileTime, FractionsOfASecondAreNotShown) {
    const uint64_t t = 134411063360000000ull;
    EXPECT_EQ(formatFileTime(toFileTime(t)), formatFileTime(toFileTime(t + 9999999)));
    EXPECT_NE(formatFileTime(toFileTime(t)), formatFileTime(toFileTime(t + 10000000)));
}

// Times with the top bit set (only a forged block holds them) cannot be
// broken into calendar fields, whatever the time zone adds. The overwrite
// question formats the existing file's date just before the pasted one's;
// that leaves a filled SYSTEMTIME where the next call's would be.
TEST(FormatFileTime, TimesThatCannotBeConvertedGiveNoText) {
    for (uint64_t forged : {0x8000000000000000ull + 0x100000000000000ull, 0xC000000000000000ull,
                            0xFFFFFFFFFFFFFFFFull - 0x100000000000000ull}) {
        SCOPED_TRACE(forged);
        EXPECT_FALSE(formatFileTime(toFileTime(134411063360000000ull)).empty());
        EXPECT_EQ(formatFileTime(toFileTime(forged)), "");
    }
}

TEST(GetFileTimeAndSize, ReadsTimeAndLength) {
    std::string path = tempPath("a.bin");
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite("0123456789", 1, 10, f);
    fclose(f);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME set = toFileTime(130000000001234567ull);
    SetFileTime(h, nullptr, nullptr, &set);
    CloseHandle(h);

    FILETIME got{};
    uint32_t size = 0;
    EXPECT_TRUE(getFileTimeAndSize(path.c_str(), &got, &size));
    EXPECT_EQ(fromFileTime(got), 130000000001234567ull);
    EXPECT_EQ(size, 10u);
    EXPECT_TRUE(getFileTimeAndSize(path.c_str(), nullptr, nullptr));
    size = 0;
    EXPECT_TRUE(getFileTimeAndSize(path.c_str(), nullptr, &size));
    EXPECT_EQ(size, 10u);

    // Held open without read sharing by someone else: no answer.
    HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(getFileTimeAndSize(path.c_str(), &got, &size));
    CloseHandle(exclusive);
    DeleteFileA(path.c_str());
}

TEST(GetFileTimeAndSize, FailsForMissingPathsAndFolders) {
    FILETIME t{};
    uint32_t size = 77;
    EXPECT_FALSE(getFileTimeAndSize(tempPath("missing").c_str(), &t, &size));
    EXPECT_EQ(size, 77u);  // untouched
    std::string dir = tempPath("dir");
    CreateDirectoryA(dir.c_str(), nullptr);
    EXPECT_FALSE(getFileTimeAndSize(dir.c_str(), &t, &size));
    RemoveDirectoryA(dir.c_str());
}

TEST(GetFileTimeAndSize, LengthsBeyond32BitsUseTheLowHalf) {
    std::string path = tempPath("big.bin");
    struct Case {
        uint64_t length;
        bool ok;
        uint32_t size;
    } const cases[] = {{0xFFFFFFFFull, false, 0xFFFFFFFFu}, {0x10000000Aull, true, 10u}};
    for (const Case& c : cases) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LONG high = LONG(c.length >> 32);
        SetFilePointer(h, LONG(uint32_t(c.length)), &high, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
        uint32_t size = 0;
        EXPECT_EQ(getFileTimeAndSize(path.c_str(), nullptr, &size), c.ok) << c.length;
        EXPECT_EQ(size, c.size) << c.length;
        DeleteFileA(path.c_str());
    }
}

}  // namespace
}  // namespace tw
