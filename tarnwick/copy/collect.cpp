// The copy command and the walk over its paths.
#include <windows.h>

#include <new>

#include "../../common/handles.h"
#include "../platform/command.h"
#include "../platform/final_path.h"
#include "../platform/wide.h"
#include "block_names.h"
#include "copy.h"
#include "entry_list.h"
#include "messages.h"
#include "pack_file.h"
#include "pack_profile.h"
#include "pack_queue.h"

namespace tw {

namespace {

// Ends the current progress line exactly once, also when an error unwinds
// the walk, so that the console is tidy before the message box appears.
// Unwinding, the line is only marked cut: writing could allocate, and a
// second std::bad_alloc while one unwinds would end the process.
class ProgressLine {
public:
    explicit ProgressLine(PackQueue& queue) : queue_(queue) {}
    ~ProgressLine() {
        if (open_) queue_.cutLine();
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void end() {
        if (open_) queue_.write('\n');
        open_ = false;
    }

private:
    PackQueue& queue_;
    bool open_ = true;
};

bool dotsOnly(const std::wstring& name) {
    return !name.empty() && name.find_first_not_of(L'.') == std::wstring::npos;
}

// The folder a path leads to, links followed. False when it cannot be
// opened for the query. Its final path is left empty when the system
// cannot give one; a match without it is never taken for a loop.
bool folderIdentity(const std::wstring& path, FolderIdentity& id) {
    unique_hfile folder(::CreateFileW(fsPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    id.finalPath = toU16(finalPathOf(folder.get()));
    return true;
}

// The name a directory search reports for the path itself; empty when the
// search finds nothing (a drive root, a path ending in a backslash).
std::wstring findName(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    unique_hfind search(::FindFirstFileW(fsPath(path).c_str(), &found));
    if (!search) return {};
    return found.cFileName;
}

bool convertExactly(const char16_t* units, size_t count, std::string& bytes) {
    return toAnsiExact(reinterpret_cast<const wchar_t*>(units), count, bytes);
}

}  // namespace

struct EntryList::Named {
    std::wstring name;       // as the system holds it
    std::string recordName;  // what the record carries
};

namespace {

// The record names of one folder's entries (or of the paths given), which
// must differ from one another: a substitute for a name that the code page
// cannot hold is chosen knowing every sibling, also those listed after it.
std::vector<EntryList::Named> nameSiblings(std::vector<std::wstring> names) {
    std::vector<std::u16string> wide;
    wide.reserve(names.size());
    for (const std::wstring& name : names) wide.push_back(toU16(name));
    std::vector<std::string> records = assignRecordNames(wide, convertExactly);
    std::vector<EntryList::Named> named(names.size());
    for (size_t i = 0; i < names.size(); ++i) named[i] = {std::move(names[i]), std::move(records[i])};
    return named;
}

}  // namespace

void EntryList::noteName(int32_t index, const Named& named) {
    std::u16string name = toU16(named.name);
    if (isPlainAscii(name)) return;
    exactNames_.push_back(ExactName{uint32_t(index), nameFieldCrc(named.recordName.c_str()), std::move(name)});
}

void EntryList::collectPath(const std::wstring& path, int32_t parentIndex, uint32_t attributes, const Named& named,
                            uint64_t sizeHint) {
    queue_->write(path);
    ProgressLine line(*queue_);

    if (attributes == kUnknownAttributes) {
        ProfileSpan listing(Phase::list);
        attributes = ::GetFileAttributesW(fsPath(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) throw kPathNotFound;
    }
    // Windows reports "." for a path such as "dir\."; a record of that name
    // would make a paste write beside its destination instead of into it.
    if (named.name.empty() || dotsOnly(named.name)) throw kUnnamedPath;

    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        noteName(queue_->file(path, parentIndex, attributes, named.recordName, sizeHint), named);
        line.end();
        return;
    }

    int32_t index = queue_->folder(
        std::make_unique<FolderRecord>(makeFolderRecord(parentIndex, named.recordName.c_str(), attributes)));
    noteName(index, named);
    line.end();

    // Only a link (a junction; under Wine also a symlink or a mount point)
    // can lead back to a folder the walk is inside, and the walk would then
    // never end: such a link is recorded, as above, but not entered a
    // second time. Links that lead elsewhere are followed like any folder,
    // and so is a link whose identity matches an outer folder's without the
    // final paths confirming it: identities alone are not unique. A plain
    // folder is always entered. A link whose target cannot be identified
    // cannot be searched either; the copy ends rather than publish the tree
    // without that folder's contents.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        ProfileSpan listing(Phase::list);
        FolderIdentity id;
        if (!folderIdentity(path, id)) throw kErrorFindingFiles;
        for (Outer& outer : walking_) {
            if (!outer.asked) {
                outer.known = folderIdentity(outer.path, outer.id);
                outer.asked = true;
            }
            if (outer.known && outer.id.sameFolder(id)) return;
        }
        walking_.push_back(Outer{path, true, true, std::move(id)});
    } else {
        walking_.push_back(Outer{path, false, false, FolderIdentity()});
    }
    scope_exit leave([&] { walking_.pop_back(); });
    collectChildren(path, index);
}

void EntryList::collectChildren(const std::wstring& path, int32_t index) {
    std::vector<Named> children;
    std::vector<DWORD> attributes;
    std::vector<uint64_t> sizes;
    queue_->handOver();
    {
        ProfileSpan listing(Phase::list);
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        unique_hfind search(::FindFirstFileW(fsPath(path + L"\\*").c_str(), &found));
        if (!search) throw kErrorFindingFiles;
        do {
            if (dotsOnly(found.cFileName)) continue;
            names.emplace_back(found.cFileName);
            attributes.push_back(found.dwFileAttributes);
            sizes.push_back(uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow);
        } while (::FindNextFileW(search.get(), &found));
        search.reset();
        children = nameSiblings(std::move(names));
    }
    for (size_t i = 0; i < children.size(); ++i)
        collectPath(path + L"\\" + children[i].name, index, attributes[i], children[i], sizes[i]);
}

void EntryList::collectPaths(const std::vector<std::wstring>& paths) {
    // A path the system finds no name for fails when the walk reaches it,
    // after the paths before it.
    std::vector<Named> top;
    {
        ProfileSpan listing(Phase::list);
        std::vector<std::wstring> names;
        for (const std::wstring& path : paths) names.push_back(findName(path));
        top = nameSiblings(std::move(names));
    }
    for (size_t i = 0; i < paths.size(); ++i) collectPath(paths[i], kTopLevel, kUnknownAttributes, top[i], 0);
}

bool copyPaths(const std::vector<std::wstring>& paths) {
    startCopyProfile();
    scope_exit report([] { finishCopyProfile(); });
    return runCommand([&] {
        try {
            EntryList list;
            {
                PackQueue queue(list, packThreads());
                list.setQueue(&queue);
                try {
                    list.collectPaths(paths);
                } catch (...) {
                    // What the walk met before its failure shows first, and
                    // a failure among it is the one reported.
                    queue.drain();
                    throw;
                }
                queue.drain();
                list.setQueue(nullptr);
            }
            ProfileSpan publishing(Phase::publish);
            list.publishBlock();
        } catch (const std::bad_alloc&) {
            // Records, names and tables come from the C++ heap; running out
            // there is the same failure as running out for file contents.
            throw kNotEnoughMemory;
        }
    });
}

}  // namespace tw
