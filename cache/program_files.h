// The last place a restore looks for a file: the program-files folder of
// the Windows drive, and its sub-folders down to three levels.
#pragma once

#include "cache/folder_lists.h"
#include "platform/services.h"

#include <string>
#include <unordered_map>

namespace cache {

// The sub-folder tree is listed once per object, at the first name the
// folder itself does not hold, so a restore of thousands of names does not
// list it thousands of times. One object serves one restore run.
class ProgramFilesSearch {
  public:
    static constexpr int depth = 3;

    ProgramFilesSearch(platform::Services& services, DirList& Dir1)
        : services_(services), Dir1_(Dir1) {}

    // The full path of `fName` in `SearchPath` (the folder terminated,
    // then the name as given), or else in its sub-folders, breadth first,
    // each level's folders in case-insensitive name order; or empty.
    // Only ordinary, read-only and archive files count: hidden and system
    // files and folders never match.
    std::wstring SearchedFile(const std::wstring& fName, const std::wstring& SearchPath);

  private:
    void indexTree(const std::wstring& root);

    platform::Services& services_;
    DirList& Dir1_;
    std::wstring indexedRoot_;
    bool indexed_ = false;
    // Case key of a file name -> the first sub-folder (terminated) holding it.
    std::unordered_map<std::wstring, std::wstring> firstHolder_;
};

} // namespace cache
