// The copy command and the walk over its paths.
#include <windows.h>

#include <new>

#include "../../common/handles.h"
#include "../frontend/frontend.h"
#include "copy.h"
#include "entry_list.h"
#include "messages.h"
#include "pack_file.h"
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

// The folder a path leads to, links followed. False when it cannot be
// opened for the query.
bool folderIdentity(const std::string& path, FolderIdentity& id) {
    unique_hfile folder(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return true;
}

}  // namespace

std::string findName(const std::string& path) {
    WIN32_FIND_DATAA found;
    unique_hfind search(::FindFirstFileA(path.c_str(), &found));
    if (!search) return {};
    return found.cFileName;
}

int32_t EntryList::addFolder(const std::string& /*path*/, int32_t parentIndex, uint32_t attributes,
                             const std::string& name) {
    return queue_->folder(std::make_unique<FolderRecord>(makeFolderRecord(parentIndex, name.c_str(), attributes)));
}

void EntryList::collectPath(const std::string& path, int32_t parentIndex, uint32_t attributes,
                            const std::string& givenName) {
    queue_->write(path);
    ProgressLine line(*queue_);

    if (attributes == kUnknownAttributes) {
        attributes = ::GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) throw kPathNotFound;
    }
    std::string name = givenName.empty() ? findName(path) : givenName;
    // Windows reports "." for a path such as "dir\."; a record of that name
    // would make a paste write beside its destination instead of into it.
    if (name.empty() || isDotsOnly(name.c_str())) throw kUnnamedPath;

    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        queue_->file(path, parentIndex, attributes, name);
        line.end();
        return;
    }

    int32_t index = addFolder(path, parentIndex, attributes, name);
    line.end();

    // Only a link (a junction; under Wine also a symlink or a mount point)
    // can lead back to a folder the walk is inside, and the walk would then
    // never end: such a link is recorded, as above, but not entered a
    // second time. Links that lead elsewhere are followed like any folder.
    // A plain folder is always entered, whatever its identity: file ids are
    // not unique on every file system (ReFS has 128-bit ones), and a chance
    // match would drop a real subtree without a word. A link whose target
    // cannot be identified cannot be searched either; the copy ends rather
    // than publish the tree without that folder's contents.
    FolderIdentity id;
    bool known = folderIdentity(path, id);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!known) throw kErrorFindingFiles;
        for (const FolderIdentity& outer : walking_)
            if (outer == id) return;
    }
    if (known) walking_.push_back(id);
    scope_exit leave([&] {
        if (known) walking_.pop_back();
    });

    WIN32_FIND_DATAA found;
    unique_hfind search(::FindFirstFileA((path + "\\*.*").c_str(), &found));
    if (!search) throw kErrorFindingFiles;
    do {
        if (isDotsOnly(found.cFileName)) continue;
        collectPath(path + "\\" + found.cFileName, index, found.dwFileAttributes, found.cFileName);
    } while (::FindNextFileA(search.get(), &found));
}

bool copyPaths(char** paths, int count) {
    return runCommand([&] {
        try {
            EntryList list;
            {
                PackQueue queue(list, packThreads());
                list.setQueue(&queue);
                try {
                    for (int i = 0; i < count; ++i)
                        list.collectPath(paths[i], kTopLevel, kUnknownAttributes, std::string());
                } catch (...) {
                    // What the walk met before its failure shows first, and
                    // a failure among it is the one reported.
                    queue.drain();
                    throw;
                }
                queue.drain();
                list.setQueue(nullptr);
            }
            list.publishBlock();
        } catch (const std::bad_alloc&) {
            // Records, names and tables come from the C++ heap; running out
            // there is the same failure as running out for file contents.
            throw kNotEnoughMemory;
        }
    });
}

}  // namespace tw
