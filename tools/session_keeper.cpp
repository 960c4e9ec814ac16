// Keeps a Wine prefix's interactive window station alive.
//
// Wine frees the window station, and the clipboard with it, a moment after
// the last process attached to it has ended. On Windows the user's session
// outlives any one program; this idle process gives a Wine prefix the same
// property, so that a block copied by one run can be pasted by a later one.
// It is a development aid started by the scripts, not part of the product.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A message-only window attaches the process to the window station.
    HWND window = ::CreateWindowExA(0, "STATIC", "session keeper", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                    nullptr);
    if (!window) return 1;
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
    return 0;
}
