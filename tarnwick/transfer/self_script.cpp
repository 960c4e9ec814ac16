#include "self_script.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "base64.h"
#include "text_part.h"

namespace tw {

const char* const kSelfTooSmall = "Script size incorrect: /SELF:size takes a number of characters of at least 16K, with K or M after it for 1024 or 1048576 of them, or 0 for one script.";
const char* const kSelfCompressFailed = "Not enough memory.";

namespace {

// ---- SHA-256 --------------------------------------------------------------

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// The script's code, the same in every script; the values it works on are
// set before it.
const char kCode[] =
#include "self_script_code.inc"
    ;

// Characters of one data line: "#>", the base64, CR LF.
constexpr size_t kDataLineChars = 2 + kBase64LineChars + 2;
constexpr size_t kDataLineBytes = kBase64LineChars / 4 * 3;
constexpr uint64_t kMinScriptChars = 16 << 10;

std::string hex(const uint8_t* digest, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

// Raw deflate, no zlib header: what DeflateStream reads.
std::vector<uint8_t> deflateRaw(const std::vector<uint8_t>& in) {
    z_stream z{};
    if (::deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw kSelfCompressFailed;
    std::vector<uint8_t> out(::deflateBound(&z, uLong(in.size())));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = ::deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    ::deflateEnd(&z);
    if (rc != Z_STREAM_END) throw kSelfCompressFailed;
    return out;
}

struct SetFacts {
    std::string fingerprint, setId, setHash;
    uint64_t setBytes = 0;
    bool is64 = false;
    std::vector<std::string> fileLines;   // header, one a file
    std::vector<std::string> fileValues;  // code, one a file
};

std::string script(const SetFacts& set, uint32_t piece, uint32_t pieces, const uint8_t* bytes, size_t length) {
    const std::string pieceHash = sha256Hex(bytes, length);
    const std::string of = std::to_string(piece) + "/" + std::to_string(pieces);
    std::string s;
    s += "# Tarnwick for " + std::string(set.is64 ? "64-bit" : "32-bit or 64-bit") + " Windows: script " +
         std::to_string(piece) + " of " + std::to_string(pieces) + " that write it into this folder.\r\n";
    s += "#\r\n";
    s += "# Run it in PowerShell, in the folder to write to, by typing:  Get-Clipboard -Raw | iex\r\n";
    s += "# Whatever is on the clipboard runs when that is typed: only for text you placed there.\r\n";
    if (pieces > 1)
        s += "# The " + std::to_string(pieces) +
             " scripts run in any order, each keeping its piece in the temp folder\r\n"
             "# (TarnwickSelf\\" + set.setId + "); the one that completes the set writes\r\n";
    else
        s += "# It writes\r\n";
    for (const std::string& line : set.fileLines) s += line;
    s += "# into the current folder, or into the folder Tarnwick-" + set.fingerprint +
         " when a different one is there.\r\n";
    s += "# Fingerprint of Tarnwick.exe: " + set.fingerprint + " (the start of its SHA-256; Tarnwick /SELF shows it).\r\n";
    s += "# The set: " + std::to_string(set.setBytes) + " bytes compressed, SHA-256 " + set.setHash + "\r\n";
    s += "# This piece: " + std::to_string(length) + " bytes, SHA-256 " + pieceHash + "\r\n";
    s += "# Nothing else is written, and nothing written is run.\r\n";
    // In a script block of its own, so that nothing it sets stays behind
    // in the user's session.
    s += "& {\r\n";
    s += "$set = '" + set.setId + "'; $piece = " + std::to_string(piece) + "; $pieces = " + std::to_string(pieces) +
         "\r\n";
    s += "$pieceBytes = " + std::to_string(length) + "; $pieceHash = '" + pieceHash + "'\r\n";
    s += "$setBytes = " + std::to_string(set.setBytes) + "; $setHash = '" + set.setHash + "'\r\n";
    s += "$fingerprint = '" + set.fingerprint + "'; $is64 = $" + (set.is64 ? "true" : "false") + "\r\n";
    s += "$files = @()\r\n";
    for (const std::string& line : set.fileValues) s += line;
    for (const char* c = kCode; *c; ++c) {
        if (*c == '\n') s += '\r';
        s += *c;
    }
    s += "#TWSELF " + set.setId + " " + of + " begin\r\n";
    size_t lines = 0;
    for (size_t at = 0; at < length; at += kDataLineBytes, ++lines) {
        s += "#>";
        appendBase64(bytes + at, length - at < kDataLineBytes ? length - at : kDataLineBytes, s);
        s += "\r\n";
    }
    s += "#TWSELF " + set.setId + " " + of + " end lines=" + std::to_string(lines) + "\r\n";
    return s;
}

}  // namespace

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::block(const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
}

void Sha256::add(const uint8_t* data, size_t length) {
    bits_ += uint64_t(length) * 8;
    while (length) {
        const size_t take = length < 64 - buffered_ ? length : 64 - buffered_;
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        length -= take;
        if (buffered_ == 64) {
            block(buffer_);
            buffered_ = 0;
        }
    }
}

void Sha256::finish(uint8_t digest[32]) {
    const uint64_t bits = bits_;
    const uint8_t one = 0x80, zero = 0;
    add(&one, 1);
    while (buffered_ != 56) add(&zero, 1);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = uint8_t(bits >> (56 - 8 * i));
    add(length, 8);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = uint8_t(h_[i] >> 24);
        digest[4 * i + 1] = uint8_t(h_[i] >> 16);
        digest[4 * i + 2] = uint8_t(h_[i] >> 8);
        digest[4 * i + 3] = uint8_t(h_[i]);
    }
}

std::string sha256Hex(const uint8_t* data, size_t length) {
    Sha256 sha;
    sha.add(data, length);
    uint8_t digest[32];
    sha.finish(digest);
    return hex(digest, 32);
}

SelfSet makeSelfSet(const std::vector<SelfFile>& files, bool is64, uint64_t chars) {
    if (chars && chars < kMinScriptChars) throw kSelfTooSmall;
    SetFacts set;
    set.is64 = is64;
    std::vector<uint8_t> joined;
    size_t nameWidth = 0;
    for (const SelfFile& f : files) nameWidth = f.name.size() > nameWidth ? f.name.size() : nameWidth;
    for (const SelfFile& f : files) {
        joined.insert(joined.end(), f.bytes.begin(), f.bytes.end());
        const std::string hash = sha256Hex(f.bytes.data(), f.bytes.size());
        if (set.fingerprint.empty())
            set.fingerprint = hash.substr(0, 4) + "-" + hash.substr(4, 4) + "-" + hash.substr(8, 4);
        set.fileLines.push_back("#   " + f.name + std::string(nameWidth + 2 - f.name.size(), ' ') +
                                std::to_string(f.bytes.size()) + " bytes, SHA-256 " + hash + "\r\n");
        set.fileValues.push_back("$files += , @('" + f.name + "', " + std::to_string(f.bytes.size()) + ", '" + hash +
                                 "')\r\n");
    }
    const std::vector<uint8_t> stream = deflateRaw(joined);
    set.setHash = sha256Hex(stream.data(), stream.size());
    set.setId = set.setHash.substr(0, 16);
    set.setBytes = stream.size();

    // The room for data is what a script of empty data leaves, measured
    // with the widest numbers a script of the set can carry.
    uint32_t pieces = 1;
    size_t pieceBytes = stream.size() ? stream.size() : 1;
    if (chars) {
        for (;;) {
            const size_t frame = script(set, pieces, pieces, nullptr, 0).size() + 64;
            if (frame + kDataLineChars > chars) throw kSelfTooSmall;
            pieceBytes = (chars - frame) / kDataLineChars * kDataLineBytes;
            const uint64_t need = (stream.size() + pieceBytes - 1) / pieceBytes;
            if (need <= pieces) break;
            pieces = uint32_t(need);
        }
    }
    SelfSet out;
    out.fingerprint = set.fingerprint;
    out.setId = set.setId;
    for (uint32_t n = 1; n <= pieces; ++n) {
        const size_t at = size_t(n - 1) * pieceBytes;
        const size_t length = stream.size() - at < pieceBytes ? stream.size() - at : pieceBytes;
        out.scripts.push_back(script(set, n, pieces, stream.data() + at, length));
    }
    return out;
}

SelfSwitch parseSelfSwitch(const wchar_t* arg, uint64_t& chars) {
    static const char name[] = "/SELF";
    for (const char* n = name; *n; ++n, ++arg) {
        wchar_t a = *arg;
        if (a >= L'a' && a <= L'z') a = wchar_t(a - L'a' + L'A');
        if (a != wchar_t(*n)) return SelfSwitch::None;
    }
    if (*arg && *arg != L':') return SelfSwitch::None;
    // The size reads as /TEXT reads its own.
    const std::wstring asText = L"/TEXT" + std::wstring(arg);
    uint64_t value = 0;
    if (parseTextSwitch(asText.c_str(), value) != TextSwitch::Copy) return SelfSwitch::BadSize;
    if (value && value < kMinScriptChars) return SelfSwitch::BadSize;
    chars = value;
    return SelfSwitch::Self;
}

std::string selfStateText(uint32_t next, uint64_t chars, const std::string& setId) {
    char text[96];
    std::snprintf(text, sizeof text, "self next=%05lu size=%llu set=%s", (unsigned long)next,
                  (unsigned long long)chars, setId.c_str());
    return text;
}

bool readSelfState(const std::string& text, uint32_t& next, uint64_t& chars, std::string& setId) {
    unsigned long n = 0;
    unsigned long long size = 0;
    char id[17] = {};
    int used = 0;
    if (std::sscanf(text.c_str(), "self next=%5lu size=%12llu set=%16[0-9A-F]%n", &n, &size, id, &used) != 3 ||
        size_t(used) != text.size() || std::strlen(id) != 16 || n < 1 || n > kMaxParts + 1)
        return false;
    next = uint32_t(n);
    chars = size;
    setId = id;
    return true;
}

}  // namespace tw
