#include "cache/program_files.h"

#include "cache/folders.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace cache {

namespace {
bool matches(const platform::Attributes& a) {
    return a.exists && !a.directory && !a.hidden && !a.system;
}
} // namespace

std::wstring ProgramFilesSearch::SearchedFile(const std::wstring& fName,
                                              const std::wstring& SearchPath) {
    const std::wstring candidate = terminated(SearchPath) + fName;
    if (matches(services_.attributes(candidate))) return candidate;

    if (!indexed_ || indexedRoot_ != SearchPath) indexTree(SearchPath);
    const auto hit = firstHolder_.find(services_.caseKey(fName));
    return hit == firstHolder_.end() ? std::wstring() : hit->second + fName;
}

void ProgramFilesSearch::indexTree(const std::wstring& root) {
    indexed_ = true;
    indexedRoot_ = root;
    firstHolder_.clear();
    std::vector<std::wstring> level = {root};
    for (int d = 0; d < depth && !level.empty(); ++d) {
        std::vector<std::wstring> next;
        for (const std::wstring& folder : level) {
            // A folder that cannot be listed is passed over.
            if (Dir1_.setPath(folder) != 0) continue;
            std::vector<std::pair<std::wstring, std::wstring>> subs; // key, path
            subs.reserve(Dir1_.count());
            for (std::size_t i = 0; i < Dir1_.count(); ++i)
                subs.emplace_back(services_.caseKey(Dir1_.entry(i)), Dir1_.entry(i));
            std::sort(subs.begin(), subs.end());
            for (auto& s : subs)
                next.push_back(std::move(s.second));
        }
        for (const std::wstring& folder : next) {
            const std::wstring holder = terminated(folder);
            std::vector<platform::FolderEntry> files;
            if (services_.listFolder(folder, false, files) != 0) continue;
            for (const platform::FolderEntry& f : files)
                if (matches(f.attributes))
                    firstHolder_.emplace(services_.caseKey(f.name), holder); // first wins
        }
        level = std::move(next);
    }
}

} // namespace cache
