#include "clipboard_watch.h"

#include "console.h"

#ifndef WM_CLIPBOARDUPDATE
#define WM_CLIPBOARDUPDATE 0x031D
#endif

namespace tw {

namespace {

using ListenerCall = BOOL(WINAPI*)(HWND);

// Set by the console's handler thread, waited on by the command's thread.
HANDLE stopEvent() {
    static HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}
// Set once the command has wound up, so that a closing console waits for it.
HANDLE finishedEvent() {
    static HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI onConsoleEvent(DWORD type) {
    ::SetEvent(stopEvent());
    // Windows ends the process when this returns for a closing window or a
    // logoff; give the command a moment to leave everything in order first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(finishedEvent(), 4000);
    return TRUE;
}

LRESULT CALLBACK watchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLIPBOARDUPDATE) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 1);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t kWindowClass[] = L"TarnwickClipboardWatch";

}  // namespace

ClipboardWatch::ClipboardWatch() {
    ::ResetEvent(stopEvent());
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    sequence_ = ::GetClipboardSequenceNumber();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = watchProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    ::RegisterClassW(&wc);
    window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    // Vista and later; looked up so that the program still starts on XP.
    const auto add = reinterpret_cast<ListenerCall>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AddClipboardFormatListener")));
    listening_ = window_ && add && add(window_);
}

ClipboardWatch::~ClipboardWatch() {
    if (listening_) {
        const auto remove = reinterpret_cast<ListenerCall>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "RemoveClipboardFormatListener")));
        if (remove) remove(window_);
    }
    if (window_) ::DestroyWindow(window_);
    console().flush();
    ::SetEvent(finishedEvent());
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool ClipboardWatch::stopped() const { return ::WaitForSingleObject(stopEvent(), 0) == WAIT_OBJECT_0; }

ClipboardWatch::Wake ClipboardWatch::wait(DWORD timeoutMs) {
    // Without the listener the sequence number is looked at this often.
    const DWORD kPollMs = 100;
    const DWORD start = ::GetTickCount();
    HANDLE stop = stopEvent();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (stopped()) return Wake::Stopped;
        if (listening_) {
            if (::GetWindowLongPtrW(window_, GWLP_USERDATA)) {
                ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
                sequence_ = ::GetClipboardSequenceNumber();
                return Wake::Changed;
            }
        } else {
            // The number moves on by more than one for some changes: only
            // inequality means anything.
            const DWORD now = ::GetClipboardSequenceNumber();
            if (now != sequence_) {
                sequence_ = now;
                return Wake::Changed;
            }
        }
        DWORD waitMs = listening_ ? INFINITE : kPollMs;
        if (timeoutMs != INFINITE) {
            const DWORD spent = ::GetTickCount() - start;
            if (spent >= timeoutMs) return Wake::TimedOut;
            if (timeoutMs - spent < waitMs) waitMs = timeoutMs - spent;
        }
        ::MsgWaitForMultipleObjects(1, &stop, FALSE, waitMs, QS_ALLINPUT);
    }
}

}  // namespace tw
