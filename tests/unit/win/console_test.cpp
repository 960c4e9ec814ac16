// The console writer on a real console (a new one, made for the test):
// a line longer than one WriteConsoleW call, with a surrogate pair where
// the cut would fall, reaches the screen whole and in order. No path under
// Wine is long enough for Tarnwick itself to print such a line (a Linux
// path ends at 4,096 bytes), so the writer is driven here directly.
// Wine's console keeps one UTF-16 unit per cell, so a pair cut in two
// writes looks the same on its screen as a whole one: the pair guard is
// seen only by a Windows console; what Wine shows is the line's order and
// completeness across the writes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "tarnwick/platform/console.h"

namespace tw {
namespace {

TEST(ConsoleWriter, LineLongerThanOneWriteReachesTheScreenWhole) {
    // The writer decides once per process whether standard output is a
    // console: this must be the process's first line (CTest runs each test
    // in a process of its own).
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << "AllocConsole: error " << ::GetLastError();
    HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetConsoleScreenBufferSize(out, COORD{250, 200}));  // room for the whole line
    const HANDLE before = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, out);

    // One write of the writer is 16,384 units: the pair takes units 16,383
    // and 16,384, across that cut.
    const std::wstring words = L"Отчёт Αρχείο 文件 name ";
    std::wstring line;
    while (line.size() < 16383) line += words;
    line.resize(16383);
    line += L"\U0001F600";
    while (line.size() < 20010) line += words;
    line.resize(20010);  // the last row part full, so the line end moves the cursor once
    Console writer;
    writer.write(line + L"\n");

    std::wstring screen(line.size(), L'\0');
    DWORD read = 0;
    const BOOL ok = ::ReadConsoleOutputCharacterW(out, &screen[0], DWORD(screen.size()), COORD{0, 0}, &read);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ::GetConsoleScreenBufferInfo(out, &info);
    ::SetStdHandle(STD_OUTPUT_HANDLE, before);
    ::CloseHandle(out);
    ::FreeConsole();

    ASSERT_TRUE(ok);
    ASSERT_EQ(read, line.size());
    EXPECT_TRUE(screen == line) << "the screen differs from unit "
                                << std::mismatch(line.begin(), line.end(), screen.begin()).first - line.begin();
    // The line end came after the whole line: the cursor is at the start of
    // the row after it.
    EXPECT_EQ(info.dwCursorPosition.X, 0);
    EXPECT_EQ(info.dwCursorPosition.Y, SHORT(line.size() / 250 + 1));
}

}  // namespace
}  // namespace tw
