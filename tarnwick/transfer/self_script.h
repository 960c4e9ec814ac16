// The program carried across a text clipboard to a machine that has none
// of it: PowerShell scripts that, run on the far side, write the program's
// files into the folder PowerShell stands in. Platform-free.
//
// The files are joined and compressed as one raw deflate stream (what
// .NET's DeflateStream inflates), cut into pieces, and each piece becomes a
// script that runs alone: a header in words, the code, and the piece's bytes
// in base64 on comment lines, so that a script cut anywhere in its data
// still parses and says it was cut. Each script keeps its piece in the far
// side's temp folder; whichever completes the set checks the whole and
// writes the files. The scripts are a function of the files and the size
// alone, so /NEXT can make them again from the running program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tw {

// ---- SHA-256 (FIPS 180-4) -------------------------------------------------

class Sha256 {
public:
    Sha256();
    void add(const uint8_t* data, size_t length);
    // The digest; the object is spent afterwards.
    void finish(uint8_t digest[32]);

private:
    void block(const uint8_t* p);
    uint32_t h_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t bits_ = 0;
};
// Upper-case hex of the digest of the bytes.
std::string sha256Hex(const uint8_t* data, size_t length);

// ---- the scripts ----------------------------------------------------------

struct SelfFile {
    std::string name;  // ASCII, no path
    std::vector<uint8_t> bytes;
};

extern const char* const kSelfTooSmall;     // the size leaves no room for data
extern const char* const kSelfCompressFailed;

struct SelfSet {
    std::string fingerprint;  // "1A2B-3C4D-5E6F": the start of the first file's SHA-256
    std::string setId;        // 16 hex digits, the start of the whole stream's SHA-256
    std::vector<std::string> scripts;  // CR LF line ends, ASCII
};

// The scripts for the files (the first is the program), each at most
// `chars` characters (0: one script, whatever its length). is64: the
// program runs only on 64-bit Windows. Raises kSelfTooSmall, kSelfCompressFailed.
SelfSet makeSelfSet(const std::vector<SelfFile>& files, bool is64, uint64_t chars);

// "/SELF" or "/SELF:size", without regard to ASCII case; the size as /TEXT
// takes it.
enum class SelfSwitch { None, Self, BadSize };
SelfSwitch parseSelfSwitch(const wchar_t* arg, uint64_t& chars);

// The small file that tells /NEXT that /SELF placed the last set:
// "self next=00002 size=204800 set=0123456789ABCDEF".
std::string selfStateText(uint32_t next, uint64_t chars, const std::string& setId);
bool readSelfState(const std::string& text, uint32_t& next, uint64_t& chars, std::string& setId);

}  // namespace tw
