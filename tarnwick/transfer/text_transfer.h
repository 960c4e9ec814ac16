// The block as text on the clipboard, for channels that carry only text or
// cap its size: the commands' side of it (Windows).
//
// The copy places part 1 as CF_UNICODETEXT and, when there are more,
// keeps the payload in the user's temp folder for /NEXT. The paste reads
// the clipboard's text when neither registered format is there, keeps the
// parts of a longer copy in the temp folder, and pastes the block once
// every part has arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "part_store.h"
#include "text_part.h"

namespace tw {

// Set from the command line before the copy runs; while enabled, the copy
// publishes its block as text instead of under the registered format.
struct HandsFreeCopy {
    PartHeader header;             // part 1's
    std::vector<uint8_t> payload;  // the block and its names
    bool resumed = false;          // the header is the kept copy's, id and all
};
struct TextCopyRequest {
    bool enabled = false;
    uint64_t partChars = kDefaultPartChars;  // 0: one part
    // For /SEND: the copy is made and part 1 placed as for /TEXT, and
    // then handed over here instead of ending with the advice for /NEXT. A
    // copy of the same payload as the one kept for /NEXT, in parts of the
    // same size or of the smaller size /SEND cut that one into, is that
    // copy, id and all, so that a receiver's parts still count.
    HandsFreeCopy* handsFree = nullptr;
};
TextCopyRequest& textCopyRequest();

// Publishes a built block and the names that belong to it (empty when the
// copy made none) as text: part 1 on the clipboard, the whole kept for
// /NEXT when there are more. Prints what to do next. Raises message texts.
void publishBlockAsText(uint32_t format, const uint8_t* block, size_t blockLength,
                        const std::vector<uint8_t>& names, uint64_t partChars);

// Places a part or an acknowledgement: CF_UNICODETEXT, with the formats
// that keep it out of clipboard history and clipboard managers. Raises
// message texts.
void placeClipboardText(const std::string& text, bool announce);
// Adds those formats to the open clipboard.
void keepOutOfHistory();

// With the clipboard open: its CF_UNICODETEXT, up to the terminator, when
// it starts with `mark` (ASCII); text is left empty for any other text.
// False when the system does not hand the text over.
bool readClipboardText(const char* mark, std::u16string& text);

// Writes the copy kept for /NEXT afresh (a copy cut again by /SEND), the
// next part to place after part 1.
void keepCopyForNext(const PartHeader& header, const std::vector<uint8_t>& payload);

// The /NEXT command: number 0 places the next part, any other that part
// again. Runs inside runCommand.
bool placeNextPart(uint32_t number);

// Deletes the payload kept for /NEXT, once a plain copy or /CLEAR has put
// something else in its place: a copy of the user's files is kept only as
// long as it can still be sent. Raises nothing.
void forgetKeptCopy();

// Pastes a block held in memory, with every check a block from the
// clipboard gets.
using BlockPaster = std::function<void(uint32_t format, const uint8_t* block, size_t blockLength,
                                       const uint8_t* names, size_t namesLength)>;

// For a paste that found neither registered format: reads the clipboard's
// text. False when it is not a Tarnwick part (nothing was done). Otherwise
// the part was pasted, or kept with a line (and, with showArrival, a box)
// saying what is still missing. Raises message texts for a part that
// arrived cut short or damaged, and for anything pasteBlock raises.
bool pasteFromText(bool showArrival, const BlockPaster& pasteBlock);

// One checked part taken in, by /PASTE and /RECEIVE alike: kept with the
// others of its copy in the temp folder, or, when it completes the copy
// (or is the whole copy), pasted with pasteBlock and the copy dropped.
// Raises what receivePart and pasteBlock raise.
struct PartReceipt {
    Arrival arrival;  // header, present and missing; repeated
    bool pasted = false;
};
PartReceipt receivePartText(ReadPart& part, const BlockPaster& pasteBlock);

// Which parts of a copy the temp folder keeps, one flag per part.
std::vector<bool> keptParts(uint64_t copy, uint32_t count);

}  // namespace tw
