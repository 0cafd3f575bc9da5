// In-memory stand-ins for the system and the window, so the commands can be
// driven and inspected natively, failures included.
#pragma once

#include "cache/window_port.h"
#include "platform/services.h"

#include <algorithm>
#include <cwctype>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fake {

constexpr platform::ErrorCode fileNotFound = 2;
constexpr platform::ErrorCode pathNotFound = 3;
constexpr platform::ErrorCode accessDenied = 5;
constexpr platform::ErrorCode sharing = 32;
constexpr platform::ErrorCode diskFull = 112;
constexpr platform::ErrorCode alreadyExists = 183;

inline std::wstring lower(std::wstring s) {
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

// Windows paths compare without regard to case.
struct PathLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return lower(a) < lower(b);
    }
};

struct Node {
    bool directory = false;
    bool hidden = false;
    bool system = false;
    bool readOnly = false;
    bool cachedOnly = false; // data not yet on the disk
    std::string data;
};

// A few characters of code page 936 with their real bytes; anything else
// beyond ASCII cannot be held, as a character outside the code page.
inline const std::vector<std::pair<wchar_t, std::string>>& cp936() {
    static const std::vector<std::pair<wchar_t, std::string>> table = {
        {L'\u4E2D', "\xD6\xD0"}, // 中
        {L'\u6587', "\xCE\xC4"}, // 文
        {L'\u5907', "\xB1\xB8"}, // 备
    };
    return table;
}

class Services : public platform::Services {
  public:
    std::wstring systemDir = L"C:\\WINDOWS\\system32";
    std::wstring windowsDir = L"C:\\WINDOWS";
    std::wstring module = L"D:\\tools\\Kestrum.exe";
    platform::ErrorCode systemDirError = 0;

    // Machine registry values by "key|name"; their text and kind.
    std::map<std::wstring, std::pair<platform::ValueKind, std::wstring>, PathLess> registry;
    static std::wstring policyValue() {
        return L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Windows File Protection|SFCDllCacheDir";
    }
    static std::wstring winlogonValue() {
        return L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon|SFCDllCacheDir";
    }
    void moveCache(const std::wstring& folder) {
        registry[winlogonValue()] = {platform::ValueKind::Text, folder};
    }

    std::map<std::wstring, Node, PathLess> nodes;
    std::map<std::wstring, platform::ErrorCode, PathLess> failList, failWrite, failReplace,
        failCopy, failOpen, failCreate, failDelete, failFlush;
    // Bytes a reader hands out per call, to exercise buffer boundaries.
    std::size_t readChunk = 1 << 16;
    // Reading fails once this many bytes were read (unset: never), in
    // readers opened after the first `cleanOpens`.
    std::size_t failReadAfter = static_cast<std::size_t>(-1);
    int cleanOpens = 0;
    // Copies from these sources fail after writing part of the file, as a
    // real copy cut off by a full disk does.
    std::map<std::wstring, platform::ErrorCode, PathLess> failCopyMidway;
    // Whole-volume flushes: opened only with administrator rights; then
    // this many work (-1: all).
    bool admin = false;
    int volumeFlushesLeft = -1;
    int volumeFlushCount = 0;
    std::vector<std::wstring> handleFlushes; // copies flushed through their handle
    // Volume serial numbers by folder (a folder linked to another volume);
    // 1 elsewhere.
    std::map<std::wstring, std::uint32_t, PathLess> volumes;
    // Files another program holds for this many more tries of ours: a copy
    // from or to it, a move of it or over it, its removal, or asking.
    std::map<std::wstring, int, PathLess> heldFor;
    // Each new copy is held this many tries, as by a virus scanner.
    int scanTries = 0;
    // Deletes that report success and leave the file, as Wine's can.
    std::set<std::wstring, PathLess> phantomDelete;
    std::set<std::wstring, PathLess> locked; // lock files held now
    // Room for the cache folder's files, in bytes.
    std::uint64_t cacheRoom = static_cast<std::uint64_t>(-1);
    std::uint32_t clock = 0; // milliseconds, moved on by pauses only
    int threadRuns = 0;      // work run aside
    std::map<std::wstring, platform::ErrorCode, PathLess> failLock;
    int openCopies = 0, mostOpenCopies = 0;
    // Real names a move gave data that was not yet on the disk.
    std::vector<std::wstring> unflushedMoves;
    std::vector<std::wstring> copies;  // "from -> to"
    std::vector<std::wstring> touched; // every path passed to a service
    // Called with the path of each listing and copy just before its
    // heartbeat, e.g. to end the session at a chosen step.
    std::function<void(const std::wstring&)> beforeBeat;

    Services() {
        addDir(L"C:\\");
        addDir(L"C:\\WINDOWS");
        addDir(L"C:\\WINDOWS\\system32");
        addDir(L"D:\\");
        addDir(L"D:\\tools");
    }

    void addDir(const std::wstring& path) { nodes[path].directory = true; }
    Node& addFile(const std::wstring& path, const std::string& data = std::string()) {
        Node& n = nodes[path];
        n = Node();
        n.data = data;
        return n;
    }
    bool has(const std::wstring& path) const { return nodes.count(path) != 0; }
    const Node& at(const std::wstring& path) const { return nodes.at(path); }

    static std::wstring parentOf(const std::wstring& path) {
        const std::size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos) return std::wstring();
        if (slash == 2 && path[1] == L':') return path.substr(0, 3);
        return path.substr(0, slash);
    }
    static std::wstring strip(std::wstring folder) {
        if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        return folder;
    }
    bool isDir(const std::wstring& path) const {
        auto it = nodes.find(strip(path));
        return it != nodes.end() && it->second.directory;
    }

    std::wstring systemDirectory(platform::ErrorCode& error) override {
        error = systemDirError;
        return error ? std::wstring() : systemDir;
    }
    std::wstring windowsDirectory(platform::ErrorCode& error) override {
        error = 0;
        return windowsDir;
    }
    std::wstring modulePath() override { return module; }
    platform::ValueKind machineValue(const std::wstring& key, const std::wstring& name,
                                     std::wstring& text) override {
        const auto it = registry.find(key + L"|" + name);
        if (it == registry.end()) return platform::ValueKind::Missing;
        text = it->second.second;
        return it->second.first;
    }
    // Knows %SystemRoot% only, and leaves other variables as they stand.
    bool expandVariables(const std::wstring& text, std::wstring& out) override {
        out = text;
        const std::wstring name = L"%systemroot%";
        for (std::size_t at; (at = lower(out).find(name)) != std::wstring::npos;)
            out.replace(at, name.size(), windowsDir);
        return true;
    }

    static platform::Attributes attributesOf(const Node& node) {
        platform::Attributes a;
        a.exists = true;
        a.directory = node.directory;
        a.hidden = node.hidden;
        a.system = node.system;
        a.readOnly = node.readOnly;
        return a;
    }

    platform::Attributes attributes(const std::wstring& path) override {
        touched.push_back(path);
        auto it = nodes.find(strip(path));
        return it == nodes.end() ? platform::Attributes() : attributesOf(it->second);
    }

    // Names of the files directly in `folder`, in listing order.
    std::vector<std::wstring> fileNames(const std::wstring& folder) {
        std::vector<platform::FolderEntry> entries;
        listFolder(folder, false, entries);
        std::vector<std::wstring> names;
        for (const auto& e : entries)
            names.push_back(e.name);
        return names;
    }

    platform::ErrorCode listFolder(const std::wstring& folder, bool directories,
                                   std::vector<platform::FolderEntry>& entries) override {
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

    platform::ErrorCode createFolder(const std::wstring& path) override {
        touched.push_back(path);
        if (auto f = failCreate.find(path); f != failCreate.end()) return f->second;
        if (has(path)) return alreadyExists;
        if (!isDir(parentOf(path))) return pathNotFound;
        addDir(path);
        return 0;
    }

    platform::ErrorCode deleteFile(const std::wstring& path) override {
        touched.push_back(path);
        if (auto f = failDelete.find(path); f != failDelete.end()) return f->second;
        auto it = nodes.find(path);
        if (it == nodes.end() || it->second.directory) return fileNotFound;
        if (held(path)) return sharing;
        if (phantomDelete.count(path) != 0) return 0;
        nodes.erase(it); // whatever its attributes
        return 0;
    }

    bool held(const std::wstring& path) {
        auto it = heldFor.find(path);
        if (it == heldFor.end() || it->second <= 0) return false;
        --it->second;
        return true;
    }

    std::uint32_t volumeOf(const std::wstring& path) const {
        std::uint32_t serial = 1;
        std::size_t longest = 0;
        for (const auto& [folder, number] : volumes)
            if (lower(path).rfind(lower(folder), 0) == 0 && folder.size() > longest) {
                serial = number;
                longest = folder.size();
            }
        return serial;
    }

    std::uint64_t cacheBytes() const {
        const std::wstring cache = lower(systemDir + L"\\dllcache\\");
        std::uint64_t n = 0;
        for (const auto& [path, node] : nodes)
            if (lower(path).rfind(cache, 0) == 0) n += node.data.size();
        return n;
    }

    class Copy : public platform::OpenCopy {
      public:
        Copy(Services& s, std::wstring path) : s_(s), path_(std::move(path)) {
            s_.mostOpenCopies = std::max(s_.mostOpenCopies, ++s_.openCopies);
        }
        ~Copy() override { close(); }
        std::uint64_t size() const override { return s_.nodes.at(path_).data.size(); }
        std::uint32_t volumeSerial() const override { return s_.volumeOf(path_); }
        platform::ErrorCode flush() override {
            if (auto f = s_.failFlush.find(path_); f != s_.failFlush.end()) return f->second;
            s_.handleFlushes.push_back(path_);
            s_.nodes.at(path_).cachedOnly = false;
            return 0;
        }
        platform::ErrorCode close() override {
            if (open_) --s_.openCopies;
            open_ = false;
            return 0;
        }

      private:
        Services& s_;
        std::wstring path_;
        bool open_ = true;
    };

    platform::ErrorCode copyFile(const std::wstring& from, const std::wstring& to,
                                 std::unique_ptr<platform::OpenCopy>& copy,
                                 platform::CopySide& side) override {
        touched.push_back(from);
        touched.push_back(to);
        side = platform::CopySide::Source;
        if (!beat(from)) return platform::errorCancelled;
        if (held(from)) return sharing;
        if (auto f = failCopy.find(from); f != failCopy.end()) return f->second;
        auto src = nodes.find(from);
        if (src == nodes.end() || src->second.directory) return fileNotFound;
        side = platform::CopySide::Target;
        if (held(to)) return sharing;
        if (phantomDelete.count(to) != 0) return accessDenied; // the system keeps it
        if (auto f = failCopyMidway.find(from); f != failCopyMidway.end()) {
            if (isDir(parentOf(to))) addFile(to, "cut short");
            return f->second;
        }
        if (!isDir(parentOf(to))) return pathNotFound;
        if (auto dst = nodes.find(to); dst != nodes.end()) {
            if (dst->second.directory || dst->second.readOnly) return accessDenied;
        }
        Node made = src->second;
        nodes.erase(to);
        if (cacheBytes() + made.data.size() > cacheRoom) return diskFull;
        made.hidden = made.system = made.readOnly = false;
        made.cachedOnly = true;
        nodes[to] = made;
        copies.push_back(from + L" -> " + to);
        copy = std::make_unique<Copy>(*this, to);
        if (scanTries > 0) heldFor[to] = scanTries;
        return 0;
    }

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

    platform::ErrorCode openVolume(const std::wstring& path,
                                   std::unique_ptr<platform::Volume>& volume) override {
        touched.push_back(path);
        if (!admin) return accessDenied;
        // The volume of the path's drive: a link inside it is not seen.
        volume = std::make_unique<FakeVolume>(*this, volumeOf(path.substr(0, 3)));
        return 0;
    }

    void aside(const std::function<void()>& work) override {
        ++threadRuns;
        work();
    }
    std::uint32_t ticks() override { return clock; }
    bool pause(std::uint32_t ms) override {
        clock += ms;
        return beat(L"pause");
    }

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
    platform::ErrorCode lockFile(const std::wstring& path,
                                 std::unique_ptr<platform::Held>& held) override {
        touched.push_back(path);
        if (auto f = failLock.find(path); f != failLock.end()) return f->second;
        if (locked.count(path) != 0) return sharing;
        if (!isDir(parentOf(path))) return pathNotFound;
        if (!has(path)) addFile(path).hidden = true; // else a leftover, opened
        locked.insert(path);
        held = std::make_unique<Lock>(*this, path);
        return 0;
    }

    platform::ErrorCode notHeld(const std::wstring& path) override {
        touched.push_back(path);
        return held(path) ? sharing : 0;
    }

    platform::ErrorCode setReadOnly(const std::wstring& path, bool readOnly) override {
        touched.push_back(path);
        auto it = nodes.find(path);
        if (it == nodes.end()) return fileNotFound;
        it->second.readOnly = readOnly;
        return 0;
    }

    platform::ErrorCode writeNewFile(const std::wstring& path, const std::string& bytes) override {
        touched.push_back(path);
        if (auto f = failWrite.find(path); f != failWrite.end()) return f->second;
        if (auto f = failDelete.find(path); f != failDelete.end() && has(path)) return f->second;
        if (!isDir(parentOf(path))) return pathNotFound;
        addFile(path, bytes); // a leftover goes, whatever its attributes
        return 0;
    }

    platform::ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) override {
        touched.push_back(from);
        touched.push_back(to);
        if (auto f = failReplace.find(to); f != failReplace.end()) return f->second;
        auto src = nodes.find(from);
        if (src == nodes.end()) return fileNotFound;
        if (held(from)) return sharing;
        if (held(to)) return accessDenied;
        if (auto dst = nodes.find(to); dst != nodes.end() && dst->second.readOnly)
            return accessDenied;
        Node moved = src->second;
        if (moved.cachedOnly) unflushedMoves.push_back(to);
        nodes.erase(src);
        nodes[to] = moved;
        // The latest copy to `from` is recorded where it ended up.
        for (auto c = copies.rbegin(); c != copies.rend(); ++c) {
            if (c->size() > from.size() &&
                c->compare(c->size() - from.size(), from.size(), from) == 0) {
                c->replace(c->size() - from.size(), from.size(), to);
                break;
            }
        }
        return 0;
    }

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

    platform::ErrorCode openRead(const std::wstring& path,
                                 std::unique_ptr<platform::ByteReader>& reader) override {
        touched.push_back(path);
        if (auto f = failOpen.find(path); f != failOpen.end()) return f->second;
        auto it = nodes.find(path);
        if (it == nodes.end() || it->second.directory) return fileNotFound;
        const bool clean = cleanOpens-- > 0;
        reader = std::make_unique<Reader>(it->second.data, readChunk,
                                          clean ? static_cast<std::size_t>(-1) : failReadAfter);
        return 0;
    }

    bool toAnsi(const std::wstring& text, std::string& out) override {
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

    bool fromAnsi(const std::string& bytes, std::wstring& out) override {
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

    std::wstring caseKey(const std::wstring& name) override { return lower(name); }

    std::vector<std::string> opened;
    void shellOpen(const std::string& address, int) override { opened.push_back(address); }

    std::wstring errorReason(platform::ErrorCode error) override {
        return L"<reason " + std::to_wstring(error) + L">";
    }

  private:
    bool beat(const std::wstring& path) {
        if (beforeBeat) beforeBeat(path);
        return heartbeat();
    }
};

struct Box {
    std::wstring text;
    std::wstring title;
    cache::Buttons buttons;
    cache::Icon icon;
};

class Window : public cache::WindowPort {
  public:
    std::vector<Box> boxes;
    std::deque<cache::Answer> answers; // scripted replies; Ok when none left
    std::vector<std::wstring> events;  // state changes in order
    bool backupEnabled = true;
    bool restoreEnabled = true;
    bool countEnabled = false;
    std::wstring countText;
    bool busy = false;

    cache::Answer messageBox(const std::wstring& text, const std::wstring& title,
                             cache::Buttons buttons, cache::Icon icon) override {
        boxes.push_back({text, title, buttons, icon});
        events.push_back(L"box:" + text);
        guard.reset(); // as the window does: the files are done changing
        if (answers.empty()) return cache::Answer::Ok;
        const cache::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    void setBackupEnabled(bool enabled) override {
        backupEnabled = enabled;
        events.push_back(enabled ? L"bak:on" : L"bak:off");
    }
    bool changing = false; // inside the span that may change files
    std::unique_ptr<platform::Held> guard;
    void beginChanges(const std::wstring&, std::unique_ptr<platform::Held> g) override {
        changing = true;
        guard = std::move(g);
    }
    void endChanges() override {
        changing = false;
        guard.reset();
    }
    void setRestoreEnabled(bool enabled) override {
        restoreEnabled = enabled;
        events.push_back(enabled ? L"restore:on" : L"restore:off");
    }
    void setCountEnabled(bool enabled) override {
        countEnabled = enabled;
        events.push_back(enabled ? L"count:on" : L"count:off");
    }
    void setCountText(const std::wstring& text) override { countText = text; }
    std::vector<std::wstring> progress;
    int keptAlive = 0; // heartbeats from long calls
    void keepAlive() override { ++keptAlive; }
    void showProgress(const std::wstring& text) override {
        progress.push_back(text);
        countText = text;
    }
    void setBusyCursor(bool b) override {
        busy = b;
        events.push_back(b ? L"cursor:wait" : L"cursor:arrow");
    }
    bool ending = false; // the session ends; set by a test, perhaps from a heartbeat
    bool sessionEnding() const override { return ending; }
};

} // namespace fake
