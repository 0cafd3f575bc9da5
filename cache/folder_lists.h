// The window's two hidden folder enumerators: `File1` lists the files
// directly in a folder, `Dir1` its immediate sub-folders. They hold no
// window of their own; only their listing is needed.
#pragma once

#include "platform/services.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cache {

// Names of all files directly in the folder, whatever their attributes;
// sub-folders are not entries.
class FileList {
  public:
    explicit FileList(platform::Services& services) : services_(services) {}

    // Rebuilds the list from `folder`. On failure the list is empty and the
    // error is returned.
    platform::ErrorCode setPath(const std::wstring& folder);
    const std::wstring& path() const { return path_; }
    std::size_t count() const { return names_.size(); }
    const std::wstring& entry(std::size_t index) const { return names_[index]; }
    const std::vector<std::wstring>& entries() const { return names_; }

  private:
    platform::Services& services_;
    std::wstring path_;
    std::vector<std::wstring> names_;
};

// Full paths of the immediate sub-folders of a folder. Disabled at start;
// the restore enables it before use.
class DirList {
  public:
    explicit DirList(platform::Services& services) : services_(services) {}

    // On failure the list keeps the folder it had.
    platform::ErrorCode setPath(const std::wstring& folder);
    const std::wstring& path() const { return path_; }
    std::size_t count() const { return paths_.size(); }
    const std::wstring& entry(std::size_t index) const { return paths_[index]; }

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

  private:
    platform::Services& services_;
    std::wstring path_;
    std::vector<std::wstring> paths_;
    bool enabled_ = false;
};

} // namespace cache
