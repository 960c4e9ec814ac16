#include "names.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace tw {

namespace {

// Every double-byte code page Windows knows puts its trail bytes at 0x40 and
// above. A lead byte followed by anything lower (a separator, a dot, the
// terminator) is not a character, and a conversion could split it into a
// stand-in and the low byte on its own; such a name is refused.
constexpr unsigned char kLowestTrailByte = 0x40;

bool forbiddenSingleByte(unsigned char c) {
    if (c < 0x20) return true;  // control characters
    return std::strchr("\\/:<>\"|?*", c) != nullptr;
}

// Only ASCII letters fold: the device names are ASCII words.
template <class Ch>
unsigned upper(Ch c) {
    unsigned u = static_cast<typename std::make_unsigned<Ch>::type>(c);
    return u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u;
}

template <class Ch>
bool equalsUpper(const Ch* s, size_t n, const char* word) {
    if (std::strlen(word) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (upper(s[i]) != static_cast<unsigned char>(word[i])) return false;
    return true;
}

// The part before the first dot, trailing blanks dropped, names a device for
// the Win32 path layer: "nul", "CON.txt", "com1 .log", "LPT\xB9". Bytes and
// UTF-16 units alike: the superscript digits are B9, B2 and B3 in code page
// 1252 and U+00B9, U+00B2, U+00B3.
template <class Ch>
bool reservedDevice(const Ch* name, size_t length) {
    size_t n = 0;
    while (n < length && name[n] != Ch('.')) ++n;
    while (n > 0 && name[n - 1] == Ch(' ')) --n;
    static const char* const kWords[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* word : kWords)
        if (equalsUpper(name, n, word)) return true;
    if (n == 4 && (equalsUpper(name, 3, "COM") || equalsUpper(name, 3, "LPT"))) {
        unsigned digit = upper(name[3]);
        if (digit >= '0' && digit <= '9') return true;
        // Windows counts the superscript digits too. For bytes they are
        // refused whatever the code page: a little strict elsewhere, never
        // unsafe. (Were one of them a lead byte here, its trail byte would
        // make the part longer than four bytes.)
        if (digit == 0xB9 || digit == 0xB2 || digit == 0xB3) return true;
    }
    return false;
}

bool reservedDeviceName(const char* name) {
    return reservedDevice(name, std::strlen(name));
}

}  // namespace

bool isSafeName(const char* name, LeadBytePredicate isLeadByte) {
    if (!name || !*name) return false;
    bool onlyDots = true;
    unsigned char last = 0;  // last single-byte character, 0 after a double-byte one
    for (const char* p = name; *p;) {
        auto c = static_cast<unsigned char>(*p);
        if (isLeadByte(c)) {
            auto trail = static_cast<unsigned char>(p[1]);
            if (trail < kLowestTrailByte) return false;
            onlyDots = false;
            last = 0;
            p += 2;
            continue;
        }
        if (forbiddenSingleByte(c)) return false;
        if (c != '.') onlyDots = false;
        last = c;
        ++p;
    }
    if (onlyDots) return false;
    // Windows drops trailing dots and blanks, so "a." would open "a".
    if (last == '.' || last == ' ') return false;
    return !reservedDeviceName(name);
}

bool endsWithBackslash(const char* text, LeadBytePredicate isLeadByte) {
    bool backslash = false;
    for (const char* p = text; *p;) {
        if (isLeadByte(static_cast<unsigned char>(*p)) && p[1]) {
            backslash = false;
            p += 2;
        } else {
            backslash = *p == '\\';
            ++p;
        }
    }
    return backslash;
}

bool isReservedDeviceName(const char* name, size_t length) {
    return reservedDevice(name, length);
}

bool isSafeWideName(const char16_t* name, size_t units) {
    if (!name || units == 0 || units > kMaxNameUnits) return false;
    bool onlyDots = true;
    for (size_t i = 0; i < units; ++i) {
        char16_t c = name[i];
        // Surrogates, paired or not, are ordinary units here: a Windows name
        // is any sequence of units, valid Unicode or not.
        if (c < 0x80 && forbiddenSingleByte(static_cast<unsigned char>(c))) return false;
        if (c != u'.') onlyDots = false;
    }
    if (onlyDots) return false;
    char16_t last = name[units - 1];
    if (last == u'.' || last == u' ') return false;
    return !reservedDevice(name, units);
}

}  // namespace tw
