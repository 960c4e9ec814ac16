// The copy's side of a text copy and the /NEXT command: part texts on the
// clipboard, the payload kept in the temp folder between runs.
#include <windows.h>
#include <ntsecapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "../../common/handles.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "self_transfer.h"
#include "temp_folder.h"
#include "text_transfer.h"

namespace tw {

namespace {

const char kErrorOpeningClipboard[] = "Error opening clipboard.";
const char kErrorSettingClipboard[] = "Error copying data to clipboard.";
const char kNotEnoughMemory[] = "Not enough memory.";
const char kCopyTooLarge[] = "Cannot copy 4 GB or more at once.";
const char kNothingKept[] = "No copy is waiting to be sent in parts: copy with Tarnwick /TEXT first.";
const char kKeptDamaged[] = "The copy kept for Tarnwick /NEXT is damaged: copy again with Tarnwick /TEXT.";

std::wstring keptCopyPath() { return transferFolder() + L"outgoing.dat"; }

// 64 random bits, so that the parts of two copies never mix. The system's
// generator is there from Windows XP on; the fallback only has to differ
// between runs.
uint64_t newCopyId() {
    uint64_t id = 0;
    if (!::RtlGenRandom(&id, sizeof id) || id == 0) {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        id = uint64_t(now.QuadPart) ^ uint64_t(::GetCurrentProcessId()) << 32 ^ ::GetTickCount();
        // splitmix64's finaliser spreads the few changing bits over all 64.
        id = (id ^ (id >> 30)) * 0xBF58476D1CE4E5B9ull;
        id = (id ^ (id >> 27)) * 0x94D049BB133111EBull;
        id ^= id >> 31;
    }
    return id;
}

void placeText(const std::string& text) { placeClipboardText(text, true); }

// The kept copy, opened for /NEXT.
struct KeptCopy {
    unique_hfile file;
    PartHeader header;
    uint32_t next = 0;
    size_t preambleLength = 0;
};

KeptCopy openKeptCopy() {
    KeptCopy kept;
    // A link in its place is nobody's copy: it goes, and nothing is read
    // or written through it.
    if (!removeLink(keptCopyPath())) throw kNothingKept;
    kept.file = unique_hfile(::CreateFileW(keptCopyPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!kept.file) throw kNothingKept;
    char start[512];
    DWORD got = 0;
    LARGE_INTEGER size;
    if (!::ReadFile(kept.file.get(), start, sizeof start, &got, nullptr) ||
        !readKeptPreamble(start, got, kept.header, kept.next, kept.preambleLength) ||
        !::GetFileSizeEx(kept.file.get(), &size) ||
        uint64_t(size.QuadPart) != kept.preambleLength + kept.header.total())
        throw kKeptDamaged;
    return kept;
}

// The header of the copy kept for /NEXT; false when none is kept or it is
// damaged.
bool keptCopyHeader(PartHeader& header) {
    try {
        header = openKeptCopy().header;
        return true;
    } catch (const char*) {
        return false;
    }
}

void readAt(HANDLE file, uint64_t position, uint8_t* out, size_t length) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(position);
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) throw kKeptDamaged;
    while (length) {
        DWORD chunk = length > (16u << 20) ? (16u << 20) : DWORD(length), got = 0;
        if (!::ReadFile(file, out, chunk, &got, nullptr) || got != chunk) throw kKeptDamaged;
        out += got;
        length -= got;
    }
}

}  // namespace

// Empties the clipboard and places the text as CF_UNICODETEXT; Windows
// offers it as CF_TEXT too.
void placeClipboardText(const std::string& text, bool announce) {
    unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, (text.size() + 1) * sizeof(wchar_t)));
    if (!memory) throw kNotEnoughMemory;
    {
        unique_hglobal_locked view(memory.get());
        if (!view) throw kNotEnoughMemory;
        auto* out = static_cast<wchar_t*>(view.get());
        // The text is ASCII: each character widens as it is.
        for (char c : text) *out++ = wchar_t(static_cast<unsigned char>(c));
        *out = L'\0';
    }
    // Another program that opens the clipboard without a window while this
    // one holds it (Wine lets it) takes it over, and setting then fails:
    // placed again after a moment.
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        clipboard_session clipboard;
        if (!clipboard) throw kErrorOpeningClipboard;
        if (announce && attempt == 1) console().write("Copying data to clipboard...\n");
        ::EmptyClipboard();
        if (::SetClipboardData(CF_UNICODETEXT, memory.get())) {
            memory.release();
            keepOutOfHistory();
            return;
        }
        if (attempt == kAttempts) throw kErrorSettingClipboard;
        clipboard.close();
        ::Sleep(100);
    }
}

void keepOutOfHistory() {
    // Windows' clipboard history, its cloud clipboard and clipboard managers
    // look for these before they keep anything. Best effort: a system
    // without them ignores them.
    struct Marker {
        const wchar_t* name;
        bool dword;  // a DWORD 0; otherwise no content at all
    };
    static const Marker kMarkers[] = {{L"ExcludeClipboardContentFromMonitorProcessing", false},
                                      {L"CanIncludeInClipboardHistory", true},
                                      {L"CanUploadToCloudClipboard", true},
                                      {L"Clipboard Viewer Ignore", false}};
    for (const Marker& marker : kMarkers) {
        const UINT format = ::RegisterClipboardFormatW(marker.name);
        if (!format) continue;
        unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD)));
        if (!memory) continue;
        if (::SetClipboardData(format, memory.get())) memory.release();
    }
}

bool readClipboardText(const char* mark, std::u16string& text) {
    text.clear();
    HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    if (!data) return false;
    unique_hglobal_locked lock(data);
    if (!lock) return false;
    const auto* chars = static_cast<const char16_t*>(lock.get());
    // Up to the terminator, and never past the memory.
    const size_t room = ::GlobalSize(data) / sizeof(char16_t);
    const size_t length = size_t(std::find(chars, chars + room, u'\0') - chars);
    const size_t marked = std::strlen(mark);
    if (length >= marked && std::equal(mark, mark + marked, chars)) text.assign(chars, length);
    return true;
}

TextCopyRequest& textCopyRequest() {
    static TextCopyRequest request;
    return request;
}

void publishBlockAsText(uint32_t format, const uint8_t* block, size_t blockLength,
                        const std::vector<uint8_t>& names, uint64_t partChars) {
    if (uint64_t(blockLength) + names.size() > kMaxPayload) throw kCopyTooLarge;
    PartHeader h;
    h.copyId = newCopyId();
    h.number = 1;
    h.format = format;
    h.blockLength = uint32_t(blockLength);
    h.blockCrc = crc32Of(block, blockLength);
    h.namesLength = uint32_t(names.size());
    h.namesCrc = names.empty() ? 0 : crc32Of(names.data(), names.size());
    planParts(partChars, h);
    TextCopyRequest& request = textCopyRequest();
    if (request.handsFree) {
        // The same tree sent again in parts of the same size is the same
        // copy: keeping its id lets the receiver's kept parts count. So is
        // the same payload in the smaller parts a capped channel made /SEND
        // cut it into (a /SEND that ended with a paste forgot its copy).
        PartHeader kept;
        if (keptCopyHeader(kept)) {
            PartHeader asKept = h;
            asKept.copyId = kept.copyId;
            asKept.number = kept.number;
            const bool cutSmaller = kept.partSize < h.partSize;
            if (cutSmaller) {
                asKept.partSize = kept.partSize;
                asKept.count = kept.count;
            }
            if (kept.sameCopy(asKept) && kept.sound()) {
                h = asKept;
                h.number = 1;
                request.handsFree->resumed = true;
            }
        }
    }

    std::string text;
    try {
        // Part 1 may run from the block into the names.
        std::vector<uint8_t> joined;
        const uint8_t* payload = block;
        if (!names.empty()) {
            joined.reserve(blockLength + names.size());
            joined.assign(block, block + blockLength);
            joined.insert(joined.end(), names.begin(), names.end());
            payload = joined.data();
        }
        // /SEND places part 1 itself, once it listens for the answers.
        if (!request.handsFree) text = partText(h, payload);
        // What an earlier text copy that was stopped half-way left behind.
        removeLeftovers(keptCopyPath());
        // /NEXT sends from this copy now, not from a set /SELF placed.
        forgetSelfSet();
        // The rest waits in the temp folder for /NEXT; a copy of one part
        // leaves nothing there, so /NEXT cannot send a part of an older one.
        if (h.count > 1) {
            const std::string preamble = keptPreamble(h, 2);
            writeFileAtomically(keptCopyPath(), {{reinterpret_cast<const uint8_t*>(preamble.data()), preamble.size()},
                                                 {payload, size_t(h.total())}});
        } else {
            removeFile(keptCopyPath());
        }
        if (request.handsFree) request.handsFree->payload.assign(payload, payload + h.total());
    } catch (const std::bad_alloc&) {
        throw kNotEnoughMemory;
    }

    if (request.handsFree) {
        // /SEND takes it from here. Placed here as well, part 1 would cross
        // the channel twice, and an answer to it could come before /SEND
        // listens.
        console().write("Copying data to clipboard...\n");
        request.handsFree->header = h;
        return;
    }
    placeText(text);
    if (h.count > 1) {
        console().write("The copy is " + std::to_string(h.count) + " parts of text.\n");
        console().write(placedText(1, h.count, 2) + "\n");
    }
    console().write("Done.\n");
}

void keepCopyForNext(const PartHeader& header, const std::vector<uint8_t>& payload) {
    if (header.count > 1) {
        const std::string preamble = keptPreamble(header, 2);
        writeFileAtomically(keptCopyPath(), {{reinterpret_cast<const uint8_t*>(preamble.data()), preamble.size()},
                                             {payload.data(), payload.size()}});
    } else {
        removeFile(keptCopyPath());
    }
}

void forgetKeptCopy() {
    try {
        const std::wstring path = keptCopyPath();
        removeFile(path);
        removeLeftovers(path);
        forgetSelfSet();
    } catch (const char*) {
        // No temp folder: nothing is kept either.
    }
}

bool placeNextPart(uint32_t number) {
    return runCommand([&] {
        try {
            KeptCopy kept = openKeptCopy();
            const uint32_t count = kept.header.count;
            static char message[160];
            if (number > count) {
                std::snprintf(message, sizeof message, "The copy has %lu parts: Tarnwick /NEXT n takes n from 1 to %lu.",
                              (unsigned long)count, (unsigned long)count);
                throw static_cast<const char*>(message);
            }
            if (!number && kept.next > count) {
                std::snprintf(message, sizeof message,
                              "All %lu parts of the copy were placed. Tarnwick /NEXT n places part n again.",
                              (unsigned long)count);
                throw static_cast<const char*>(message);
            }
            PartHeader part = kept.header;
            part.number = number ? number : kept.next;
            std::vector<uint8_t> bytes(part.length());
            readAt(kept.file.get(), kept.preambleLength + part.offset(), bytes.data(), bytes.size());
            placeText(partText(part, bytes.data()));

            // Sending a lost part again does not move the count on.
            const uint32_t next = part.number == kept.next ? kept.next + 1 : kept.next;
            if (next != kept.next) {
                const std::string field = keptPreamble(part, next).substr(0, kNextFieldLength);
                LARGE_INTEGER start = {};
                DWORD written = 0;
                if (!::SetFilePointerEx(kept.file.get(), start, nullptr, FILE_BEGIN) ||
                    !::WriteFile(kept.file.get(), field.data(), DWORD(field.size()), &written, nullptr) ||
                    written != field.size())
                    throw kErrorKeeping;
            }
            console().write(placedText(part.number, count, next) + "\n");
            console().write("Done.\n");
        } catch (const std::bad_alloc&) {
            throw kNotEnoughMemory;
        }
    });
}

}  // namespace tw
