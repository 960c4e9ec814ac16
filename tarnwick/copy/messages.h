// The copy command's failure texts, raised as const char* and shown by the
// command guard.
#pragma once

namespace tw {

extern const char* const kPathNotFound;          // "Path not found."
extern const char* const kUnnamedPath;           // "Cannot copy an unnamed path."
extern const char* const kErrorFindingFiles;     // "Error finding files."
extern const char* const kErrorOpeningFile;      // "Error opening file."
extern const char* const kNotEnoughMemory;       // "Not enough memory."
extern const char* const kErrorReadingFile;      // "Error reading file."
extern const char* const kErrorGettingFileTime;  // "Error getting file time."
extern const char* const kErrorOpeningClipboard; // "Error opening clipboard."
extern const char* const kErrorSettingClipboard; // "Error copying data to clipboard."
// Sizes are 32-bit in the block; these refuse what would not fit rather
// than store a wrapped number.
extern const char* const kFileTooLarge;          // a file of 2 GiB or more
extern const char* const kCopyTooLarge;          // a block of 4 GiB or more

}  // namespace tw
