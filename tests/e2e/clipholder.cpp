// Holds the clipboard open until its standard input ends.
//
// Opened with a window as owner, the clipboard stays locked against every
// other process (an owner-less open would not be exclusive under Wine).
// Prints "held" once it has the clipboard.
#include <windows.h>

#include <cstdio>

int main() {
    HWND owner = ::CreateWindowExA(0, "STATIC", "clipholder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!owner || !::OpenClipboard(owner)) {
        std::fputs("failed\n", stdout);
        return 1;
    }
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    char buffer[64];
    DWORD got = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    ::CloseClipboard();
    ::DestroyWindow(owner);
    return 0;
}
