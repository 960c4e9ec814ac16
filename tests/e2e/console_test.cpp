// Tarnwick in a console of its own (CREATE_NEW_CONSOLE): what its console
// writer puts on the screen, read back cell by cell. Every other test reads
// standard output through a pipe, where the program writes ANSI bytes; only
// here does it take the console's path (WriteConsoleW).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

// The screen of the console this process is attached to, from the top to
// the cursor's row, every row as wide as the buffer: a line longer than a
// row goes on in the next one.
std::wstring screenText() {
    HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return L"(no CONOUT$: error " + std::to_wstring(::GetLastError()) + L")";
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::wstring screen;
    if (::GetConsoleScreenBufferInfo(out, &info)) {
        std::vector<wchar_t> row(size_t(info.dwSize.X));
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD read = 0;
            if (!::ReadConsoleOutputCharacterW(out, row.data(), DWORD(row.size()), COORD{0, y}, &read)) break;
            screen.append(row.data(), read);
        }
    }
    ::CloseHandle(out);
    return screen;
}

// A copy of names in several scripts, one beyond the Basic Multilingual
// Plane (a surrogate pair), shows each name exactly on the screen. The
// copy is held at its end: the clipboard is taken by another process, so
// that it stops at its "Error opening clipboard." box, and this process
// joins its console before it goes (the console goes with its last
// process).
TEST(Console, NamesInEveryScriptReachTheScreen) {
    TempDir dir;
    const std::string tree = dir / "tree";
    makeDir(tree);
    const std::vector<std::string> names = {u8"Отчёт за март.txt", u8"Αρχείο.txt", u8"文件夹说明.txt",
                                            u8"smile 😀.txt"};
    for (const std::string& name : names) writeFile(tree + "\\" + name, name);

    ClipboardHolder holder;
    auto copy = Process::inNewConsole(tarnwickExe(), {tree});
    HWND box = copy->waitForMessageBox("Tarnwick");
    ASSERT_NE(box, nullptr) << "the copy showed no box";
    ASSERT_EQ(readBox(box).text, "Error opening clipboard.");
    ::FreeConsole();  // whatever console the test itself was given
    ASSERT_TRUE(::AttachConsole(copy->pid())) << "AttachConsole: error " << ::GetLastError();
    press(box, IDOK);
    ASSERT_TRUE(copy->wait(30000));
    EXPECT_EQ(copy->exitCode(), 1u);
    const std::wstring screen = screenText();
    ::FreeConsole();

    EXPECT_NE(screen.find(widen(tree + ">")), std::wstring::npos) << narrow(screen);
    for (const std::string& name : names)
        EXPECT_NE(screen.find(widen(tree + "\\" + name + ": ")), std::wstring::npos) << name << "\n" << narrow(screen);
    size_t total = 0;
    for (const std::string& name : names) total += name.size();
    EXPECT_NE(screen.find(widen(std::to_string(total) + " bytes -> ")), std::wstring::npos) << narrow(screen);
}

}  // namespace
}  // namespace e2e
