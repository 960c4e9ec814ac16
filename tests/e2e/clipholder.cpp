// Holds the clipboard open until its standard input ends.
//   clipholder          holds it from the start
//   clipholder MS       from the start on, holds it for MS milliseconds
//                       after each change, as soon as it can open it, as a
//                       slow clipboard reader does
//                       (a history tool, a channel agent rendering a large
//                       text)
//
// Opened with a window as owner, the clipboard stays locked against every
// other process (an owner-less open would not be exclusive under Wine).
// Prints "held" once it has the clipboard, or once it listens for changes.

// The clipboard listener came with Vista; the project's own programs build
// for XP.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#undef WINVER
#define WINVER 0x0600
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

DWORD WINAPI waitForEndOfInput(void* mainThread) {
    char buffer[64];
    DWORD got = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    ::PostThreadMessageA(DWORD(reinterpret_cast<uintptr_t>(mainThread)), WM_QUIT, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    HWND owner = ::CreateWindowExA(0, "STATIC", "clipholder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const DWORD eachChangeMs = argc > 1 ? DWORD(std::strtoul(argv[1], nullptr, 10)) : 0;
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, before anyone posts to it
    if (!owner || !(eachChangeMs ? ::AddClipboardFormatListener(owner) : ::OpenClipboard(owner))) {
        std::fputs("failed\n", stdout);
        return 1;
    }
    HANDLE input = ::CreateThread(nullptr, 0, waitForEndOfInput,
                                  reinterpret_cast<void*>(uintptr_t(::GetCurrentThreadId())), 0, nullptr);
    if (!input) return 1;
    ::CloseHandle(input);
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (eachChangeMs && msg.message == WM_CLIPBOARDUPDATE) {
            // Whoever opened it first, this reader holds it next: a program
            // that read the change itself then meets the hold when it
            // places its answer.
            bool opened = false;
            for (int i = 0; i < 200 && !(opened = ::OpenClipboard(owner)); ++i) ::Sleep(5);
            if (opened) {
                ::Sleep(eachChangeMs);
                ::CloseClipboard();
            }
        }
        ::DispatchMessageA(&msg);
    }
    if (!eachChangeMs) ::CloseClipboard();
    ::DestroyWindow(owner);
    return 0;
}
