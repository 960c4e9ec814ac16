// Waiting for the clipboard to change, for the commands that run until a
// transfer ends (/SEND, /RECEIVE), and for Ctrl+C or the console window
// closing while they wait.
//
// A message-only window registered with AddClipboardFormatListener hears of
// every change; where that call is missing (before Windows Vista) the
// clipboard's sequence number is compared a few times a second instead.
// Neither spins.
#pragma once

#include <windows.h>

namespace tw {

class ClipboardWatch {
public:
    // Starts listening at once: a change made after this returns is never
    // missed. Also takes over Ctrl+C and the console's close button for the
    // life of the object.
    ClipboardWatch();
    ~ClipboardWatch();
    ClipboardWatch(const ClipboardWatch&) = delete;
    ClipboardWatch& operator=(const ClipboardWatch&) = delete;

    enum class Wake { Changed, TimedOut, Stopped };
    // Waits until the clipboard changed since the last call (or since the
    // watch began), the time is up (INFINITE: never) or the user stopped
    // the command.
    Wake wait(DWORD timeoutMs);
    // The user pressed Ctrl+C or closed the window.
    bool stopped() const;

private:
    HWND window_ = nullptr;
    bool listening_ = false;
    DWORD sequence_ = 0;
};

}  // namespace tw
