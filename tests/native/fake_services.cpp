#include "fake_services.h"

#include <algorithm>

namespace fake {

namespace {

// A few characters of code page 936 with their real bytes; anything else
// beyond ASCII cannot be held, as a character outside the code page.
const std::vector<std::pair<wchar_t, std::string>>& cp936() {
    static const std::vector<std::pair<wchar_t, std::string>> table = {
        {L'\u4E2D', "\xD6\xD0"}, // 中
        {L'\u6587', "\xCE\xC4"}, // 文
        {L'\u5907', "\xB1\xB8"}, // 备
    };
    return table;
}

platform::Attributes attributesOf(const Node& node) {
    platform::Attributes a;
    a.exists = true;
    a.directory = node.directory;
    a.hidden = node.hidden;
    a.system = node.system;
    a.readOnly = node.readOnly;
    return a;
}

// A new file under its temporary name, open and shared with no one: no
// other program can hold it, and removing it takes its name at once.
class Copy : public platform::OpenCopy {
  public:
    Copy(Services& s, std::wstring path) : s_(s), path_(std::move(path)) {
        s_.mostOpenCopies = std::max(s_.mostOpenCopies, ++s_.openCopies);
    }
    ~Copy() override { discard(); }
    std::uint64_t size() const override { return s_.nodes.at(path_).data.size(); }
    std::uint32_t volumeSerial() const override { return s_.volumeOf(path_); }
    platform::ErrorCode flush() override {
        if (auto f = s_.failFlush.find(path_); f != s_.failFlush.end()) return f->second;
        s_.handleFlushes.push_back(path_);
        s_.nodes.at(path_).cachedOnly = false;
        return 0;
    }
    platform::ErrorCode moveTo(const std::wstring& name) override {
        const std::wstring to = Services::join(Services::parentOf(path_), name);
        s_.touched.push_back(to);
        if (name.find_first_of(L"\\/") != std::wstring::npos) return invalidName;
        const platform::ErrorCode error = s_.moveCopy(path_, to);
        if (error == 0) close();
        return error;
    }
    platform::ErrorCode discard() override {
        if (!open_) return 0;
        s_.nodes.erase(path_);
        close();
        return 0;
    }

  private:
    void close() {
        if (open_) --s_.openCopies;
        open_ = false;
    }
    Services& s_;
    std::wstring path_;
    bool open_ = true;
};

class FakeVolume : public platform::Volume {
  public:
    FakeVolume(Services& s, std::uint32_t serial) : s_(s), serial_(serial) {}
    std::uint32_t serial() const override { return serial_; }
    platform::ErrorCode flush() override {
        if (s_.volumeFlushesLeft == 0) return 1; // ERROR_INVALID_FUNCTION
        if (s_.volumeFlushesLeft > 0) --s_.volumeFlushesLeft;
        ++s_.volumeFlushCount;
        for (auto& [path, node] : s_.nodes)
            if (s_.volumeOf(path) == serial_) node.cachedOnly = false;
        return 0;
    }

  private:
    Services& s_;
    std::uint32_t serial_;
};

class Reader : public platform::ByteReader {
  public:
    Reader(std::string data, std::size_t chunk, std::size_t failAfter)
        : data_(std::move(data)), chunk_(chunk), failAfter_(failAfter) {}
    platform::ErrorCode read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        if (pos_ >= failAfter_) return 23; // data error (CRC)
        std::size_t n = std::min({capacity, chunk_, data_.size() - pos_});
        if (failAfter_ != static_cast<std::size_t>(-1)) n = std::min(n, failAfter_ - pos_);
        std::copy_n(data_.data() + pos_, n, buffer);
        pos_ += n;
        got = n;
        return 0;
    }

  private:
    std::string data_;
    std::size_t chunk_;
    std::size_t failAfter_;
    std::size_t pos_ = 0;
};

} // namespace

Services::Services() {
    addDir(L"C:\\");
    addDir(L"C:\\WINDOWS");
    addDir(L"C:\\WINDOWS\\system32");
    addDir(L"D:\\");
    addDir(L"D:\\tools");
}

Node& Services::addFile(const std::wstring& path, const std::string& data) {
    Node& n = nodes[path];
    n = Node();
    n.data = data;
    return n;
}

std::wstring Services::parentOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    if (slash == 2 && path[1] == L':') return path.substr(0, 3);
    return path.substr(0, slash);
}

std::wstring Services::strip(std::wstring folder) {
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

bool Services::isDir(const std::wstring& path) const {
    auto it = nodes.find(strip(path));
    return it != nodes.end() && it->second.directory;
}

std::vector<std::wstring> Services::fileNames(const std::wstring& folder) {
    std::vector<platform::FolderEntry> entries;
    listFolder(folder, false, entries);
    std::vector<std::wstring> names;
    for (const auto& e : entries)
        names.push_back(e.name);
    return names;
}

std::uint32_t Services::volumeOf(const std::wstring& path) const {
    std::uint32_t serial = 1;
    std::size_t longest = 0;
    for (const auto& [folder, number] : volumes)
        if (lower(path).rfind(lower(folder), 0) == 0 && folder.size() > longest) {
            serial = number;
            longest = folder.size();
        }
    return serial;
}

std::uint64_t Services::cacheBytes() const {
    const std::wstring cache = lower(systemDir + L"\\dllcache\\");
    std::uint64_t n = 0;
    for (const auto& [path, node] : nodes)
        if (lower(path).rfind(cache, 0) == 0) n += node.data.size();
    return n;
}

bool Services::held(const std::wstring& path, bool tries) {
    if (auto until = heldUntil.find(path);
        until != heldUntil.end() && static_cast<std::int32_t>(clock - until->second) < 0)
        return true;
    auto it = heldFor.find(path);
    if (it == heldFor.end() || it->second <= 0) return false;
    if (tries) --it->second;
    return true;
}

void Services::settle(const std::wstring& path) {
    auto it = nodes.find(path);
    if (it != nodes.end() && it->second.deletePending && !held(path, false)) nodes.erase(it);
}

platform::ErrorCode Services::moveCopy(const std::wstring& from, const std::wstring& to) {
    if (auto f = failReplace.find(to); f != failReplace.end()) return f->second;
    settle(to);
    if (auto dst = nodes.find(to); dst != nodes.end()) {
        // Held in any mode, deleted and kept, read-only or a folder: access
        // denied; FAT refuses a read-only one as "already exists".
        if (dst->second.readOnly && fat) return alreadyExists;
        if (held(to) || dst->second.deletePending || dst->second.readOnly || dst->second.directory)
            return accessDenied;
    }
    // Only the name is replaced: a link there goes, not what it points to.
    Node moved = nodes.at(from);
    if (moved.cachedOnly) unflushedMoves.push_back(to);
    nodes.erase(from);
    nodes[to] = moved;
    // The latest copy to `from` is recorded where it ended up.
    for (auto c = copies.rbegin(); c != copies.rend(); ++c) {
        if (c->size() > from.size() &&
            c->compare(c->size() - from.size(), from.size(), from) == 0) {
            c->replace(c->size() - from.size(), from.size(), to);
            break;
        }
    }
    // Its writer has closed it: the indexer looks at it.
    if (scanTries > 0) heldFor[to] = scanTries;
    if (scanMs > 0) heldUntil[to] = clock + scanMs;
    if (scanTries > 0 || scanMs > 0) sharesDelete.insert(to);
    return 0;
}

std::wstring Services::systemDirectory(platform::ErrorCode& error) {
    error = systemDirError;
    return error ? std::wstring() : systemDir;
}

std::wstring Services::windowsDirectory(platform::ErrorCode& error) {
    error = 0;
    return windowsDir;
}

platform::ValueKind Services::machineValue(const std::wstring& key, const std::wstring& name,
                                           std::wstring& text) {
    const auto it = registry.find(key + L"|" + name);
    if (it == registry.end()) return platform::ValueKind::Missing;
    text = it->second.second;
    return it->second.first;
}

platform::Attributes Services::attributes(const std::wstring& path) {
    touched.push_back(path);
    settle(strip(path));
    auto it = nodes.find(strip(path));
    // Windows will not say what a file kept for deletion is.
    if (it == nodes.end() || it->second.deletePending) return platform::Attributes();
    return attributesOf(it->second);
}

platform::ErrorCode Services::listFolder(const std::wstring& folder, bool directories,
                                         std::vector<platform::FolderEntry>& entries) {
    touched.push_back(folder);
    if (!beat(folder)) return platform::errorCancelled;
    if (auto f = failList.find(folder); f != failList.end()) return f->second;
    if (has(strip(folder)) && !isDir(folder)) return platform::errorNotAFolder;
    if (!isDir(folder)) return pathNotFound;
    const std::wstring base = strip(folder);
    for (const auto& [path, node] : nodes) {
        if (path.size() <= base.size() || lower(parentOf(path)) != lower(base)) continue;
        if (node.directory != directories) continue;
        entries.push_back({path.substr(path.find_last_of(L'\\') + 1), attributesOf(node)});
    }
    return 0;
}

platform::ErrorCode Services::deleteFile(const std::wstring& path) {
    touched.push_back(path);
    if (auto f = failDelete.find(path); f != failDelete.end()) return f->second;
    auto it = nodes.find(path);
    if (it == nodes.end() || it->second.directory) return fileNotFound;
    if (held(path)) return sharing;
    if (phantomDelete.count(path) != 0) return 0;
    nodes.erase(it); // whatever its attributes
    return 0;
}

platform::ErrorCode Services::copyFile(const std::wstring& from, platform::Folder& folder,
                                       const std::wstring& name,
                                       std::unique_ptr<platform::OpenCopy>& copy,
                                       platform::CopySide& side) {
    touched.push_back(from);
    side = platform::CopySide::TempName;
    std::wstring to;
    if (const platform::ErrorCode error = within(folder, name, to)) return error;
    side = platform::CopySide::Source;
    if (!beat(from)) return platform::errorCancelled;
    if (held(from)) return sharing;
    if (auto f = failCopy.find(from); f != failCopy.end()) return f->second;
    auto src = nodes.find(from);
    if (src == nodes.end() || src->second.directory) return fileNotFound;
    // A new file: a name that stands is never opened.
    side = platform::CopySide::TempName;
    settle(to);
    if (auto dst = nodes.find(to); dst != nodes.end())
        return dst->second.deletePending ? accessDenied : fileExists;
    if (!isDir(parentOf(to))) return pathNotFound;
    if (readOnlyFolders.count(parentOf(to)) != 0) return accessDenied;
    const bool limited = cacheRoom != static_cast<std::uint64_t>(-1);
    if (limited && cacheBytes() >= cacheRoom) return diskFull; // no room for its name
    side = platform::CopySide::Target;
    if (auto f = failCopyMidway.find(from); f != failCopyMidway.end()) return f->second;
    Node made = src->second;
    if (limited && cacheBytes() + made.data.size() > cacheRoom) return diskFull;
    made.hidden = made.system = made.readOnly = false;
    made.cachedOnly = true;
    nodes[to] = made;
    copies.push_back(from + L" -> " + to);
    copy = std::make_unique<Copy>(*this, to);
    return 0;
}

platform::ErrorCode Services::openVolume(const std::wstring& path,
                                         std::unique_ptr<platform::Volume>& volume) {
    touched.push_back(path);
    if (!admin) return accessDenied;
    // The volume of the path's drive: a link inside it is not seen.
    volume = std::make_unique<FakeVolume>(*this, volumeOf(path.substr(0, 3)));
    return 0;
}

bool Services::pause(std::uint32_t ms) {
    clock += ms;
    paused += ms;
    return beat(L"pause");
}

platform::ErrorCode Services::writeNewFile(const std::wstring& path, const std::string& bytes) {
    touched.push_back(path);
    if (auto f = failWrite.find(path); f != failWrite.end()) return f->second;
    if (auto f = failDelete.find(path); f != failDelete.end() && has(path)) return f->second;
    if (!isDir(parentOf(path))) return pathNotFound;
    addFile(path, bytes); // a leftover goes, whatever its attributes
    return 0;
}

platform::ErrorCode Services::replaceFile(const std::wstring& from, const std::wstring& to) {
    touched.push_back(from);
    touched.push_back(to);
    if (auto f = failReplace.find(to); f != failReplace.end()) return f->second;
    if (nodes.find(from) == nodes.end()) return fileNotFound;
    if (held(from)) return sharing;
    return moveCopy(from, to);
}

platform::ErrorCode Services::openRead(const std::wstring& path,
                                       std::unique_ptr<platform::ByteReader>& reader) {
    touched.push_back(path);
    if (auto f = failOpen.find(path); f != failOpen.end()) return f->second;
    auto it = nodes.find(path);
    if (it == nodes.end() || it->second.directory) return fileNotFound;
    const bool clean = cleanOpens-- > 0;
    reader = std::make_unique<Reader>(it->second.data, readChunk,
                                      clean ? static_cast<std::size_t>(-1) : failReadAfter);
    return 0;
}

bool Services::toAnsi(const std::wstring& text, std::string& out) {
    out.clear();
    for (wchar_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        auto it = std::find_if(cp936().begin(), cp936().end(),
                               [c](const auto& p) { return p.first == c; });
        if (it == cp936().end()) return false;
        out += it->second;
    }
    return true;
}

bool Services::fromAnsi(const std::string& bytes, std::wstring& out) {
    out.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            continue;
        }
        if (i + 1 >= bytes.size()) return false;
        const std::string pair = bytes.substr(i, 2);
        auto it = std::find_if(cp936().begin(), cp936().end(),
                               [&](const auto& p) { return p.second == pair; });
        if (it == cp936().end()) return false;
        out += it->first;
        ++i;
    }
    return true;
}

} // namespace fake
