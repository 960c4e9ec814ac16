// What every command of the console program shares: its message boxes and
// the guard that turns a failed command into a box and an exit code.
#pragma once

#include <windows.h>

#include <new>
#include <stdexcept>
#include <string>

namespace tw {

// Every box of the console program: no owner, caption "Tarnwick". Standard
// output is written out first so the console shows what led up to the box.
// The text is ANSI, or UTF-16 where it carries names.
int messageBox(const char* text, UINT type);
int messageBox(const std::wstring& text, UINT type);

// Runs a command body. A raised message text is shown (the empty text, a
// Cancel, silently), a failed allocation as "Not enough memory.", anything
// else as "Unknown error!". Everything the body
// owns has been released by the time the box appears.
template <class Body>
bool runCommand(Body&& body) {
    try {
        body();
        return true;
    } catch (const char* text) {
        if (text && *text) messageBox(text, MB_ICONWARNING);
    } catch (const std::bad_alloc&) {
        // bad_array_new_length among them; a size past what a container
        // can hold is the same fault on a 32-bit build.
        messageBox("Not enough memory.", MB_ICONWARNING);
    } catch (const std::length_error&) {
        messageBox("Not enough memory.", MB_ICONWARNING);
    } catch (...) {
        messageBox("Unknown error!", MB_ICONERROR);
    }
    return false;
}

}  // namespace tw
