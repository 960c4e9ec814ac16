// Writes the text fuzzer's seeds: part texts written by the copy side's own
// code, behind the fuzzer's mode byte, the texts of one input separated by
// the byte 0x01.
//   make_text_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "tarnwick/transfer/text_part.h"

namespace {

// The texts of every part of a payload cut for parts of `chars` characters.
std::vector<std::string> parts(size_t blockLength, size_t namesLength, uint64_t chars) {
    std::vector<uint8_t> payload(blockLength + namesLength);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 131 + i / 7);
    tw::PartHeader h;
    h.copyId = 0x5EED5EED00000000ull + blockLength;
    h.format = 2;
    h.blockLength = uint32_t(blockLength);
    h.blockCrc = tw::crc32Of(payload.data(), blockLength);
    h.namesLength = uint32_t(namesLength);
    h.namesCrc = namesLength ? tw::crc32Of(payload.data() + blockLength, namesLength) : 0;
    tw::planParts(chars, h);
    std::vector<std::string> texts;
    for (h.number = 1; h.number <= h.count; ++h.number) texts.push_back(tw::partText(h, payload.data() + h.offset()));
    return texts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    const std::vector<std::string> one = parts(300, 0, 0), three = parts(700, 90, tw::minPartChars() + 400);
    const std::string bytes(1, '\0'), pairs(1, '\1');
    std::string utf16 = pairs;
    for (char c : one[0]) utf16 += std::string{c, '\0'};
    const struct {
        const char* name;
        std::string input;
    } seeds[] = {
        {"text-one-part", bytes + one[0]},
        {"text-one-part-utf16", utf16},
        {"text-three-parts-backwards-with-repeat", bytes + three[2] + "\x01" + three[2] + "\x01" + three[1] + "\x01" + three[0]},
        {"text-cut", bytes + three[1].substr(0, three[1].size() / 2) + "\x01" + three[0]},
    };
    for (const auto& s : seeds) {
        std::string path = std::string(argv[1]) + "/" + s.name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return 1;
        std::fwrite(s.input.data(), 1, s.input.size(), f);
        std::fclose(f);
    }
    return 0;
}
