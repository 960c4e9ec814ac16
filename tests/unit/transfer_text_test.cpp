// The block as text: base64, the part text and its reader, the store of
// received parts, and the /TEXT and /NEXT arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tarnwick/transfer/base64.h"
#include "tarnwick/transfer/part_store.h"
#include "tarnwick/transfer/text_part.h"

namespace tw {
namespace {

using Bytes = std::vector<uint8_t>;

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

Bytes randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// The message text that a call raises; "" when it raises none.
template <class F>
std::string raised(F&& f) {
    try {
        f();
    } catch (const char* text) {
        return text;
    }
    return "";
}

ReadPart read(const std::string& text) {
    std::u16string w = wide(text);
    return readPart(w.data(), w.size());
}

// A copy of a block and names cut for parts of at most `chars` characters;
// the texts of all its parts.
std::vector<std::string> cut(const Bytes& payload, uint32_t blockLength, uint64_t chars, PartHeader& h) {
    h.copyId = 0x0123456789ABCDEFull;
    h.format = 2;
    h.blockLength = blockLength;
    h.blockCrc = crc32Of(payload.data(), blockLength);
    h.namesLength = uint32_t(payload.size() - blockLength);
    h.namesCrc = h.namesLength ? crc32Of(payload.data() + blockLength, h.namesLength) : 0;
    planParts(chars, h);
    std::vector<std::string> texts;
    for (h.number = 1; h.number <= h.count; ++h.number) texts.push_back(partText(h, payload.data() + h.offset()));
    h.number = 1;
    return texts;
}

TEST(TransferBase64, Rfc4648VectorsAndCanonicalDecoding) {
    const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        std::string text;
        appendBase64(reinterpret_cast<const uint8_t*>(v[0]), std::strlen(v[0]), text);
        EXPECT_EQ(text, v[1]);
        uint8_t out[8];
        std::u16string w = wide(v[1]);
        EXPECT_EQ(decodeBase64(w.data(), w.size(), out), (long long)std::strlen(v[0]));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), std::strlen(v[0])), v[0]);
    }
    // Counted in 64 bits: a 32-bit size_t wraps to 0 for both.
    EXPECT_EQ(base64Length(0xFFFFFFFFu), 5726623060ull);
    EXPECT_EQ(base64Length(0xC0000000u), 4294967296ull);
    // Not canonical: stray bits, short groups, padding inside, other characters.
    for (const char* bad : {"Zh==", "Zm9=", "Zg=", "Z===", "Zg==Zg==", "Zm9v\n", "Zm-v", "Zm9v Zm9v"}) {
        uint8_t out[16];
        std::u16string w = wide(bad);
        EXPECT_EQ(decodeBase64(w.data(), w.size(), out), -1) << bad;
    }
}

TEST(TransferPart, EveryPartFitsItsSizeAndTheirBytesMakeThePayload) {
    const Bytes payload = randomBytes(5000, 7);
    for (uint64_t chars : {minPartChars(), uint64_t(1000), uint64_t(4096), uint64_t(0)}) {
        SCOPED_TRACE(chars);
        PartHeader h;
        const std::vector<std::string> texts = cut(payload, 4700, chars, h);
        EXPECT_EQ(texts.size(), chars ? (5000 + h.partSize - 1) / h.partSize : 1u);
        Bytes joined;
        for (size_t i = 0; i < texts.size(); ++i) {
            if (chars) {
                EXPECT_LE(texts[i].size(), chars);
            }
            ReadPart p = read(texts[i]);
            ASSERT_EQ(p.status, PartStatus::Part);
            EXPECT_EQ(p.header.number, i + 1);
            EXPECT_TRUE(p.header.sameCopy(h));
            joined.insert(joined.end(), p.bytes.begin(), p.bytes.end());
        }
        EXPECT_EQ(joined, payload);
    }
    PartHeader tooMany;
    tooMany.blockLength = 0xFFFFFFFF;
    EXPECT_EQ(raised([&] { planParts(minPartChars(), tooMany); }), kTooManyParts);
}

TEST(TransferPart, ReaderForgivesLineEndsAndBlanksOnly) {
    PartHeader h;
    const std::string text = cut(randomBytes(600, 3), 600, 0, h)[0];
    auto replaceAll = [](std::string s, const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
        return s;
    };
    const size_t body = text.find('\n') + 1, end = text.find("TARNWICK END");
    std::string flipped = text;
    flipped[body + 10] = flipped[body + 10] == 'A' ? 'B' : 'A';
    std::string v2 = text;
    v2.replace(15, 1, "2");
    struct Case {
        std::string text;
        PartStatus status;
        bool cut;
    } cases[] = {
        {replaceAll(text, "\r\n", "\n"), PartStatus::Part, false},
        {replaceAll(text, "\r\n", " \t\r\n"), PartStatus::Part, false},
        {text + "\r\n\n  \r\n", PartStatus::Part, false},
        {text.substr(0, text.size() - 2), PartStatus::Part, false},
        {" " + text, PartStatus::NotAPart, false},
        {"Hello", PartStatus::NotAPart, false},
        {text.substr(0, 40), PartStatus::Incomplete, true},
        {text.substr(0, body + 100), PartStatus::Incomplete, true},
        {text.substr(0, end + 20), PartStatus::Incomplete, true},
        {text.substr(0, end), PartStatus::Incomplete, true},
        {flipped, PartStatus::Incomplete, false},
        {text.substr(0, body) + "\r\n" + text.substr(body), PartStatus::Incomplete, false},
        {text + "more\r\n", PartStatus::Invalid, false},
        {replaceAll(text, "format=2", "format=3"), PartStatus::Invalid, false},
        {replaceAll(text, "copy=0123456789ABCDEF", "copy=0123456789abcdef"), PartStatus::Invalid, false},
        {replaceAll(text, "block=600", "block=0600"), PartStatus::Invalid, false},
        {replaceAll(text, "1/1 crc=", "2/1 crc="), PartStatus::Invalid, false},
        {replaceAll(text, "partsize=600", "partsize=300"), PartStatus::Invalid, false},
        {v2, PartStatus::Newer, false},
        // A header that claims far more than the text holds allocates nothing;
        // one whose text a 32-bit process could not even hold is no part.
        {replaceAll(replaceAll(text, "block=600", "block=4294967295"), "partsize=600", "partsize=4294967295"),
         sizeof(size_t) == 4 ? PartStatus::Invalid : PartStatus::Incomplete, sizeof(size_t) != 4},
        {replaceAll(replaceAll(text, "block=600", "block=3221225472"), "partsize=600", "partsize=3221225472"),
         sizeof(size_t) == 4 ? PartStatus::Invalid : PartStatus::Incomplete, sizeof(size_t) != 4},
    };
    for (const Case& c : cases) {
        ReadPart p = read(c.text);
        EXPECT_EQ(p.status, c.status) << c.text.substr(0, 200);
        EXPECT_EQ(p.cut, c.cut) << c.text.substr(0, 200);
        EXPECT_EQ(p.bytes.empty(), c.status != PartStatus::Part);
    }
}

TEST(TransferStore, PartsInAnyOrderWithRepeatsMakeThePayloadOnce) {
    const Bytes payload = randomBytes(3000, 11);
    PartHeader h;
    const std::vector<std::string> texts = cut(payload, 2900, 1300, h);
    ASSERT_EQ(texts.size(), 4u);
    MemoryPartStorage storage;
    const struct {
        size_t part;
        bool repeated;
        uint32_t missing;
        const char* list;
    } steps[] = {{3, false, 3, "1, 2, 4"}, {1, false, 2, "2, 4"}, {3, true, 2, "2, 4"}, {4, false, 1, "2"}, {2, false, 0, ""}};
    for (const auto& step : steps) {
        Arrival a = receivePart(storage, read(texts[step.part - 1]));
        EXPECT_EQ(a.repeated, step.repeated);
        EXPECT_EQ(a.missing, step.missing);
        EXPECT_EQ(listMissing(a.present), step.list);
        EXPECT_EQ(a.payload.empty(), step.missing != 0);
        if (!step.missing) {
            EXPECT_EQ(a.payload, payload);
        }
    }
    // Kept until the paste is done, then dropped; any part of it pasted
    // again starts nothing.
    EXPECT_EQ(storage.copies().size(), 1u);
    forgetCopy(storage, h.copyId);
    EXPECT_TRUE(storage.copies().empty());
    for (const std::string& text : {texts.back(), texts.front()}) {
        Arrival again = receivePart(storage, read(text));
        EXPECT_TRUE(again.pastedAlready);
        EXPECT_TRUE(again.payload.empty());
        EXPECT_TRUE(storage.copies().empty());
    }
    EXPECT_EQ(arrivalText(receivePart(storage, read(texts.back()))),
              "Part 4 of 4 belongs to a copy that was pasted already. Nothing was done.");
    // Only the latest pasted copies are remembered.
    for (uint64_t id = 1; id <= kRememberedCopies; ++id) forgetCopy(storage, id);
    EXPECT_EQ(storage.pasted().size(), kRememberedCopies);
    EXPECT_EQ(storage.pasted().front(), 1u);
    EXPECT_FALSE(receivePart(storage, read(texts.back())).pastedAlready);
}

TEST(TransferStore, ForeignPartsChangedPartsAndOldCopiesAreRefusedOrDropped) {
    const Bytes payload = randomBytes(3000, 5);
    PartHeader h;
    std::vector<std::string> texts = cut(payload, 3000, 1000, h);
    MemoryPartStorage storage;
    // A kept, incomplete copy and a part of the same id with another first
    // line: the part being pasted wins, the kept one goes.
    std::string other = texts[1];
    other.replace(other.find("crc="), 12, "crc=00000000");
    ReadPart forged = read(other);
    ASSERT_EQ(forged.status, PartStatus::Part);
    EXPECT_FALSE(receivePart(storage, forged).replaced);
    Arrival genuine = receivePart(storage, read(texts[0]));
    EXPECT_TRUE(genuine.replaced);
    EXPECT_EQ(storage.parts(h.copyId), std::vector<uint32_t>{1});
    std::string line;
    ASSERT_TRUE(storage.header(h.copyId, line));
    EXPECT_EQ(line, headerLine(h));
    // A kept part changed on disk: the whole fails its CRC and is dropped.
    storage.kept[h.copyId].parts[1][0] ^= 1;
    for (size_t i = 1; i + 1 < texts.size(); ++i) EXPECT_FALSE(receivePart(storage, read(texts[i])).replaced);
    EXPECT_EQ(raised([&] { receivePart(storage, read(texts.back())); }), kPartsDisagree);
    EXPECT_TRUE(storage.copies().empty());
    // Only the latest copies are kept.
    for (uint64_t id = 1; id <= kMaxKeptCopies + 2; ++id) {
        PartHeader each;
        std::string first = cut(payload, 3000, 1000, each)[0];
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llX", (unsigned long long)id);
        first.replace(first.find("copy=") + 5, 16, hex);
        receivePart(storage, read(first));
    }
    const std::vector<uint64_t> kept = storage.copies();
    EXPECT_EQ(kept, (std::vector<uint64_t>{3, 4, 5, 6}));
}

TEST(TransferArguments, SwitchesSizesNumbersAndTexts) {
    const struct {
        const char* arg;
        TextSwitch kind;
        uint64_t chars;
    } switches[] = {
        {"/TEXT", TextSwitch::Copy, 3u << 20}, {"/text:256k", TextSwitch::Copy, 256u << 10},
        {"/Text:4M", TextSwitch::Copy, 4u << 20}, {"/TEXT:0", TextSwitch::Copy, 0},
        {"/TEXT:300000", TextSwitch::Copy, 300000}, {"/TEXT:10", TextSwitch::BadSize, 0},
        {"/TEXT:", TextSwitch::BadSize, 0}, {"/TEXT:12X", TextSwitch::BadSize, 0},
        {"/TEXT:4096M", TextSwitch::BadSize, 0}, {"/TEXT:99999999999999", TextSwitch::BadSize, 0},
        {"/TEXTS", TextSwitch::None, 0}, {"/PASTE", TextSwitch::None, 0},
    };
    for (const auto& s : switches) {
        uint64_t chars = 0;
        EXPECT_EQ(parseTextSwitch(s.arg, chars), s.kind) << s.arg;
        if (s.kind == TextSwitch::Copy) {
            EXPECT_EQ(chars, s.chars) << s.arg;
        }
    }
    uint64_t chars = 0;
    EXPECT_EQ(parseTextSwitch(L"/TEXT:1M", chars), TextSwitch::Copy);
    EXPECT_TRUE(isNextSwitch("/next") && !isNextSwitch("/NEXTX"));
    uint32_t n = 0;
    EXPECT_TRUE(parsePartNumber("65535", n) && n == 65535);
    for (const char* bad : {"0", "65536", "", "2a", "-1"}) EXPECT_FALSE(parsePartNumber(bad, n)) << bad;

    EXPECT_EQ(suggestPartSize(262144, true), "256K");
    EXPECT_EQ(suggestPartSize(4u << 20, false), "2M");
    EXPECT_EQ(suggestPartSize(5000, true), "4K");
    EXPECT_EQ(suggestPartSize(10, true), std::to_string(minPartChars()));
}

}  // namespace
}  // namespace tw
