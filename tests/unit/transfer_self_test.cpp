// The program as PowerShell scripts: SHA-256, the cut into scripts, the
// /SELF switch and the note /NEXT reads. What the scripts do is tested
// with PowerShell itself (e2e).
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "tarnwick/transfer/base64.h"
#include "tarnwick/transfer/self_script.h"

namespace tw {
namespace {

std::string hashOf(const std::string& s) { return sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

TEST(SelfSha256, StandardVectors) {
    struct Row {
        std::string input, digest;
    };
    const Row rows[] = {
        {"", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
        {"abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {std::string(1000000, 'a'), "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
        // 55, 56 and 64 bytes: where the length does or does not fit the last block.
        {std::string(55, 'x'), "D5E285683CD4EFC02D021A5C62014694958901005D6F71E89E0989FAC77E4072"},
        {std::string(56, 'x'), "04C26261370EE7541549D16DEE320C723E3FD14671E66A099AFE0A377C16888E"},
        {std::string(64, 'x'), "7CE100971F64E7001E8FE5A51973ECDFE1CED42BEFE7EE8D5FD6219506B5393C"}};
    for (const Row& row : rows) {
        EXPECT_EQ(hashOf(row.input), row.digest) << row.input.size() << " bytes";
    }
    // Fed in uneven slices, the digest is the same.
    const std::string long_(1000, 'q');
    Sha256 sha;
    for (size_t at = 0; at < long_.size(); at += 7)
        sha.add(reinterpret_cast<const uint8_t*>(long_.data()) + at, std::min<size_t>(7, long_.size() - at));
    uint8_t digest[32];
    sha.finish(digest);
    std::string hex;
    for (uint8_t b : digest) hex += std::string(1, "0123456789ABCDEF"[b >> 4]) + "0123456789ABCDEF"[b & 15];
    EXPECT_EQ(hex, "2E6BBA1F3CF48FE45FA1C56E25B47FB622DDE50EBA1E17E0A72464E32BF4AB41");
}

std::vector<SelfFile> sampleFiles(size_t exeBytes) {
    std::mt19937 rng(7);
    SelfFile exe{"Tarnwick.exe", std::vector<uint8_t>(exeBytes)};
    // Half noise, half text: compressible as a program is.
    for (size_t i = 0; i < exeBytes; ++i) exe.bytes[i] = i % 2 ? uint8_t(rng()) : uint8_t('A' + i % 7);
    return {exe, SelfFile{"zlib1.dll", std::vector<uint8_t>(3000, 9)}};
}

// The data lines of every script, joined and inflated, give the files back.
std::vector<uint8_t> inflatedData(const SelfSet& set) {
    std::string base64;
    for (const std::string& script : set.scripts) {
        size_t at = 0;
        while ((at = script.find("\r\n#>", at)) != std::string::npos) {
            at += 4;
            base64 += script.substr(at, script.find("\r\n", at) - at);
        }
    }
    std::u16string wide(base64.begin(), base64.end());
    std::vector<uint8_t> stream(wide.size() / 4 * 3);
    const long long n = decodeBase64(wide.data(), wide.size(), stream.data());
    EXPECT_GE(n, 0);
    stream.resize(size_t(n));
    std::vector<uint8_t> out(1 << 20);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = stream.data();
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

TEST(SelfScripts, CutToTheSizeAndCarryTheFiles) {
    const std::vector<SelfFile> files = sampleFiles(300000);
    std::vector<uint8_t> joined = files[0].bytes;
    joined.insert(joined.end(), files[1].bytes.begin(), files[1].bytes.end());
    struct Row {
        uint64_t chars;
        size_t scripts;
    };
    for (const Row& row : {Row{0, 1}, Row{3u << 20, 1}, Row{64 << 10, 0}, Row{16 << 10, 0}}) {
        const SelfSet set = makeSelfSet(files, true, row.chars);
        if (row.scripts) EXPECT_EQ(set.scripts.size(), row.scripts) << row.chars;
        else EXPECT_GT(set.scripts.size(), 2u) << row.chars;
        EXPECT_EQ(inflatedData(set), joined) << row.chars;
        for (size_t i = 0; i < set.scripts.size(); ++i) {
            const std::string& s = set.scripts[i];
            if (row.chars) {
                EXPECT_LE(s.size(), row.chars) << i;
            }
            const std::string of = std::to_string(i + 1) + "/" + std::to_string(set.scripts.size());
            EXPECT_NE(s.find("#TWSELF " + set.setId + " " + of + " begin\r\n"), std::string::npos);
            EXPECT_NE(s.find("#TWSELF " + set.setId + " " + of + " end lines="), std::string::npos);
            EXPECT_NE(s.find("Fingerprint of Tarnwick.exe: " + set.fingerprint), std::string::npos);
            // Only ASCII, and no line a console cannot take in one piece.
            size_t lineStart = 0;
            for (size_t k = 0; k < s.size(); ++k) {
                ASSERT_LT(uint8_t(s[k]), 0x80);
                if (s[k] == '\n') {
                    EXPECT_LE(k - lineStart, 260u) << s.substr(lineStart, 80);
                    lineStart = k + 1;
                }
            }
        }
        // The same files and size make the same scripts: /NEXT makes them again.
        EXPECT_EQ(makeSelfSet(files, true, row.chars).scripts, set.scripts);
    }
    const std::string exeHash = hashOf(std::string(files[0].bytes.begin(), files[0].bytes.end()));
    EXPECT_EQ(makeSelfSet(files, true, 0).fingerprint,
              exeHash.substr(0, 4) + "-" + exeHash.substr(4, 4) + "-" + exeHash.substr(8, 4));
    EXPECT_THROW(makeSelfSet(files, true, 16000), const char*);
}

TEST(SelfScripts, SwitchAndNote) {
    struct Row {
        const wchar_t* arg;
        SelfSwitch result;
        uint64_t chars;
    };
    const Row rows[] = {{L"/SELF", SelfSwitch::Self, 3u << 20}, {L"/self:200K", SelfSwitch::Self, 200 << 10},
                        {L"/Self:0", SelfSwitch::Self, 0},       {L"/SELF:16K", SelfSwitch::Self, 16 << 10},
                        {L"/SELF:15K", SelfSwitch::BadSize, 0},   {L"/SELF:", SelfSwitch::BadSize, 0},
                        {L"/SELF:2X", SelfSwitch::BadSize, 0},    {L"/SELFIE", SelfSwitch::None, 0},
                        {L"/SEL", SelfSwitch::None, 0},          {L"/TEXT", SelfSwitch::None, 0}};
    for (const Row& row : rows) {
        uint64_t chars = 12345;
        EXPECT_EQ(parseSelfSwitch(row.arg, chars), row.result);
        if (row.result == SelfSwitch::Self) {
            EXPECT_EQ(chars, row.chars);
        }
    }

    uint32_t next = 0;
    uint64_t chars = 0;
    std::string id;
    ASSERT_TRUE(readSelfState(selfStateText(3, 204800, "0123456789ABCDEF"), next, chars, id));
    EXPECT_EQ(next, 3u);
    EXPECT_EQ(chars, 204800u);
    EXPECT_EQ(id, "0123456789ABCDEF");
    for (const char* bad : {"", "self next=00002 size=1 set=0123", "self next=00000 size=1 set=0123456789ABCDEF",
                            "self next=00002 size=1 set=0123456789ABCDEF0", "next=00002\r\n"})
        EXPECT_FALSE(readSelfState(bad, next, chars, id)) << bad;
}

}  // namespace
}  // namespace tw
