// Building the block and handing it to the clipboard.
#include <windows.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "../../common/handles.h"
#include "../platform/console.h"
#include "../platform/formats.h"
#include "../text/format_size.h"
#include "../transfer/text_transfer.h"
#include "entry_list.h"
#include "messages.h"

namespace tw {

namespace {

unique_hglobal clipboardMemory(size_t length) {
    unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, SIZE_T(length)));
    if (!memory) throw kNotEnoughMemory;
    return memory;
}

// Writes the block, a large one on up to four processors at once: filling
// fresh memory is bound by the system mapping its pages in (under Wine
// about as long as a megabyte takes to copy), and the packing threads are
// done by now.
void writeBlockOnEveryCore(uint8_t* out, const BlockPlan& block, const std::vector<BlockEntry>& parts) {
    constexpr uint64_t kAloneUpTo = 16u << 20;
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    unsigned pieces = block.length <= kAloneUpTo || system.dwNumberOfProcessors < 2 ? 1
                      : system.dwNumberOfProcessors > 4                              ? 4
                                                                                     : unsigned(system.dwNumberOfProcessors);
    std::vector<std::thread> helpers;
    // Room first: a vector that grew while a helper ran could not be
    // unwound without ending the process.
    helpers.reserve(pieces);
    unsigned piece = 1;
    try {
        for (; piece < pieces; ++piece)
            helpers.emplace_back(writeBlockPiece, out, std::cref(block), parts.data(), parts.size(), piece, pieces);
    } catch (const std::exception&) {
        // No thread for the rest (std::system_error, or std::bad_alloc for
        // a thread's start): the pieces no thread took are written here.
    }
    writeBlockPiece(out, block, parts.data(), parts.size(), 0, pieces);
    for (; piece < pieces; ++piece) writeBlockPiece(out, block, parts.data(), parts.size(), piece, pieces);
    for (std::thread& helper : helpers) helper.join();
}

}  // namespace

std::vector<uint8_t> EntryList::exactNamesFor(const uint8_t* block, size_t length) const {
    // A tree of plain-ASCII names needs none, and its block goes alone.
    if (exactNames_.empty()) return {};
    return writeNamesBlock(uint32_t(length), crc32Of(block, length), ::GetACP(), exactNames_);
}

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
        // The same block, and the exact names that belong to it, as text
        // parts, for channels that carry only text.
        std::vector<uint8_t> bytes(size_t(block.length));
        writeBlockOnEveryCore(bytes.data(), block, parts);
        publishBlockAsText(block.version, bytes.data(), bytes.size(), exactNamesFor(bytes.data(), bytes.size()),
                           textCopyRequest().partChars);
        return;
    }

    unique_hglobal memory = clipboardMemory(size_t(block.length));
    unique_hglobal names;
    {
        unique_hglobal_locked view(memory.get());
        if (!view) throw kNotEnoughMemory;
        auto* bytes = static_cast<uint8_t*>(view.get());
        writeBlockOnEveryCore(bytes, block, parts);

        // The exact names go beside the block, bound to it by its length
        // and checksum. A tree of plain-ASCII names needs none, and its
        // clipboard holds the block alone.
        std::vector<uint8_t> side = exactNamesFor(bytes, size_t(block.length));
        if (!side.empty()) {
            names = clipboardMemory(side.size());
            unique_hglobal_locked sideView(names.get());
            if (!sideView) throw kNotEnoughMemory;
            std::memcpy(sideView.get(), side.data(), side.size());
        }
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
    if (names) {
        if (!::SetClipboardData(formatTable.names, names.get())) throw kErrorSettingClipboard;
        names.release();
    }
    clipboard.close();
    // An earlier text copy's parts are not what the clipboard holds now.
    forgetKeptCopy();
    console().write("Done.\n");
}

}  // namespace tw
