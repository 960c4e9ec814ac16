// Setup's platform-free pieces: the four shell-integration options with
// their bit form, and the expansion of a registry row's text.
#pragma once

#include <cstdint>
#include <string>

namespace setup {

// One flag per check box of the installation dialog.
struct IntegrationOptions {
    bool sendTo = false;       // "Tarnwick.lnk" in the Send To folder
    bool quickLaunch = false;  // the same shortcut in the Quick Launch toolbar
    bool folderVerb = false;   // "Paste from Tarnwick" on every folder
    bool newMenu = false;      // the "Tarnwick Target" file type in the New menu
};

// The "ShellIntegrationOptions" value: bits 0 to 3, the rest zero.
inline uint32_t optionsToBits(const IntegrationOptions& o) {
    return (o.sendTo ? 1u : 0u) | (o.quickLaunch ? 2u : 0u) | (o.folderVerb ? 4u : 0u) |
           (o.newMenu ? 8u : 0u);
}

// Bits above 3 mean nothing and are ignored.
inline IntegrationOptions optionsFromBits(uint32_t bits) {
    IntegrationOptions o;
    o.sendTo = (bits & 1u) != 0;
    o.quickLaunch = (bits & 2u) != 0;
    o.folderVerb = (bits & 4u) != 0;
    o.newMenu = (bits & 8u) != 0;
    return o;
}

// A registry row's text: "%s" becomes the path and "%%" a single "%". The
// path is inserted as it is, so a "%" inside a folder name stays a "%";
// any other "%" sequence is kept literally. Setup uses it with wide texts.
template <class Char>
std::basic_string<Char> expandRegistryFormat(const Char* format, const Char* path) {
    std::basic_string<Char> out;
    for (const Char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += path;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += Char('%');
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace setup
