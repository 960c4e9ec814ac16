#include "formats.h"

#include <cstdio>

#include "command.h"

namespace tw {

FormatTable formatTable;

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
    formatTable.names = ::RegisterClipboardFormatA("Tarnwick_Names");
    if (formatTable.names == 0) {
        messageBox("Error registering Tarnwick clipboard formats.", MB_ICONERROR);
        return false;
    }
    return true;
}

}  // namespace tw
