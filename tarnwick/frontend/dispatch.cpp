#include <cstring>

#include "../copy/copy.h"
#include "../paste/paste.h"
#include "../transfer/text_transfer.h"
#include "console.h"
#include "frontend.h"

namespace tw {

namespace {

constexpr int kExitUsage = -1;
constexpr int kExitRegistration = 100;

void printUsage() {
    console().write("Tarnwick 2.0\n"
                    "\n"
                    "Syntax:-\n"
                    "\tTarnwick  path1 [path2...]\n"
                    "\tTarnwick  /[FORCE]PASTE path\n"
                    "\tTarnwick  /CLEAR\n"
                    "\tTarnwick  /TEXT[:size] path1 [path2...]\n"
                    "\tTarnwick  /NEXT [part]\n"
                    "\n");
}

// Switches compare without regard to ASCII case only, whatever the locale.
bool isSwitch(const char* arg, const char* name) {
    for (;; ++arg, ++name) {
        char a = *arg, b = *name;
        if (a >= 'a' && a <= 'z') a = char(a - 'a' + 'A');
        if (a != b) return false;
        if (!a) return true;
    }
}

}  // namespace

int dispatch(int argc, char** argv) {
    if (!registerFormats()) return kExitRegistration;
    if (argc < 2 || std::strcmp(argv[1], "/?") == 0) {
        printUsage();
        return kExitUsage;
    }
    if (isSwitch(argv[1], "/CLEAR")) return clearClipboard() ? 0 : 1;

    // The block as text, in parts of at most this many characters.
    uint64_t partChars = 0;
    switch (parseTextSwitch(argv[1], partChars)) {
    case TextSwitch::None: break;
    case TextSwitch::BadSize:
        messageBox(badPartSizeText().c_str(), MB_ICONWARNING);
        return kExitUsage;
    case TextSwitch::Copy:
        if (argc < 3) {
            printUsage();
            return kExitUsage;
        }
        textCopyRequest() = TextCopyRequest{true, partChars};
        return copyPaths(argv + 2, argc - 2) ? 0 : 1;
    }
    if (isNextSwitch(argv[1])) {
        uint32_t part = 0;
        if (argc > 3 || (argc == 3 && !parsePartNumber(argv[2], part))) {
            messageBox("Part number incorrect.", MB_ICONWARNING);
            return kExitUsage;
        }
        return placeNextPart(part) ? 0 : 1;
    }

    bool paste = isSwitch(argv[1], "/PASTE");
    bool forcePaste = isSwitch(argv[1], "/FORCEPASTE");
    if (!paste && !forcePaste) return copyPaths(argv + 1, argc - 1) ? 0 : 1;

    if (argc != 3) {
        messageBox("Paste path not specified or incorrect.", MB_ICONWARNING);
        return kExitUsage;
    }
    return pasteFromClipboard(argv[2], forcePaste) ? 0 : 1;
}

}  // namespace tw
