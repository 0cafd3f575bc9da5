// In-memory stand-in for the system, answering as Windows does where Wine
// answers otherwise (a name kept while a deleted file is held, a move over
// a held file), so the commands can be driven and inspected natively,
// failures included.
#pragma once

#include "platform/services.h"

#include <algorithm>
#include <cwctype>
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
constexpr platform::ErrorCode fileExists = 80;
constexpr platform::ErrorCode diskFull = 112;
constexpr platform::ErrorCode alreadyExists = 183;
constexpr platform::ErrorCode invalidName = 123;

inline std::wstring lower(std::wstring s) {
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

// Windows paths compare without regard to case.
struct PathLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        const std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto x = std::towlower(static_cast<wint_t>(a[i]));
            const auto y = std::towlower(static_cast<wint_t>(b[i]));
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

struct Node {
    bool directory = false;
    bool hidden = false;
    bool system = false;
    bool readOnly = false;
    bool cachedOnly = false; // data not yet on the disk
    bool restricted = false; // a folder only administrators may write into
    int links = 1;           // names of the file: more than one, a hard link
    bool reparse = false;    // a symbolic link or junction
    // Deleted while another program holds it: the name stays until it lets
    // go, and Windows refuses to open it or say what it is meanwhile.
    bool deletePending = false;
    std::string data;
};

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
    static std::wstring systemVariable(const std::wstring& name) {
        return L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment|" + name;
    }
    void moveCache(const std::wstring& folder) {
        registry[winlogonValue()] = {platform::ValueKind::Text, folder};
    }

    std::map<std::wstring, Node, PathLess> nodes;
    std::map<std::wstring, platform::ErrorCode, PathLess> failList, failWrite, failReplace,
        failCopy, failOpen, failCreate, failDelete, failFlush, failHold;
    // Folders held now, by the object that holds each.
    std::map<const platform::Folder*, std::wstring> heldFolders;
    // The cache's file system is FAT: a replace of a read-only file is
    // refused as "already exists", not access denied.
    bool fat = false;
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
    // Files another program holds for this many more tries of ours (a copy
    // from or to it, a move of it or over it, its removal, or asking), or
    // until the clock reaches a time; without sharing them for deleting,
    // unless named in `sharesDelete`.
    std::map<std::wstring, int, PathLess> heldFor;
    std::map<std::wstring, std::uint32_t, PathLess> heldUntil;
    std::set<std::wstring, PathLess> sharesDelete;
    // Each new file, once its writer closed it under its real name, is held
    // this many tries or milliseconds by an indexer, which shares it for
    // reading, writing and deleting.
    int scanTries = 0;
    std::uint32_t scanMs = 0;
    // Deletes that report success and leave the file, as Wine's can.
    std::set<std::wstring, PathLess> phantomDelete;
    // Folders the program may only read (a read-only share): no file can
    // be created or removed there.
    std::set<std::wstring, PathLess> readOnlyFolders;
    std::set<std::wstring, PathLess> locked; // lock files held now
    // Room for the cache folder's files, in bytes; a new file is refused
    // when none is left.
    std::uint64_t cacheRoom = static_cast<std::uint64_t>(-1);
    std::uint32_t clock = 0;  // milliseconds, moved on by pauses only
    std::uint32_t paused = 0; // milliseconds of pauses in all
    int threadRuns = 0;       // work run aside
    std::map<std::wstring, platform::ErrorCode, PathLess> failLock;
    int openCopies = 0, mostOpenCopies = 0;
    // Real names a move gave data that was not yet on the disk.
    std::vector<std::wstring> unflushedMoves;
    std::vector<std::wstring> copies;  // "from -> to"
    std::vector<std::wstring> touched; // every path passed to a service
    // Called with the path of each listing and copy just before its
    // heartbeat, e.g. to end the session at a chosen step.
    std::function<void(const std::wstring&)> beforeBeat;

    Services();

    void addDir(const std::wstring& path) { nodes[path].directory = true; }
    Node& addFile(const std::wstring& path, const std::string& data = std::string());
    bool has(const std::wstring& path) const { return nodes.count(path) != 0; }
    const Node& at(const std::wstring& path) const { return nodes.at(path); }
    static std::wstring parentOf(const std::wstring& path);
    static std::wstring strip(std::wstring folder);
    static std::wstring join(const std::wstring& folder, const std::wstring& name) {
        return strip(folder) + (strip(folder).back() == L'\\' ? L"" : L"\\") + name;
    }
    // The path of `name` in a held folder; else why a native call refuses
    // it: a folder not held now, or a name that is not bare (a separator,
    // an empty, "." or ".." part).
    platform::ErrorCode within(platform::Folder& folder, const std::wstring& name,
                               std::wstring& path);
    // And what stands there once a hold let go settles (null: nothing).
    platform::ErrorCode lookIn(platform::Folder& folder, const std::wstring& name,
                               std::wstring& path, Node*& node);
    bool isDir(const std::wstring& path) const;
    // Names of the files directly in `folder`, in listing order.
    std::vector<std::wstring> fileNames(const std::wstring& folder);
    std::uint32_t volumeOf(const std::wstring& path) const;
    std::uint64_t cacheBytes() const;
    // Another program holds `path` now; `tries` counts one try of ours.
    bool held(const std::wstring& path, bool tries = true);
    // A held file was let go meanwhile: a name kept for deletion goes.
    void settle(const std::wstring& path);
    // A copy given its real name: what the file system and the indexer do.
    platform::ErrorCode moveCopy(const std::wstring& from, const std::wstring& to);

    std::wstring systemDirectory(platform::ErrorCode& error) override;
    std::wstring windowsDirectory(platform::ErrorCode& error) override;
    std::wstring modulePath() override { return module; }
    platform::ValueKind machineValue(const std::wstring& key, const std::wstring& name,
                                     std::wstring& text) override;
    platform::Attributes attributes(const std::wstring& path) override;
    platform::ErrorCode listFolder(const std::wstring& folder, bool directories,
                                   std::vector<platform::FolderEntry>& entries) override;
    std::wstring fullPath(const std::wstring& path) override;
    platform::ErrorCode createFolder(const std::wstring& path) override;
    platform::ErrorCode holdFolder(const std::wstring& path,
                                   std::unique_ptr<platform::Folder>& folder) override;
    platform::ErrorCode deleteFile(const std::wstring& path) override;
    platform::ErrorCode removeOwnFile(platform::Folder& folder, const std::wstring& name) override;
    platform::ErrorCode copyFile(const std::wstring& from, platform::Folder& folder,
                                 const std::wstring& name,
                                 std::unique_ptr<platform::OpenCopy>& copy,
                                 platform::CopySide& side) override;
    platform::ErrorCode openVolume(const std::wstring& path,
                                   std::unique_ptr<platform::Volume>& volume) override;
    void aside(const std::function<void()>& work) override {
        ++threadRuns;
        work();
    }
    std::uint32_t ticks() override { return clock; }
    bool pause(std::uint32_t ms) override;
    platform::ErrorCode lockFile(platform::Folder& folder, const std::wstring& name,
                                 std::unique_ptr<platform::Held>& held) override;
    platform::ErrorCode replaceBlocker(platform::Folder& folder, const std::wstring& name) override;
    platform::ErrorCode setReadOnly(platform::Folder& folder, const std::wstring& name,
                                    bool readOnly) override;
    platform::ErrorCode writeNewFile(const std::wstring& path, const std::string& bytes) override;
    platform::ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) override;
    platform::ErrorCode openRead(const std::wstring& path,
                                 std::unique_ptr<platform::ByteReader>& reader) override;
    bool toAnsi(const std::wstring& text, std::string& out) override;
    bool fromAnsi(const std::string& bytes, std::wstring& out) override;
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

} // namespace fake
