// libFuzzer target: a whole paste of a clipboard block, apart from the
// platform.
//
// The first input byte picks the layout (bit 0: single-file block), the code
// page model (bit 1: Shift-JIS lead bytes), /FORCEPASTE (bit 2) and, in its
// top five bits, the user's answers to the questions; the rest is the
// block, copied to a heap buffer of exactly its size so that ASan sees its
// end. The paste's own walk and content checks run against a file system
// kept in a map, which fails the run when
//  - a path leaves the destination, or names a component that is not one
//    safe name, or an entry whose folder was never made;
//  - a record handed to a step is not what the paste relies on (a parent
//    before it, file bytes inside the block and in record order);
//  - the content checks pass bytes that do not match the record (length,
//    CRC-32, the bytes zlib's uncompress gives), or decide otherwise than
//    uncompress and crc32 decide, or differently in one buffer and in pieces;
//  - a failure other than the paste's own message texts leaves the walk.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tarnwick/paste/block_walk.h"
#include "tarnwick/paste/content.h"
#include "tarnwick/paste/paste_walk.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kRoot[] = "D:\\dest";

bool shiftJisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

void check(bool ok) {
    if (!ok) std::abort();
}

// The paste reads name fields into UTF-16 in the local code page. Here a
// double-byte character becomes one unit above 0xFF, which keeps its two
// bytes, and a single byte the unit of its value; toBytes gives the bytes
// back, so that the paths the steps get are checked byte by byte below.
std::u16string decodeShiftJis(const char* name) {
    std::u16string out;
    for (const char* p = name; *p; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (shiftJisLead(c) && p[1]) {
            out.push_back(char16_t(0x8000 | (c & 0x7F) << 8 | static_cast<unsigned char>(p[1])));
            ++p;
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
}

std::string toBytes(const std::u16string& text) {
    std::string out;
    for (char16_t u : text) {
        if (u > 0xFF) out += char(0x80 | (u >> 8 & 0x7F));
        out += char(u & 0xFF);
    }
    return out;
}

// What every name that reaches a step must be, checked here without the
// checker's own code: not empty, no separator, drive or stream mark outside
// a double-byte character, no dots-only name.
void checkName(const std::string& name, tw::LeadBytePredicate lead) {
    check(!name.empty());
    bool dotsOnly = true;
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        check(c != 0);
        if (lead(c)) {
            check(i + 1 < name.size());
            ++i;
            dotsOnly = false;
            continue;
        }
        check(c >= 0x20 && c != '\\' && c != '/' && c != ':');
        if (c != '.') dotsOnly = false;
    }
    check(!dotsOnly);
}

// Splits a destination path into the folder it lies in and its last
// component, reading double-byte characters whole (a trail byte may be a
// backslash), after checking that it lies under the root.
void splitPath(const std::string& path, tw::LeadBytePredicate lead, std::string& parent, std::string& name) {
    const size_t rootLength = std::strlen(kRoot);
    check(path.size() > rootLength + 1 && path.compare(0, rootLength, kRoot) == 0 && path[rootLength] == '\\');
    size_t start = rootLength + 1, lastStart = start;
    for (size_t i = start; i < path.size(); ++i) {
        if (lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            ++i;
        } else if (path[i] == '\\') {
            checkName(path.substr(start, i - start), lead);
            start = lastStart = i + 1;
        }
    }
    name = path.substr(lastStart);
    checkName(name, lead);
    parent = path.substr(0, lastStart - 1);
}

// The reference verdict, with zlib alone: uncompress into a buffer of the
// size, then the length, then crc32. Null when they pass.
const char* referenceVerdict(const tw::FileInfo& info, const tw::FileBytes& stored, Bytes& content) {
    const uint32_t size = info.uncompressedSize.get();
    content.clear();
    if (size == 0) return nullptr;
    if (info.compressed) {
        content.resize(size);
        uLongf produced = size;
        if (::uncompress(content.data(), &produced, stored.data, stored.length) != Z_OK) return tw::kErrorDecompressing;
        if (produced != size) return tw::kIncorrectLength;
    } else {
        content.assign(stored.data, stored.data + size);
    }
    if (::crc32(::crc32(0, nullptr, 0), content.data(), size) != info.crc32.get()) return tw::kCrcFailed;
    return nullptr;
}

struct Collect final : tw::ByteSink {
    Bytes bytes;
    bool put(const uint8_t* p, size_t n) override {
        bytes.insert(bytes.end(), p, p + n);
        return true;
    }
};

// The paste's verdict and written bytes with the given limits.
const char* pasteVerdict(const tw::FileInfo& info, const tw::FileBytes& stored, tw::ContentLimits limits,
                         Bytes& written) {
    tw::FileContent content(info, stored, limits);
    try {
        content.check();
    } catch (const char* text) {
        return text;
    }
    // Once the checks passed, the whole content is written, without a
    // second thought: a write that raises would come after the
    // destination was opened.
    Collect sink;
    bool whole = false;
    try {
        whole = content.writeTo(sink);
    } catch (const char*) {
    }
    check(whole);
    written = std::move(sink.bytes);
    return nullptr;
}

bool sameText(const char* a, const char* b) {
    return a == b || (a && b && std::strcmp(a, b) == 0);
}

struct Node {
    bool folder;
    Bytes bytes;
};

// The steps of a paste, applied to a map from path to entry.
class MemorySteps final : public tw::PasteSteps {
public:
    MemorySteps(const uint8_t* block, size_t length, tw::LeadBytePredicate lead, bool force, uint32_t answers)
        : block_(block), length_(length), lead_(lead), force_(force), answers_(answers) {}

    bool restoreFolder(const std::u16string& wide, const tw::FolderInfo& info) override {
        const std::string path = toBytes(wide);
        checkNameField(info.name);
        std::string parent, name;
        splitPath(path, lead_, parent, name);
        check(name == info.name);
        requireFolder(parent, "Error creating directory.");
        auto it = files_.find(path);
        if (it == files_.end()) {
            files_[path] = Node{true, {}};
            return false;
        }
        if (!it->second.folder) throw "Error creating directory.";
        if (force_) return false;
        switch (nextAnswer()) {
            case 0:
                throw "";
            case 1:
                return true;  // No: skip its contents
            default:
                return false;
        }
    }

    bool restoreFile(const std::u16string& wide, const tw::FileInfo& info, const tw::FileBytes& stored) override {
        const std::string path = toBytes(wide);
        checkNameField(info.name);
        std::string parent, name;
        splitPath(path, lead_, parent, name);
        check(name == info.name);
        checkBytes(stored, info);
        requireFolder(parent, "Error creating file.");
        auto it = files_.find(path);
        if (it != files_.end()) {
            if (it->second.folder) throw force_ ? "Error creating file." : "Error getting file time/size.";
            if (!force_) {
                int answer = nextAnswer();
                if (answer == 0) throw "";
                if (answer == 1) return false;
            }
        }

        Bytes expected, whole, pieces;
        const char* reference = referenceVerdict(info, stored, expected);
        const char* inOne = pasteVerdict(info, stored, tw::ContentLimits{}, whole);
        static const size_t kPieces[] = {61, 4096, 65536};
        const char* inPieces = pasteVerdict(info, stored, tw::ContentLimits{0, kPieces[answers_ % 3]}, pieces);
        check(sameText(inOne, reference));
        check(sameText(inPieces, reference));
        if (inOne) throw inOne;
        // Passed: the bytes are the record's, however they were produced.
        const uint32_t size = info.uncompressedSize.get();
        check(whole.size() == size && whole == expected && pieces == whole);
        if (size) check(::crc32(::crc32(0, nullptr, 0), whole.data(), size) == info.crc32.get());
        files_[path] = Node{false, std::move(whole)};
        return true;
    }

    bool acceptUnknownEntry() override { return nextAnswer() != 0; }

private:
    static void checkNameField(const char (&field)[tw::kNameField]) {
        check(std::memchr(field, '\0', tw::kNameField) != nullptr);
    }

    // The folder that is to hold a new entry exists: the root, or a folder
    // the paste made or merged. Where a file stands instead, the platform
    // refuses to create anything inside it.
    void requireFolder(const std::string& parent, const char* refusal) const {
        if (parent == kRoot) return;
        auto it = files_.find(parent);
        check(it != files_.end());
        if (!it->second.folder) throw refusal;
    }

    // File bytes lie inside the block, and each file's start past the
    // stored bytes of the file before (the data position also moves past
    // files that are skipped, so it may start further on).
    void checkBytes(const tw::FileBytes& bytes, const tw::FileInfo& info) {
        check(bytes.data >= block_ && bytes.length <= length_ && size_t(bytes.data - block_) <= length_ - bytes.length);
        check(uint64_t(bytes.data - block_) >= nextBytes_);
        nextBytes_ = uint64_t(bytes.data - block_) + info.storedSize.get();
    }

    // 0 Cancel, 1 No, 2 Yes: a different mix for every five-bit pattern.
    int nextAnswer() {
        answers_ = answers_ * 1103515245u + 12345u;
        return int((answers_ >> 16) % 3);
    }

    const uint8_t* block_;
    size_t length_;
    tw::LeadBytePredicate lead_;
    bool force_;
    uint32_t answers_;
    uint64_t nextBytes_ = 0;
    std::map<std::string, Node> files_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    Bytes block(data + 1, data + size);
    const uint8_t* p = block.data();
    const size_t length = block.size();
    tw::LeadBytePredicate lead = (mode & 2) ? shiftJisLead : tw::noLeadBytes;
    const tw::NameRules names(lead, (mode & 2) ? decodeShiftJis : tw::decodeLatin1);
    const std::u16string root = tw::decodeLatin1(kRoot);
    MemorySteps steps(p, length, lead, (mode & 4) != 0, mode >> 3);
    try {
        if (mode & 1) {
            tw::walkSingleFileBlock(p, length, root, names, steps);
        } else {
            check(tw::rowsToReserve(tw::TreeBlockReader(p, length), length) <= length / tw::kFolderRecordSize + 1);
            std::vector<tw::PlacedEntry> placed;
            tw::walkTreeBlock(p, length, root, names, steps, placed);
            check(placed.empty());
        }
    } catch (const char* text) {
        // Only the paste's own texts: the block's, the checks', the steps'.
        static const char* const kKnown[] = {tw::kInvalidData,  tw::kErrorDecompressing,    tw::kIncorrectLength,
                                             tw::kCrcFailed,    tw::kContentNoMemory,       "",
                                             "Error creating directory.", "Error creating file.",
                                             "Error getting file time/size."};
        bool known = false;
        for (const char* k : kKnown) known = known || std::strcmp(text, k) == 0;
        check(known);
    }
    return 0;
}
