// Building the block and handing it to the clipboard.
#include <windows.h>

#include "../../common/handles.h"
#include "../frontend/console.h"
#include "../frontend/frontend.h"
#include "../text/format_size.h"
#include "../transfer/text_transfer.h"
#include "entry_list.h"
#include "messages.h"

namespace tw {

void EntryList::publishBlock() {
    console().write('\n');
    if (totalUncompressed_ != 0 && fileCount_ > 1) {
        console().write(formatTotalSize(totalUncompressed_) + " -> " + formatSize(totalStored_) +
                        formatRatio(totalStored_, totalUncompressed_) + "\n");
    }

    BlockPlan block = plan();
    // The appends refuse earlier; this guards the allocation itself.
    if (block.length > 0xFFFFFFFF) throw kCopyTooLarge;
    std::vector<BlockEntry> parts = blockEntries();

    if (textCopyRequest().enabled) {
        // The same block, as text parts, for channels that carry only text.
        std::vector<uint8_t> bytes(size_t(block.length));
        writeBlock(bytes.data(), block, parts.data(), parts.size());
        publishBlockAsText(block.version, bytes.data(), bytes.size(), {}, textCopyRequest().partChars);
        return;
    }

    unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, SIZE_T(block.length)));
    if (!memory) throw kNotEnoughMemory;
    {
        unique_hglobal_locked view(memory.get());
        if (!view) throw kNotEnoughMemory;
        writeBlock(static_cast<uint8_t*>(view.get()), block, parts.data(), parts.size());
    }

    // Opened only now, and held only to empty and set: other programs are
    // locked out of the clipboard while it is open.
    clipboard_session clipboard;
    if (!clipboard) throw kErrorOpeningClipboard;
    console().write("Copying data to clipboard...\n");
    ::EmptyClipboard();
    if (!::SetClipboardData(formatTable[block.version], memory.get())) throw kErrorSettingClipboard;
    // The clipboard owns the memory from here; freeing it would pull the
    // block from under every later reader.
    memory.release();
    clipboard.close();
    console().write("Done.\n");
}

}  // namespace tw
