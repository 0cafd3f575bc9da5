// The fake's cache folder as the program holds it, and the program's own
// files reached through it: leftovers, the lock, the probe of a replace and
// the read-only mark.
#include "fake_services.h"

namespace fake {

namespace {

bool plain(const Node& node) {
    return !node.directory && !node.reparse && node.links == 1;
}

class HeldFolder : public platform::Folder {
  public:
    HeldFolder(Services& s, std::wstring path) : s_(s) { s_.heldFolders[this] = std::move(path); }
    ~HeldFolder() override { s_.heldFolders.erase(this); }

  private:
    Services& s_;
};

class Lock : public platform::Held {
  public:
    Lock(Services& s, std::wstring path) : s_(s), path_(std::move(path)) {}
    ~Lock() override {
        s_.nodes.erase(path_);
        s_.locked.erase(path_);
    }

  private:
    Services& s_;
    std::wstring path_;
};

} // namespace

platform::ErrorCode Services::within(platform::Folder& folder, const std::wstring& name,
                                     std::wstring& path) {
    const auto held = heldFolders.find(&folder);
    if (held == heldFolders.end()) return 6; // ERROR_INVALID_HANDLE
    path = join(held->second, name);
    touched.push_back(path);
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"\\/") != std::wstring::npos)
        return invalidName;
    return 0;
}

// As GetFullPathNameW takes a full path: "/" as "\\", no empty, "." or
// ".." parts; terminated.
std::wstring Services::fullPath(const std::wstring& path) {
    const bool unc = path.rfind(L"\\\\", 0) == 0;
    std::wstring out = unc ? L"\\\\" : L"", part;
    for (const wchar_t c : path.substr(unc ? 2 : 0) + L'\\') {
        if (c != L'\\' && c != L'/') {
            part += c;
            continue;
        }
        if (part == L"..")
            out.resize(out.find_last_of(L'\\', out.size() - 2) + 1);
        else if (!part.empty() && part != L".")
            out += part + L'\\';
        part.clear();
    }
    return out;
}

platform::ErrorCode Services::holdFolder(const std::wstring& path,
                                         std::unique_ptr<platform::Folder>& folder) {
    touched.push_back(path);
    if (auto f = failHold.find(path); f != failHold.end()) return f->second;
    // Paths are taken as they stand: one not in normal form names nothing.
    if (!has(strip(path))) return pathNotFound;
    if (!isDir(path)) return platform::errorNotAFolder;
    folder = std::make_unique<HeldFolder>(*this, strip(path));
    return 0;
}

platform::ErrorCode Services::createFolder(const std::wstring& path) {
    touched.push_back(path);
    if (auto f = failCreate.find(path); f != failCreate.end()) return f->second;
    if (has(path)) return alreadyExists;
    if (!isDir(parentOf(path))) return pathNotFound;
    addDir(path);
    nodes[path].restricted = true;
    return 0;
}

platform::ErrorCode Services::lookIn(platform::Folder& folder, const std::wstring& name,
                                     std::wstring& path, Node*& node) {
    node = nullptr;
    if (const platform::ErrorCode error = within(folder, name, path)) return error;
    settle(path);
    if (auto it = nodes.find(path); it != nodes.end()) node = &it->second;
    // Windows will not open a name kept for a deleted file.
    return node != nullptr && node->deletePending ? accessDenied : 0;
}

platform::ErrorCode Services::removeOwnFile(platform::Folder& folder, const std::wstring& name) {
    std::wstring path;
    Node* node = nullptr;
    if (const platform::ErrorCode error = lookIn(folder, name, path, node)) return error;
    if (node == nullptr) return 0;
    if (!plain(*node) || node->readOnly) return platform::errorNotPlainFile;
    if (auto f = failDelete.find(path); f != failDelete.end()) return f->second;
    if (readOnlyFolders.count(parentOf(path)) != 0) return accessDenied;
    if (held(path)) {
        if (sharesDelete.count(path) == 0) return sharing;
        node->deletePending = true; // removed, but kept while it is held
        return accessDenied;
    }
    if (phantomDelete.count(path) != 0) return accessDenied; // the name stays
    nodes.erase(path);
    return 0;
}

platform::ErrorCode Services::lockFile(platform::Folder& folder, const std::wstring& name,
                                       std::unique_ptr<platform::Held>& held) {
    std::wstring path;
    if (const platform::ErrorCode error = within(folder, name, path)) return error;
    if (auto f = failLock.find(path); f != failLock.end()) return f->second;
    if (locked.count(path) != 0) return sharing;
    if (!isDir(parentOf(path))) return pathNotFound;
    if (readOnlyFolders.count(parentOf(path)) != 0) return accessDenied;
    if (!has(path)) addFile(path).hidden = true; // else a leftover, opened whatever it is
    locked.insert(path);
    held = std::make_unique<Lock>(*this, path);
    return 0;
}

platform::ErrorCode Services::replaceBlocker(platform::Folder& folder, const std::wstring& name) {
    std::wstring path;
    Node* node = nullptr;
    if (const platform::ErrorCode error = lookIn(folder, name, path, node)) return error;
    if (node == nullptr) return 0;
    if (held(path)) return sharing;
    return node->readOnly ? platform::errorFileReadOnly : 0;
}

platform::ErrorCode Services::setReadOnly(platform::Folder& folder, const std::wstring& name,
                                          bool readOnly) {
    std::wstring path;
    if (const platform::ErrorCode error = within(folder, name, path)) return error;
    auto it = nodes.find(path);
    if (it == nodes.end()) return fileNotFound;
    if (!plain(it->second)) return platform::errorNotPlainFile;
    it->second.readOnly = readOnly;
    return 0;
}

} // namespace fake
