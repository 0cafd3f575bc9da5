// Whether a line of the list file may be joined onto a folder: the list is
// a file anyone could edit, and the restore writes into a system folder.
#pragma once

#include <string>

namespace cache {

// True for a bare file name: not empty, no folder part or drive
// (\ / :), not ending in a dot or a space (".", ".." and the like), no
// character that file names cannot hold, and not a reserved device name
// (CON, PRN, AUX, NUL, COM0-9, LPT0-9), with or without an extension.
bool isBareFileName(const std::wstring& name);

} // namespace cache
