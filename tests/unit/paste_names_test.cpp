// Names from a clipboard block: only one plain path component is accepted,
// and double-byte characters are walked as one character each. The exact
// names in UTF-16 follow the same rules.
#include <gtest/gtest.h>

#include <string>

#include "tarnwick/paste/names.h"

namespace tw {
namespace {

// Lead bytes of code page 932 (Shift-JIS).
bool shiftJisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

struct NameCase {
    const char* name;
    bool single;  // accepted in a single-byte code page
    bool dbcs;    // accepted in code page 932
};

TEST(PasteNames, OnePathComponentOnly) {
    const NameCase cases[] = {
        // Ordinary names.
        {"a", true, true},
        {"ReadMe.TXT", true, true},
        {"x.tar.gz", true, true},
        {".hidden", true, true},
        {"..a", true, true},
        {"a..b", true, true},
        {" leading blank", true, true},
        {"with blank", true, true},
        {"name~1", true, true},
        {"percent%s$", true, true},
        {"del\x7f", true, true},
        {"\xe9t\xe9", true, false},  // "été" in 1252; 0xE9 't' is not a character in 932
        // Empty and dots only.
        {"", false, false},
        {".", false, false},
        {"..", false, false},
        {"...", false, false},
        // Separators, drives, streams, wildcards.
        {"a\\b", false, false},
        {"\\", false, false},
        {"..\\x", false, false},
        {"a/b", false, false},
        {"/", false, false},
        {"C:x", false, false},
        {"a.txt:stream", false, false},
        {"a<b", false, false},
        {"a>b", false, false},
        {"a\"b", false, false},
        {"a|b", false, false},
        {"a?b", false, false},
        {"a*b", false, false},
        // Control characters.
        {"a\x01", false, false},
        {"\tname", false, false},
        {"line\nbreak", false, false},
        {"\x1f", false, false},
        // Trailing dots and blanks vanish in the Win32 path layer.
        {"a.", false, false},
        {"a ", false, false},
        {"a. ", false, false},
        // Devices, in any case, with or without an extension.
        {"CON", false, false},
        {"con", false, false},
        {"Prn", false, false},
        {"aux.txt", false, false},
        {"NUL.tar.gz", false, false},
        {"nul .txt", false, false},
        {"COM0", false, false},
        {"com9.log", false, false},
        {"LPT1", false, false},
        {"lpt5.x", false, false},
        {"CONIN$", false, false},
        {"conout$.txt", false, false},
        {"COM\xb9", false, false},  // superscript one in 1252
        {"LPT\xb2.txt", false, false},
        // Near misses that are ordinary names.
        {"CONSOLE", true, true},
        {"COM", true, true},
        {"COM10", true, true},
        {"LPT", true, true},
        {"NULL", true, true},
        {"xcon", true, true},
        {"CON_", true, true},
        {"a.con", true, true},
        {"CONIN", true, true},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(isSafeName(c.name, noLeadBytes), c.single) << "single-byte: \"" << c.name << "\"";
        EXPECT_EQ(isSafeName(c.name, shiftJisLead), c.dbcs) << "Shift-JIS: \"" << c.name << "\"";
        // Read as Latin-1, every byte is the UTF-16 unit of the same value,
        // and the wide rules must answer as the single-byte ones.
        std::u16string wide;
        for (const char* p = c.name; *p; ++p) wide += char16_t(static_cast<unsigned char>(*p));
        EXPECT_EQ(isSafeWideName(wide.data(), wide.size()), c.single) << "UTF-16: \"" << c.name << "\"";
    }
}

TEST(PasteNames, WideNamesAreUnitsNotCharacters) {
    struct Case {
        std::u16string name;
        bool safe;
    } const cases[] = {
        {u"\u041e\u0442\u0447\u0451\u0442.txt", true},  // Cyrillic
        {u"\U0001F600.txt", true},                    // a surrogate pair
        {u"a\xD800", true},                           // lone surrogates are names too
        {u"\xDC00.", false},
        {u"e\u0301", true},                           // a combining mark
        {u"\uFF0E\uFF0E", true},                      // fullwidth full stops are no dots
        {u"a\uFF3Cb", true},                          // nor is a fullwidth backslash a separator
        {u"\uFF23\uFF2F\uFF2E", true},                // nor fullwidth CON a device
        {u"a\u3000", true},                           // only the ASCII blank trails away
        {std::u16string(255, u'\u4E2D'), true},
        {std::u16string(256, u'\u4E2D'), false},
        {std::u16string(u"a\0b", 3), false},          // an embedded NUL
        {u"COM\u00B9", false},
        {u"lpt\u00B3 .txt", false},
        {u"COM\u2074", true},                         // only 1, 2 and 3 have the Latin-1 forms
        {u"\u0100.\u0101.", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isSafeWideName(c.name.data(), c.name.size()), c.safe) << testing::PrintToString(c.name);
    EXPECT_FALSE(isSafeWideName(nullptr, 0));
    EXPECT_FALSE(isSafeWideName(u"", 0));
}

TEST(PasteNames, DoubleByteTrailBytesAreNotSeparators) {
    struct Case {
        std::string name;
        bool dbcs;
        bool single;
    } const cases[] = {
        // "ソ" (0x83 0x5C) and "表" (0x95 0x5C) end in the byte of a backslash.
        {"\x83\x5c", true, false},
        {"\x95\x5c.txt", true, false},
        {"a\x83\x5c" "b", true, false},
        // A trail byte equal to '|' is part of the character too.
        {"\x83\x7c", true, false},
        // A double-byte character ends the name: not a trailing dot or blank.
        {"x\x81\x40", true, true},
        // A lead byte without its trail, or with a low byte after it, is
        // not a character: refused.
        {"abc\x83", false, true},
        {"\x83.", false, false},
        {"\x83/x", false, false},
        {"\x83 ", false, false},
        {"\x83:", false, false},
        // The backslash after a whole character is a separator again.
        {"\x83\x5c\\x", false, false},
        {"\x83\x5c.", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isSafeName(c.name.c_str(), shiftJisLead), c.dbcs) << "Shift-JIS: " << testing::PrintToString(c.name);
        EXPECT_EQ(isSafeName(c.name.c_str(), noLeadBytes), c.single) << "single-byte: " << testing::PrintToString(c.name);
    }
}

TEST(PasteNames, TrailingBackslashIsTheLastCharacter) {
    struct Case {
        const char* text;
        bool single;
        bool dbcs;
    } const cases[] = {
        {"D:\\", true, true},
        {"D:", false, false},
        {"", false, false},
        {"\\", true, true},
        {"Z:\\tmp\\dest\\", true, true},
        {"Z:\\tmp\\dest", false, false},
        {"Z:\\\x83\x5c", true, false},        // ends in "ソ"
        {"Z:\\\x83\x5c\\", true, true},       // "ソ" and a real separator
        {"Z:\\a\x83", false, false},          // a dangling lead byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(endsWithBackslash(c.text, noLeadBytes), c.single) << c.text;
        EXPECT_EQ(endsWithBackslash(c.text, shiftJisLead), c.dbcs) << c.text;
    }
}

}  // namespace
}  // namespace tw
