// Record names for the block: exact where the code page holds the name,
// otherwise a substitute that any copy pastes as a valid, distinct name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarnwick/archive/layout.h"
#include "tarnwick/copy/block_names.h"
#include "tarnwick/paste/names.h"

namespace tw {
namespace {

// Code page 1252 as far as these names go: Latin-1 converts, nothing else.
bool latin1(const char16_t* units, size_t count, std::string& bytes) {
    for (size_t i = 0; i < count; ++i) {
        if (units[i] >= 0x100) return false;
        bytes += char(units[i]);
    }
    return true;
}

// A double-byte code page: ASCII as it is, CJK and fullwidth forms as two
// bytes, lead 0x88, trail 0x80 and above. Like Shift-JIS, one character
// (U+30BD) has the trail byte 0x5C, which is a backslash on its own.
bool dbcs(const char16_t* units, size_t count, std::string& bytes) {
    for (size_t i = 0; i < count; ++i) {
        char16_t c = units[i];
        if (c < 0x80) {
            bytes += char(c);
        } else if (c == 0x30BD) {
            bytes += "\x83\x5C";
        } else if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xFF01 && c <= 0xFF5E)) {
            bytes += char(0x88);
            bytes += char(0x80 + c % 0x7F);
        } else {
            return false;
        }
    }
    return true;
}

bool dbcsLead(unsigned char b) { return b == 0x88 || b == 0x83; }

// n CJK characters from U+4E00 on, and their bytes under dbcs.
std::u16string cjk(size_t n) {
    std::u16string s;
    for (size_t i = 0; i < n; ++i) s += char16_t(0x4E00 + i);
    return s;
}
std::string cjkBytes(size_t n) {
    std::string s;
    std::u16string units = cjk(n);
    dbcs(units.data(), units.size(), s);
    return s;
}

TEST(BlockNames, ExactWhereTheCodePageHoldsTheNameElseSubstitutes) {
    const std::u16string emoji = u"\U0001F600";
    struct Case {
        const char* what;
        bool (*convert)(const char16_t*, size_t, std::string&);
        std::vector<std::u16string> siblings;
        std::vector<std::string> names;
    } const cases[] = {
        {"exact names kept", latin1, {u"plain.txt", u"\u00e9t\u00e9"}, {"plain.txt", "\xe9t\xe9"}},
        {"Cyrillic under 1252", latin1, {u"\u041e\u0442\u0447\u0451\u0442.txt"}, {"_____.txt"}},
        {"a surrogate pair is one character", latin1, {emoji + u"x", u"a\xD800"}, {"_x", "a_"}},
        {"differing only in what 1252 lacks", latin1,
         {u"\u0424\u0430\u0439\u043b 1.txt", u"\u0424\u043e\u0439\u043b 1.txt", u"\u0424\u0430\u0439\u043b 1.txt"},
         {"____ 1.txt", "____ 1~2.txt", "____ 1~3.txt"}},
        {"fullwidth full stops", latin1, {u"\uFF0E\uFF0E"}, {"__"}},
        {"fullwidth backslash", latin1, {u"a\uFF3Cb.txt", u"a"}, {"a_b.txt", "a"}},
        {"fullwidth forms a double-byte code page holds", dbcs, {u"\uFF0E\uFF0E"}, {"\x88\x90\x88\x90"}},
        {"substitute equal to an exact sibling", latin1, {emoji + u".txt", u"_.txt"}, {"_~2.txt", "_.txt"}},
        {"ASCII letters compared without case", latin1, {u"A_.TXT", u"a" + emoji + u".txt"}, {"A_.TXT", "a_~2.txt"}},
        {"suffix before the last dot only", latin1, {u"_._", emoji + u"._", u".\u0100"}, {"_._", "_~2._", "._"}},
        {"a device gets a leading _", latin1, {u"CON." + emoji, u"nul .\u0100", u"LPT\u00B9.\u0100", u"COM" + emoji},
         {"_CON._", "_nul ._", "_LPT\xB9._", "COM_"}},
        {"no trailing dot or blank", latin1, {emoji + u".", u"a\u0100 "}, {"__", "a__"}},
        {"a trail byte 0x5C is kept only in an exact name", dbcs, {u"\u30BD.txt", u"\u30BD" + emoji},
         {"\x83\x5C.txt", "__"}},
        {"too long for the field, stem shortened", dbcs, {cjk(255)}, {cjkBytes(131)}},
        {"too long, extension kept", dbcs, {cjk(250) + u".txt"}, {cjkBytes(129) + ".txt"}},
        {"too long and alike: the suffix takes room from the stem", dbcs,
         {cjk(140) + emoji + u".txt", cjk(140) + u"\u0100.txt"},
         {cjkBytes(129) + ".txt", cjkBytes(128) + "~2.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> names = assignRecordNames(c.siblings, c.convert);
        EXPECT_EQ(names, c.names);
        for (const std::string& n : names) {
            EXPECT_LE(n.size(), kNameField - 1);
            EXPECT_TRUE(isSafeName(n.c_str(), c.convert == dbcs ? dbcsLead : noLeadBytes)) << n;
        }
    }
}

TEST(BlockNames, PlainAsciiNeedsNoSideEntry) {
    EXPECT_TRUE(isPlainAscii(u"ReadMe.txt"));
    EXPECT_TRUE(isPlainAscii(u"\x7F"));
    EXPECT_FALSE(isPlainAscii(u"caf\u00e9"));
    EXPECT_FALSE(isPlainAscii(u"\xD800"));
}

}  // namespace
}  // namespace tw
