#include "paste.h"

#include <shlwapi.h>

#include <new>

#include "../../common/handles.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "../platform/formats.h"
#include "../platform/wide.h"
#include "../transfer/text_transfer.h"
#include "names.h"
#include "paste_context.h"

namespace tw {

namespace {

constexpr size_t kMaxDestination = MAX_PATH;  // 260 characters pass

// The folder that the destination text stands for, without a trailing
// backslash ("D:\" gives "D:"), so that a name joins it with one backslash.
std::wstring prepareDestination(const std::wstring& destination) {
    if (destination.size() > kMaxDestination) throw "Paste path too long.";
    wchar_t folder[kMaxDestination + 1] = {};
    destination.copy(folder, destination.size());
    // A file, or any item that is not a folder, stands for the folder that
    // holds it.
    if (!::PathIsDirectoryW(folder)) ::PathRemoveFileSpecW(folder);
    if (!folder[0]) folder[0] = L'.';
    if (!::PathIsDirectoryW(folder)) throw "Paste path does not exist.";
    std::wstring result = folder;
    if (result.back() == L'\\') result.pop_back();
    return result;
}

// Format index 2 (tree block) before index 1 (single file); 0 for none.
uint32_t availableFormat() {
    for (uint32_t index = kFormatCount; index >= 1; --index)
        if (::IsClipboardFormatAvailable(formatTable[index])) return index;
    return 0;
}

std::u16string decodeAnsi(const char* name) { return toU16(widen(name)); }

}  // namespace

bool ansiLeadByte(unsigned char byte) {
    return ::IsDBCSLeadByte(byte) != FALSE;
}

void PasteContext::paste(const std::wstring& destination, bool force) {
    this->force = force;
    const std::wstring folder = prepareDestination(destination);

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
    reader_window window;
    clipboard_session clipboard(window.get());
    if (!clipboard) throw "Error opening clipboard.";
    HANDLE data = ::GetClipboardData(formatTable[format]);
    if (!data) throw "Error getting clipboard data.";
    unique_hglobal_locked lock(data);
    if (!lock) throw "Error getting clipboard data.";
    // The block belongs to the clipboard: it is read where it lies, within
    // the size of its memory, and never changed or freed. So are the exact
    // names beside it, when there are any.
    const auto* block = static_cast<const uint8_t*>(lock.get());
    const size_t length = ::GlobalSize(data);
    HANDLE namesData = ::GetClipboardData(formatTable.names);
    unique_hglobal_locked namesLock(namesData);
    const auto* names = static_cast<const uint8_t*>(namesLock.get());
    const size_t namesLength = names ? ::GlobalSize(namesData) : 0;

    pasteBlock(folder, format, block, length, names, namesLength);

    namesLock.unlock();
    lock.unlock();
    clipboard.close();
}

void PasteContext::pasteBlock(const std::wstring& folder, uint32_t format, const uint8_t* block, size_t length,
                              const uint8_t* names, size_t namesLength) {
    console().write('\n');
    BoundNames exact;
    if (names) {
        uint32_t records = format == 1 ? 1 : TreeBlockReader(block, length).entryCount();
        // A clipboard owner may round memory up: the names bind to the
        // block's own length and are read to their own end.
        const size_t sideLength = namesDeclaredLength(names, namesLength);
        if (!readBoundNames(names, sideLength, block, length, records, exact)) {
            const uint64_t end = blockEnd(format, block, length);
            if (end && end < length) readBoundNames(names, sideLength, block, size_t(end), records, exact);
        }
    }
    const NameRules rules(ansiLeadByte, decodeAnsi, exact.empty() ? nullptr : &exact);
    if (format == 1) {
        walkSingleFileBlock(block, length, toU16(folder), rules, *this);
    } else {
        walkTreeBlock(block, length, toU16(folder), rules, *this, placed);
    }
    console().write("\nDone.\n");
}

bool PasteContext::acceptUnknownEntry() {
    return messageBox("Unknown entry type in Tarnwick data.", MB_OKCANCEL | MB_ICONERROR) == IDOK;
}

std::wstring pasteFolder(const std::wstring& destination) { return prepareDestination(destination); }

void pasteBlockInto(const std::wstring& folder, bool force, uint32_t format, const uint8_t* block, size_t length,
                    const uint8_t* names, size_t namesLength) {
    PasteContext context;
    context.setForce(force);
    context.pasteBlock(folder, format, block, length, names, namesLength);
}

bool pasteFromClipboard(const std::wstring& destination, bool force) {
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
