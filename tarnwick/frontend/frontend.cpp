#include "frontend.h"

#include <cstdio>

#include "../../common/handles.h"
#include "console.h"

namespace tw {

FormatTable formatTable;

int messageBox(const char* text, UINT type) {
    console().flush();
    return ::MessageBoxA(nullptr, text, "Tarnwick", type);
}

bool registerFormats() {
    for (uint32_t index = 1; index <= kFormatCount; ++index) {
        char name[32];
        std::snprintf(name, sizeof name, "Tarnwick_%lu", static_cast<unsigned long>(index));
        formatTable.ids[index] = ::RegisterClipboardFormatA(name);
        if (formatTable.ids[index] == 0) {
            messageBox("Error registering Tarnwick clipboard formats.", MB_ICONERROR);
            return false;
        }
    }
    return true;
}

bool clearClipboard() {
    clipboard_session clipboard;
    if (!clipboard) {
        messageBox("Error opening clipboard.", MB_ICONWARNING);
        return false;
    }
    ::EmptyClipboard();
    return true;
}

}  // namespace tw
