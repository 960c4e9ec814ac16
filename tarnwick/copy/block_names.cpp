#include "block_names.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "../archive/layout.h"
#include "../paste/names.h"

namespace tw {

namespace {

constexpr size_t kMaxRecordName = kNameField - 1;  // room for the terminator

// One entry per character of a substitute: the character's bytes.
using Chars = std::vector<std::string>;

bool forbiddenByte(unsigned char c) {
    return c < 0x20 || std::strchr("\\/:<>\"|?*", c) != nullptr;
}

bool highSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool lowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Each character as the code page holds it, or '_'. A character whose bytes
// include a separator or a control byte becomes '_' whole: in a double-byte
// code page that byte is only a trail byte, but a copy pasting under
// another code page would take it for itself.
Chars substituteChars(const std::u16string& name, const AnsiConverter& convert) {
    Chars chars;
    std::string bytes;
    for (size_t i = 0; i < name.size();) {
        size_t n = highSurrogate(name[i]) && i + 1 < name.size() && lowSurrogate(name[i + 1]) ? 2 : 1;
        bytes.clear();
        bool ok = convert(name.data() + i, n, bytes) && !bytes.empty();
        for (unsigned char c : bytes) ok = ok && !forbiddenByte(c);
        chars.push_back(ok ? bytes : std::string("_"));
        i += n;
    }
    return chars;
}

std::string join(const Chars& chars) {
    std::string s;
    for (const std::string& c : chars) s += c;
    return s;
}

// What the Win32 path layer would not leave alone: a dots-only or device
// name gets a leading '_', a trailing dot or blank becomes '_'. A multi-byte
// character never ends in '.' or ' ' (trail bytes lie higher).
std::string finish(std::string name) {
    if (name.find_first_not_of('.') == std::string::npos) name.insert(0, 1, '_');
    if (isReservedDeviceName(name.data(), name.size())) name.insert(0, 1, '_');
    char& last = name.back();
    if (last == '.' || last == ' ') last = '_';
    return name;
}

// stem + suffix + extension, cut to fit the name field: the stem loses its
// last characters first, down to one, then the extension.
std::string fit(Chars stem, const std::string& suffix, Chars extension) {
    for (;;) {
        std::string name = finish(join(stem) + suffix + join(extension));
        if (name.size() <= kMaxRecordName) return name;
        if (stem.size() > 1 || (extension.empty() && !stem.empty())) {
            stem.pop_back();
        } else if (!extension.empty()) {
            extension.pop_back();
        } else {
            return name.substr(0, kMaxRecordName);  // the suffix alone: cannot happen
        }
    }
}

std::string foldAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

}  // namespace

bool isPlainAscii(const std::u16string& name) {
    for (char16_t c : name)
        if (c >= 0x80) return false;
    return true;
}

std::vector<std::string> assignRecordNames(const std::vector<std::u16string>& siblings, const AnsiConverter& convert) {
    std::vector<std::string> names(siblings.size());
    std::vector<bool> exact(siblings.size(), false);
    std::unordered_set<std::string> taken;
    std::unordered_map<std::string, unsigned> nextSuffix;
    for (size_t i = 0; i < siblings.size(); ++i) {
        const std::u16string& s = siblings[i];
        std::string bytes;
        if (!s.empty() && convert(s.data(), s.size(), bytes) && !bytes.empty() && bytes.size() <= kMaxRecordName &&
            bytes.find('\0') == std::string::npos) {
            names[i] = std::move(bytes);
            exact[i] = true;
            taken.insert(foldAscii(names[i]));
        }
    }
    for (size_t i = 0; i < siblings.size(); ++i) {
        if (exact[i]) continue;
        Chars chars = substituteChars(siblings[i], convert);
        // The extension starts at the last dot that does not start the name.
        size_t dot = chars.size();
        for (size_t k = chars.size(); k-- > 1;)
            if (chars[k] == ".") {
                dot = k;
                break;
            }
        Chars stem(chars.begin(), chars.begin() + dot), extension(chars.begin() + dot, chars.end());
        // Where the search for a free suffix goes on for this name: a folder
        // of thousands of names that all become "___.txt" costs one try each.
        const std::string base = foldAscii(fit(stem, std::string(), extension));
        unsigned& next = nextSuffix[base];
        for (unsigned n = next ? next : 1;; ++n) {
            std::string candidate = fit(stem, n == 1 ? std::string() : "~" + std::to_string(n), extension);
            if (taken.insert(foldAscii(candidate)).second) {
                names[i] = std::move(candidate);
                next = n + 1;
                break;
            }
        }
    }
    return names;
}

}  // namespace tw
