#include "cache/folder_lists.h"

#include "cache/folders.h"

namespace cache {

platform::ErrorCode FileList::setPath(const std::wstring& folder) {
    names_.clear();
    path_ = folder;
    std::vector<platform::FolderEntry> entries;
    const platform::ErrorCode error = services_.listFolder(folder, false, entries);
    if (error != 0) return error;
    names_.reserve(entries.size());
    for (platform::FolderEntry& e : entries)
        names_.push_back(std::move(e.name));
    return 0;
}

platform::ErrorCode DirList::setPath(const std::wstring& folder) {
    std::vector<platform::FolderEntry> entries;
    const platform::ErrorCode error = services_.listFolder(folder, true, entries);
    if (error != 0) return error;
    path_ = folder;
    const std::wstring base = terminated(folder);
    paths_.clear();
    paths_.reserve(entries.size());
    for (const platform::FolderEntry& e : entries)
        paths_.push_back(base + e.name);
    return 0;
}

} // namespace cache
