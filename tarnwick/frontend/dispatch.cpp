#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "../../common/handles.h"
#include "../copy/copy.h"
#include "../handsfree/hands_free.h"
#include "../paste/paste.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "../platform/formats.h"
#include "../transfer/self_transfer.h"
#include "../transfer/text_transfer.h"
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
                    "\tTarnwick  /SELF[:size]\n"
                    "\tTarnwick  /SEND[:size] [/WAIT:seconds] [/INTERVAL:seconds] path1 [path2...]\n"
                    "\tTarnwick  /[FORCE]RECEIVE path\n"
                    "\n");
}

// Switches compare without regard to ASCII case only, whatever the locale.
bool isSwitch(const std::wstring& arg, const char* name) {
    for (size_t i = 0;; ++i, ++name) {
        wchar_t a = i < arg.size() ? arg[i] : L'\0';
        if (a >= L'a' && a <= L'z') a = wchar_t(a - L'a' + L'A');
        if (a != wchar_t(static_cast<unsigned char>(*name))) return false;
        if (!a) return i == arg.size();
    }
}

// The arguments as the shell passed them, in UTF-16: the C runtime's argv
// holds them in the ANSI code page, where a name it cannot hold arrives
// changed or not at all.
std::vector<std::wstring> commandLine() {
    int count = 0;
    std::vector<std::wstring> args;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    ::LocalFree(argv);
    return args;
}

bool clearClipboard() {
    clipboard_session clipboard;
    if (!clipboard) {
        messageBox("Error opening clipboard.", MB_ICONWARNING);
        return false;
    }
    ::EmptyClipboard();
    clipboard.close();
    forgetKeptCopy();
    return true;
}

}  // namespace

int dispatch() {
    if (!registerFormats()) return kExitRegistration;
    const std::vector<std::wstring> args = commandLine();
    if (args.size() < 2 || args[1] == L"/?") {
        printUsage();
        return kExitUsage;
    }
    if (isSwitch(args[1], "/CLEAR")) return clearClipboard() ? 0 : 1;

    // The program itself, as PowerShell scripts for a side that has none.
    uint64_t scriptChars = 0;
    switch (parseSelfSwitch(args[1].c_str(), scriptChars)) {
    case SelfSwitch::None: break;
    case SelfSwitch::BadSize:
        messageBox(kSelfTooSmall, MB_ICONWARNING);
        return kExitUsage;
    case SelfSwitch::Self:
        if (args.size() != 2) {
            printUsage();
            return kExitUsage;
        }
        return placeSelf(scriptChars) ? 0 : 1;
    }

    // The block as text, in parts of at most this many characters.
    uint64_t partChars = 0;
    switch (parseTextSwitch(args[1].c_str(), partChars)) {
    case TextSwitch::None: break;
    case TextSwitch::BadSize:
        messageBox(badPartSizeText().c_str(), MB_ICONWARNING);
        return kExitUsage;
    case TextSwitch::Copy:
        if (args.size() < 3) {
            printUsage();
            return kExitUsage;
        }
        textCopyRequest() = TextCopyRequest{true, partChars};
        return copyPaths(std::vector<std::wstring>(args.begin() + 2, args.end())) ? 0 : 1;
    }
    if (isNextSwitch(args[1].c_str())) {
        uint32_t part = 0;
        if (args.size() > 3 || (args.size() == 3 && !parsePartNumber(args[2].c_str(), part))) {
            messageBox("Part number incorrect.", MB_ICONWARNING);
            return kExitUsage;
        }
        // /NEXT continues whichever of /SELF and a text copy came last.
        return (selfSetPlacedLast() ? placeNextScript(part) : placeNextPart(part)) ? 0 : 1;
    }

    // Hands-free: /SEND[:size] takes the size as /TEXT does.
    if (args[1].size() >= 5 && isSwitch(args[1].substr(0, 5), "/SEND")) {
        const std::wstring asText = L"/TEXT" + args[1].substr(5);
        SendOptions options;
        if (parseTextSwitch(asText.c_str(), options.partChars) == TextSwitch::Copy) {
            size_t first = 2;
            for (bool bad = false; first < args.size() && parseSendOption(args[first], options, bad); ++first) {
                if (bad) {
                    messageBox("Time incorrect: /WAIT:seconds and /INTERVAL:seconds take 1 to 86400 seconds.",
                               MB_ICONWARNING);
                    return kExitUsage;
                }
            }
            if (first == args.size()) {
                printUsage();
                return kExitUsage;
            }
            return sendHandsFree(std::vector<std::wstring>(args.begin() + first, args.end()), options);
        }
        if (parseTextSwitch(asText.c_str(), options.partChars) == TextSwitch::BadSize) {
            messageBox(badPartSizeText().c_str(), MB_ICONWARNING);
            return kExitUsage;
        }
    }
    const bool receive = isSwitch(args[1], "/RECEIVE"), forceReceive = isSwitch(args[1], "/FORCERECEIVE");
    if (receive || forceReceive) {
        if (args.size() != 3) {
            messageBox("Paste path not specified or incorrect.", MB_ICONWARNING);
            return kExitUsage;
        }
        return receiveHandsFree(args[2], forceReceive);
    }

    bool paste = isSwitch(args[1], "/PASTE");
    bool forcePaste = isSwitch(args[1], "/FORCEPASTE");
    if (!paste && !forcePaste) return copyPaths(std::vector<std::wstring>(args.begin() + 1, args.end())) ? 0 : 1;

    if (args.size() != 3) {
        messageBox("Paste path not specified or incorrect.", MB_ICONWARNING);
        return kExitUsage;
    }
    return pasteFromClipboard(args[2], forcePaste) ? 0 : 1;
}

}  // namespace tw
