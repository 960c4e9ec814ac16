#include "paste.h"

#include <shlwapi.h>

#include <cstring>
#include <new>

#include "../../common/handles.h"
#include "../frontend/console.h"
#include "../frontend/frontend.h"
#include "../transfer/text_transfer.h"
#include "names.h"
#include "paste_context.h"

namespace tw {

namespace {

constexpr size_t kMaxDestination = MAX_PATH;  // 260 characters pass

// The folder that the destination text stands for, without a trailing
// backslash ("D:\" gives "D:"), so that a name joins it with one backslash.
std::string prepareDestination(const char* destination) {
    if (std::strlen(destination) > kMaxDestination) throw "Paste path too long.";
    char folder[kMaxDestination + 1];
    std::strcpy(folder, destination);
    // A file, or any item that is not a folder, stands for the folder that
    // holds it.
    if (!::PathIsDirectoryA(folder)) ::PathRemoveFileSpecA(folder);
    if (!folder[0]) std::strcpy(folder, ".");
    if (!::PathIsDirectoryA(folder)) throw "Paste path does not exist.";
    if (endsWithBackslash(folder, ansiLeadByte)) folder[std::strlen(folder) - 1] = '\0';
    return folder;
}

// Format index 2 (tree block) before index 1 (single file); 0 for none.
uint32_t availableFormat() {
    for (uint32_t index = kFormatCount; index >= 1; --index)
        if (::IsClipboardFormatAvailable(formatTable[index])) return index;
    return 0;
}

}  // namespace

bool ansiLeadByte(unsigned char byte) {
    return ::IsDBCSLeadByte(byte) != FALSE;
}

void PasteContext::paste(const char* destination, bool force) {
    this->force = force;
    const std::string folder = prepareDestination(destination);

    console().write("Reading clipboard...\n");
    uint32_t format = availableFormat();
    if (!format) {
        // Channels that carry only text bring the block as text parts.
        const bool pasted = pasteFromText(!force, [&](uint32_t textFormat, const uint8_t* block, size_t length,
                                                      const uint8_t* names, size_t namesLength) {
            pasteBlock(folder, textFormat, block, length, names, namesLength);
        });
        if (pasted) return;
        throw "The clipboard does not contain data in Tarnwick format.";
    }

    // Declared in this order so that a failure unlocks the block first and
    // then closes the clipboard.
    clipboard_session clipboard;
    if (!clipboard) throw "Error opening clipboard.";
    HANDLE data = ::GetClipboardData(formatTable[format]);
    if (!data) throw "Error getting clipboard data.";
    unique_hglobal_locked lock(data);
    if (!lock) throw "Error getting clipboard data.";
    // The block belongs to the clipboard: it is read where it lies, within
    // the size of its memory, and never changed or freed.
    const auto* block = static_cast<const uint8_t*>(lock.get());
    const size_t length = ::GlobalSize(data);
    pasteBlock(folder, format, block, length, nullptr, 0);
    lock.unlock();
    clipboard.close();
}

void PasteContext::pasteBlock(const std::string& folder, uint32_t format, const uint8_t* block, size_t length,
                              const uint8_t* /*names*/, size_t /*namesLength*/) {
    console().write('\n');
    if (format == 1) {
        walkSingleFileBlock(block, length, folder, ansiLeadByte, *this);
    } else {
        walkTreeBlock(block, length, folder, ansiLeadByte, *this, placed);
    }
    console().write("\nDone.\n");
}

bool PasteContext::acceptUnknownEntry() {
    return messageBox("Unknown entry type in Tarnwick data.", MB_OKCANCEL | MB_ICONERROR) == IDOK;
}

bool pasteFromClipboard(const char* destination, bool force) {
    return runCommand([&] {
        PasteContext context;
        try {
            context.paste(destination, force);
        } catch (const std::bad_alloc&) {
            throw "Not enough memory.";
        }
    });
}

}  // namespace tw
