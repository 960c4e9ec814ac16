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
#include <vector>

#include "text_part.h"

namespace tw {

// Set from the command line before the copy runs; while enabled, the copy
// publishes its block as text instead of under the registered format.
struct TextCopyRequest {
    bool enabled = false;
    uint64_t partChars = kDefaultPartChars;  // 0: one part
};
TextCopyRequest& textCopyRequest();

// Publishes a built block and the names that belong to it (empty when the
// copy made none) as text: part 1 on the clipboard, the whole kept for
// /NEXT when there are more. Prints what to do next. Raises message texts.
void publishBlockAsText(uint32_t format, const uint8_t* block, size_t blockLength,
                        const std::vector<uint8_t>& names, uint64_t partChars);

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

}  // namespace tw
