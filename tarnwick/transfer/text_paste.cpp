// The paste's side of a text copy: the clipboard's text read as a part, the
// parts of a longer copy kept in the temp folder until the last arrives.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "../../common/handles.h"
#include "../platform/command.h"
#include "../platform/console.h"
#include "part_store.h"
#include "temp_folder.h"
#include "text_transfer.h"

namespace tw {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 on Windows");

const char kErrorOpeningClipboard[] = "Error opening clipboard.";
const char kErrorGettingClipboard[] = "Error getting clipboard data.";
const char kPartMark[] = "TARNWICK PART ";

// Each copy's parts in a folder "in-<copy id>" of the transfer folder: the
// kept first line in "first.txt", each part's bytes in "<number>.part"; the
// ids of the copies pasted lately in "pasted.txt", one a line. A link where
// one of these folders belongs is removed, never followed.
class FolderPartStorage final : public PartStorage {
public:
    explicit FolderPartStorage(const std::wstring& root) : root_(root) {}

    std::vector<uint64_t> copies() override {
        // Least recently changed first: a folder's time moves on with each
        // part added to it.
        std::vector<std::pair<uint64_t, uint64_t>> found;  // time, copy
        WIN32_FIND_DATAW entry;
        unique_hfind search(::FindFirstFileW((root_ + L"in-*").c_str(), &entry));
        if (search) {
            do {
                uint64_t copy;
                if (isLink(entry.dwFileAttributes)) {
                    if (copyOf(entry.cFileName, copy)) removeLink(root_ + entry.cFileName);
                    continue;
                }
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && copyOf(entry.cFileName, copy))
                    found.emplace_back(uint64_t(entry.ftLastWriteTime.dwHighDateTime) << 32 |
                                           entry.ftLastWriteTime.dwLowDateTime,
                                       copy);
            } while (::FindNextFileW(search.get(), &entry));
        }
        std::sort(found.begin(), found.end());
        std::vector<uint64_t> copies;
        for (const auto& f : found) copies.push_back(f.second);
        return copies;
    }

    bool header(uint64_t copy, std::string& line) override {
        if (!removeLink(folderName(copy))) return false;
        return readSmallFile(folderOf(copy) + L"first.txt", 512, line);
    }

    void begin(uint64_t copy, const std::string& line) override {
        const std::wstring folder = folderOf(copy);
        if (!removeLink(folderName(copy))) throw kErrorKeeping;
        if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            throw kErrorKeeping;
        writeFileAtomically(folder + L"first.txt", {{reinterpret_cast<const uint8_t*>(line.data()), line.size()}});
    }

    void drop(uint64_t copy) override {
        // A link in the folder's place goes itself; what it points at is
        // never looked into.
        const DWORD attributes = ownAttributes(folderName(copy));
        if (attributes == INVALID_FILE_ATTRIBUTES || isLink(attributes)) {
            removeLink(folderName(copy));
            return;
        }
        const std::wstring folder = folderOf(copy);
        WIN32_FIND_DATAW entry;
        unique_hfind search(::FindFirstFileW((folder + L"*").c_str(), &entry));
        if (search) {
            do {
                const std::wstring path = folder + entry.cFileName;
                if (isLink(entry.dwFileAttributes)) removeLink(path);
                else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) removeFile(path);
            } while (::FindNextFileW(search.get(), &entry));
        }
        search.reset();
        ::RemoveDirectoryW(folder.c_str());
    }

    std::vector<uint32_t> parts(uint64_t copy) override {
        std::vector<uint32_t> numbers;
        WIN32_FIND_DATAW entry;
        unique_hfind search(::FindFirstFileW((folderOf(copy) + L"*.part").c_str(), &entry));
        if (!search) return numbers;
        do {
            uint32_t n = 0;
            const wchar_t* p = entry.cFileName;
            while (*p >= L'0' && *p <= L'9' && n <= kMaxParts) n = n * 10 + uint32_t(*p++ - L'0');
            if (p != entry.cFileName && std::wcscmp(p, L".part") == 0) numbers.push_back(n);
        } while (::FindNextFileW(search.get(), &entry));
        return numbers;
    }

    void keep(uint64_t copy, uint32_t number, const uint8_t* bytes, size_t length) override {
        writeFileAtomically(partPath(copy, number), {{bytes, length}});
    }

    bool load(uint64_t copy, uint32_t number, uint8_t* out, size_t length) override {
        unique_hfile file(::CreateFileW(partPath(copy, number).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        if (!file || !::GetFileSizeEx(file.get(), &size) || uint64_t(size.QuadPart) != length) return false;
        while (length) {
            DWORD chunk = length > (16u << 20) ? (16u << 20) : DWORD(length), got = 0;
            if (!::ReadFile(file.get(), out, chunk, &got, nullptr) || got != chunk) return false;
            out += got;
            length -= got;
        }
        return true;
    }

    std::vector<uint64_t> pasted() override {
        std::vector<uint64_t> copies;
        std::string text;
        if (!readSmallFile(root_ + L"pasted.txt", kRememberedCopies * 18, text)) return copies;
        for (size_t at = 0; at + 16 <= text.size() && copies.size() < kRememberedCopies; at += 18) {
            std::wstring name = L"in-" + std::wstring(text.begin() + at, text.begin() + at + 16);
            uint64_t copy;
            if (copyOf(name.c_str(), copy)) copies.push_back(copy);
        }
        return copies;
    }

    void setPasted(const std::vector<uint64_t>& copies) override {
        std::string text;
        for (uint64_t copy : copies) {
            char line[24];
            std::snprintf(line, sizeof line, "%08lX%08lX\r\n", (unsigned long)(copy >> 32), (unsigned long)uint32_t(copy));
            text += line;
        }
        writeFileAtomically(root_ + L"pasted.txt", {{reinterpret_cast<const uint8_t*>(text.data()), text.size()}});
    }

private:
    static bool copyOf(const wchar_t* name, uint64_t& copy) {
        if (std::wcsncmp(name, L"in-", 3) != 0 || std::wcslen(name) != 19) return false;
        uint64_t v = 0;
        for (const wchar_t* p = name + 3; *p; ++p) {
            if (*p >= L'0' && *p <= L'9') v = v << 4 | uint64_t(*p - L'0');
            else if (*p >= L'A' && *p <= L'F') v = v << 4 | uint64_t(*p - L'A' + 10);
            else return false;
        }
        copy = v;
        return true;
    }
    // The folder's path without, and with, its closing backslash.
    std::wstring folderName(uint64_t copy) const {
        wchar_t name[32];
        std::swprintf(name, 32, L"in-%08lX%08lX", (unsigned long)(copy >> 32), (unsigned long)uint32_t(copy));
        return root_ + name;
    }
    std::wstring folderOf(uint64_t copy) const { return folderName(copy) + L"\\"; }
    std::wstring partPath(uint64_t copy, uint32_t number) const {
        return folderOf(copy) + std::to_wstring(number) + L".part";
    }

    std::wstring root_;
};

// Throws a message built at run time; the guard shows it after the stack
// has unwound, so it lives in static storage.
[[noreturn]] void raise(const std::string& text) {
    static std::string message;
    message = text;
    throw message.c_str();
}

// The clipboard's text when it starts as a part does; false for any other
// text, which is not copied at all.
bool readPartText(std::u16string& text) {
    if (!::IsClipboardFormatAvailable(CF_UNICODETEXT)) return false;
    reader_window window;
    clipboard_session clipboard(window.get());
    if (!clipboard) throw kErrorOpeningClipboard;
    if (!readClipboardText(kPartMark, text)) throw kErrorGettingClipboard;
    return !text.empty();
}

}  // namespace

bool pasteFromText(bool showArrival, const BlockPaster& pasteBlock) {
    std::u16string text;
    if (!readPartText(text)) return false;

    ReadPart part = readPart(text.data(), text.size());
    switch (part.status) {
    case PartStatus::NotAPart: return false;
    case PartStatus::Incomplete: raise(incompletePartText(text.size(), part.cut));
    case PartStatus::Invalid: throw kPartInvalid;
    case PartStatus::Newer: throw kPartNewer;
    case PartStatus::Part: break;
    }
    text.clear();
    text.shrink_to_fit();

    const PartReceipt receipt = receivePartText(part, pasteBlock);
    if (!receipt.pasted) {
        const std::string line = arrivalText(receipt.arrival);
        console().write(line + "\n");
        // The folder verb's console closes at once; a box keeps the news.
        if (showArrival) messageBox(line.c_str(), MB_OK | MB_ICONINFORMATION);
    }
    return true;
}

PartReceipt receivePartText(ReadPart& part, const BlockPaster& pasteBlock) {
    PartReceipt receipt;
    const PartHeader& h = part.header;
    if (h.count == 1) {
        // The whole copy in one part: nothing is kept.
        if (!payloadMatches(h, part.bytes.data())) throw kPartInvalid;
        const uint8_t* payload = part.bytes.data();
        pasteBlock(h.format, payload, h.blockLength, h.namesLength ? payload + h.blockLength : nullptr,
                   h.namesLength);
        receipt.arrival.header = h;
        receipt.arrival.present.assign(1, true);
        receipt.pasted = true;
        return receipt;
    }

    const std::wstring root = transferFolder();
    FolderPartStorage storage(root);
    {
        // Two pastes at once change the store one after the other.
        FolderLock lock(root + L"parts.lock");
        receipt.arrival = receivePart(storage, part);
    }
    Arrival& arrival = receipt.arrival;
    if (arrival.replaced) console().write(std::string(kKeptCopyReplaced) + "\n");
    if (arrival.pastedAlready || arrival.missing) return receipt;
    console().write("Part " + std::to_string(h.number) + " of " + std::to_string(h.count) +
                    " arrived: the copy is complete.\n");
    part.bytes.clear();
    part.bytes.shrink_to_fit();
    const uint8_t* payload = arrival.payload.data();
    pasteBlock(h.format, payload, h.blockLength, h.namesLength ? payload + h.blockLength : nullptr, h.namesLength);
    // Pasted: the parts have done their work. After a failure they stay,
    // and pasting the last part again tries once more.
    FolderLock lock(root + L"parts.lock");
    forgetCopy(storage, h.copyId);
    arrival.payload.clear();
    arrival.payload.shrink_to_fit();
    receipt.pasted = true;
    return receipt;
}

std::vector<bool> keptParts(uint64_t copy, uint32_t count) {
    std::vector<bool> present(count, false);
    const std::wstring root = transferFolder();
    FolderPartStorage storage(root);
    for (uint32_t number : storage.parts(copy))
        if (number >= 1 && number <= count) present[number - 1] = true;
    return present;
}

}  // namespace tw
