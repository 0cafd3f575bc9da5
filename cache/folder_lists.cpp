#include "cache/folder_lists.h"

#include "cache/folders.h"

namespace cache {

platform::ErrorCode FileList::setPath(const std::wstring& folder) {
    names_.clear();
    path_ = folder;
    return services_.listFolder(folder, false, names_);
}

platform::ErrorCode DirList::setPath(const std::wstring& folder) {
    std::vector<std::wstring> names;
    const platform::ErrorCode error = services_.listFolder(folder, true, names);
    if (error != 0) return error;
    path_ = folder;
    const std::wstring base = terminated(folder);
    paths_.clear();
    paths_.reserve(names.size());
    for (const std::wstring& name : names) paths_.push_back(base + name);
    return 0;
}

} // namespace cache
