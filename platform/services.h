// The system services the commands use, behind one interface so that the
// command logic builds and is tested natively with a fake. The Win32
// implementation lives in win32_services.cpp; nothing here includes
// <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A Win32 error code; 0 means success. Captured right after the failing call.
using ErrorCode = std::uint32_t;
// The few codes the commands tell apart.
constexpr ErrorCode errorFileNotFound = 2;
constexpr ErrorCode errorPathNotFound = 3;
constexpr ErrorCode errorNotAFolder = 267; // ERROR_DIRECTORY
constexpr ErrorCode errorCancelled = 1223; // ERROR_CANCELLED: a long call gave up

struct Attributes {
    bool exists = false;
    bool directory = false;
    bool hidden = false;
    bool system = false;
    bool readOnly = false;
};

// When a copy's data must be on the disk: before the copy call returns, or
// later, at a flush the caller asks for.
enum class Flush { Now, Later };

struct FolderEntry {
    std::wstring name; // no folder part
    Attributes attributes;
};

// Sequential byte source over an open file. Closed when destroyed.
class ByteReader {
  public:
    virtual ~ByteReader() = default;
    // Reads up to `capacity` bytes into `buffer`; sets `got` to the count
    // (0 at the end of the file). Returns 0 or the error code.
    virtual ErrorCode read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
};

class Services {
  public:
    virtual ~Services() = default;

    // The directories as the system reports them, not terminated or
    // otherwise changed. An empty text with `error` set when the call fails.
    virtual std::wstring systemDirectory(ErrorCode& error) = 0;
    virtual std::wstring windowsDirectory(ErrorCode& error) = 0;
    // Full path of the running executable.
    virtual std::wstring modulePath() = 0;

    virtual Attributes attributes(const std::wstring& path) = 0;
    // The entries directly in `folder`, appended to `entries`: files of
    // every attribute when `directories` is false, else the sub-folders
    // (without "." and ".."). Their order is the file system's.
    virtual ErrorCode listFolder(const std::wstring& folder, bool directories,
                                 std::vector<FolderEntry>& entries) = 0;
    virtual ErrorCode createFolder(const std::wstring& path) = 0;
    // Removes a file whatever its attributes (read-only, hidden, system).
    virtual ErrorCode deleteFile(const std::wstring& path) = 0;
    // Copies over an existing file of the same name (which a failure may
    // leave cut short: callers copy to a temporary name and then move).
    // The copy keeps the source's attributes but read-only, so that it can
    // be moved, replaced and removed. With Flush::Now its data is on the
    // disk when the call returns; with Flush::Later it may still wait in the
    // system's cache until `flushVolume` or `flushFile`.
    virtual ErrorCode copyFile(const std::wstring& from, const std::wstring& to, Flush when) = 0;
    // Puts the data of every file of the volume holding `path` that still
    // waits in the system's cache on the disk, in one step. Fails where the
    // system does not allow it (without administrator rights, say).
    virtual ErrorCode flushVolume(const std::wstring& path) = 0;
    // Puts the data of one file on the disk.
    virtual ErrorCode flushFile(const std::wstring& path) = 0;
    // Creates `path` afresh (replacing a previous file whatever its
    // attributes, or failing with the reason it cannot be removed) and
    // writes all of
    // `bytes` to it, flushed; a partial file is removed on failure.
    virtual ErrorCode writeNewFile(const std::wstring& path, const std::string& bytes) = 0;
    // Moves `from` over `to` in one step; `to` may exist (also hidden).
    virtual ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) = 0;
    virtual ErrorCode openRead(const std::wstring& path, std::unique_ptr<ByteReader>& reader) = 0;

    // Text in the system's ANSI code page. `toAnsi` fails (returns false)
    // rather than substitute a character the code page cannot hold;
    // `fromAnsi` fails on a byte sequence that is not valid in it.
    virtual bool toAnsi(const std::wstring& text, std::string& out) = 0;
    virtual bool fromAnsi(const std::string& bytes, std::wstring& out) = 0;

    // The form two file names share when the file system takes them for
    // the same name (file names compare without regard to case).
    virtual std::wstring caseKey(const std::wstring& name) = 0;

    // Asks the shell to open `address` with its default handler (a web
    // address in the user's browser), shown as `showCommand` asks. The
    // result is not reported.
    virtual void shellOpen(const std::string& address, int showCommand) = 0;

    // The system's own wording for an error code, without the code.
    virtual std::wstring errorReason(ErrorCode error) = 0;

    // Called now and then during long calls (large listings, copies), so a
    // window can go on answering the system while they run. When `goOn`
    // answers false after a beat, the call gives up with errorCancelled,
    // leaving no partial file under the name it was writing.
    void setHeartbeat(std::function<void()> heartbeat, std::function<bool()> goOn = nullptr) {
        heartbeat_ = std::move(heartbeat);
        goOn_ = std::move(goOn);
    }

  protected:
    // False when the call in progress must give up.
    bool heartbeat() const {
        if (heartbeat_) heartbeat_();
        return !goOn_ || goOn_();
    }

  private:
    std::function<void()> heartbeat_;
    std::function<bool()> goOn_;
};

// The heartbeat for the span of one command.
class HeartbeatWhile {
  public:
    HeartbeatWhile(Services& services, std::function<void()> heartbeat,
                   std::function<bool()> goOn = nullptr)
        : services_(services) {
        services_.setHeartbeat(std::move(heartbeat), std::move(goOn));
    }
    ~HeartbeatWhile() { services_.setHeartbeat(nullptr); }
    HeartbeatWhile(const HeartbeatWhile&) = delete;
    HeartbeatWhile& operator=(const HeartbeatWhile&) = delete;

  private:
    Services& services_;
};

} // namespace platform
