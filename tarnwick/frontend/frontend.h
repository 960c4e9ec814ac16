// The console program's entry: clipboard formats, dispatch, and the guard
// that turns a failed command into a message box and an exit code.
#pragma once

#include <windows.h>

#include "../archive/layout.h"

namespace tw {

// Registered ids of "Tarnwick_1" (single-file block) and "Tarnwick_2"
// (tree block), addressed by the format index.
struct FormatTable {
    UINT ids[kFormatCount + 1] = {};
    UINT operator[](uint32_t index) const { return ids[index]; }
};
extern FormatTable formatTable;

bool registerFormats();
bool clearClipboard();

// Every box of the console program: no owner, caption "Tarnwick". Standard
// output is written out first so the console shows what led up to the box.
int messageBox(const char* text, UINT type);

// Runs a command body. A raised message text is shown (the empty text, a
// Cancel, silently), anything else as "Unknown error!". Everything the body
// owns has been released by the time the box appears.
template <class Body>
bool runCommand(Body&& body) {
    try {
        body();
        return true;
    } catch (const char* text) {
        if (text && *text) messageBox(text, MB_ICONWARNING);
    } catch (...) {
        messageBox("Unknown error!", MB_ICONERROR);
    }
    return false;
}

int dispatch(int argc, char** argv);

}  // namespace tw
