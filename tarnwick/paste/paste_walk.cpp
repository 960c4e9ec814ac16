#include "paste_walk.h"

#include "block_walk.h"

namespace tw {

void walkTreeBlock(const uint8_t* block, size_t length, const std::u16string& folder, const NameRules& names,
                   PasteSteps& steps, std::vector<PlacedEntry>& placed) {
    TreeBlockReader reader(block, length);
    placed.clear();
    placed.reserve(rowsToReserve(reader, length));

    while (!reader.done()) {
        const CheckedEntry checked = nextCheckedEntry(reader, names);
        const TreeEntry& e = checked.entry;

        // The reader guarantees that a parent index names an earlier row.
        const std::u16string* parentPath = &folder;
        bool skip = false;
        if (e.parentIndex >= 0) {
            const PlacedEntry& parent = placed[size_t(e.parentIndex)];
            parentPath = &parent.path;
            skip = parent.skip;
        }

        std::u16string path;
        if (e.file) {
            if (!skip) {
                path = *parentPath + u'\\' + checked.name;
                // A written file's row is skipped; a declined one is not.
                skip = steps.restoreFile(path, *e.file, checked.bytes);
            }
        } else if (e.folder) {
            if (!skip) {
                path = *parentPath + u'\\' + checked.name;
                skip = steps.restoreFolder(path, *e.folder);
            }
        } else {
            skip = true;
            if (!steps.acceptUnknownEntry()) throw "";
        }
        if (skip) path.clear();
        placed.push_back(PlacedEntry{e.head, std::move(path), skip});
    }
    placed.clear();
}

void walkSingleFileBlock(const uint8_t* block, size_t length, const std::u16string& folder, const NameRules& names,
                         PasteSteps& steps) {
    CheckedSingleFile single = readCheckedSingleFile(block, length, names);
    steps.restoreFile(folder + u'\\' + single.name, *single.info, single.bytes);
}

}  // namespace tw
