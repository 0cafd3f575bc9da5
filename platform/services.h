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
constexpr ErrorCode errorAccessDenied = 5;
constexpr ErrorCode errorWriteProtect = 19;
constexpr ErrorCode errorSharingViolation = 32;
constexpr ErrorCode errorLockViolation = 33;
constexpr ErrorCode errorHandleDiskFull = 39;
constexpr ErrorCode errorNetworkAccessDenied = 65;
constexpr ErrorCode errorFileExists = 80;
// ERROR_CANNOT_MAKE: no temporary name could be made for a file's copy.
constexpr ErrorCode errorCannotMake = 82;
constexpr ErrorCode errorDiskFull = 112;
constexpr ErrorCode errorInvalidName = 123;
constexpr ErrorCode errorAlreadyExists = 183;
// ERROR_FILE_READ_ONLY: what keeps a replace from working is the target's
// read-only attribute.
constexpr ErrorCode errorFileReadOnly = 6009;
// ERROR_CANT_ACCESS_FILE: a name the program wants for a file of its own
// holds a link, a reparse point, a folder or a read-only file: something it
// did not make, which it leaves alone.
constexpr ErrorCode errorNotPlainFile = 1920;

// Another program has the file open in a way that refuses ours, for now.
inline bool inUse(ErrorCode error) {
    return error == errorSharingViolation || error == errorLockViolation;
}
inline bool diskFull(ErrorCode error) {
    return error == errorDiskFull || error == errorHandleDiskFull;
}
// The program may not, or cannot, write there: rights, a read-only medium
// or share, no room.
inline bool cannotWrite(ErrorCode error) {
    return error == errorAccessDenied || error == errorWriteProtect ||
           error == errorNetworkAccessDenied || diskFull(error);
}

struct Attributes {
    bool exists = false;
    bool directory = false;
    bool hidden = false;
    bool system = false;
    bool readOnly = false;
};

// Where a failed copy failed: the source could not be opened or read, the
// temporary name could not be created, or the copy could not be written.
enum class CopySide { Source, TempName, Target };

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

// A finished copy under its temporary name, still open and shared with no
// one: no other program can open it, and its data may still wait in the
// system's cache. `flush` may be called from another thread. Destroyed
// before `moveTo` succeeded, the copy is removed.
class OpenCopy {
  public:
    virtual ~OpenCopy() = default;
    virtual std::uint64_t size() const = 0;
    // The serial number of the volume the data went to.
    virtual std::uint32_t volumeSerial() const = 0;
    virtual ErrorCode flush() = 0;
    // Gives the copy the name `name` in its own folder in one step,
    // replacing the file there, and closes it: through its own handle, so
    // that no other program ever sees it under the temporary name. Where
    // the file system cannot do that, it is closed and moved by name. On
    // failure the copy stays as it was and may be moved again.
    virtual ErrorCode moveTo(const std::wstring& name) = 0;
    // Removes the copy. 0 once its temporary name is gone; else why the
    // name remains (another program still has it open).
    virtual ErrorCode discard() = 0;
};

// A volume opened to have everything of it that waits in the system's cache
// put on the disk in one step. `flush` may be called from another thread.
class Volume {
  public:
    virtual ~Volume() = default;
    virtual std::uint32_t serial() const = 0;
    virtual ErrorCode flush() = 0;
};

// How a registry value is stored, as far as the commands tell apart.
enum class ValueKind { Missing, Text, Other }; // Text: REG_SZ or REG_EXPAND_SZ

// Something the program holds until it is destroyed.
class Held {
  public:
    virtual ~Held() = default;
};

// The cache folder, held open for the span of a command: no other program
// can rename or remove it meanwhile (on Windows, nor any folder above it),
// and the names in it are reached through it, never by a path looked up
// again, so a folder swapped for another changes nothing a command writes.
class Folder : public Held {};

class Services {
  public:
    virtual ~Services() = default;

    // The directories as the system reports them, not terminated or
    // otherwise changed. An empty text with `error` set when the call fails.
    virtual std::wstring systemDirectory(ErrorCode& error) = 0;
    virtual std::wstring windowsDirectory(ErrorCode& error) = 0;
    // Full path of the running executable.
    virtual std::wstring modulePath() = 0;
    // A text value under HKEY_LOCAL_MACHINE, as the system itself sees it
    // (on 64-bit Windows its 64-bit view): `text` is the value up to its
    // first null when it is text.
    virtual ValueKind machineValue(const std::wstring& key, const std::wstring& name,
                                   std::wstring& text) = 0;

    virtual Attributes attributes(const std::wstring& path) = 0;
    // The entries directly in `folder`, appended to `entries`: files of
    // every attribute when `directories` is false, else the sub-folders
    // (without "." and ".."). Their order is the file system's.
    virtual ErrorCode listFolder(const std::wstring& folder, bool directories,
                                 std::vector<FolderEntry>& entries) = 0;
    // `path` in the system's normal form (no "." or ".." segments, no
    // doubled separators, backslashes only), as a Win32 call would take it.
    virtual std::wstring fullPath(const std::wstring& path) = 0;
    // Creates the cache folder (its last level only) so that only
    // administrators and the system may write into it, whatever the rights
    // of the folder above. Fails with errorAlreadyExists when it exists.
    virtual ErrorCode createFolder(const std::wstring& path) = 0;
    // Holds the folder `path` (see Folder); errorNotAFolder for a file.
    virtual ErrorCode holdFolder(const std::wstring& path, std::unique_ptr<Folder>& folder) = 0;
    // Removes a file whatever its attributes (read-only, hidden, system).
    virtual ErrorCode deleteFile(const std::wstring& path) = 0;
    // The calls below that take a Folder and a bare `name` reach the name
    // through the held folder, without following a link there.

    // Removes a file of the program's own left at `name` (a temporary copy
    // of a killed run, a lock), only when it is a plain file with one link
    // that is not read-only (the program's own never are). 0 once no file
    // of that name remains; errorNotPlainFile, untouched, for a link, a
    // reparse point, a folder or a read-only file; else why the name
    // remains (another program holds the file, or holds it deleted: the
    // system keeps the name until it lets go).
    virtual ErrorCode removeOwnFile(Folder& folder, const std::wstring& name) = 0;
    // Copies `from` to a new file `name` in `folder`, which must not exist:
    // a name that exists is never opened. The copy has the source's
    // attributes but read-only (so that it can be moved, replaced and
    // removed) and its last-write date, and stays open in `copy`. A failure
    // leaves no file at `name` and says in `side` where it failed.
    virtual ErrorCode copyFile(const std::wstring& from, Folder& folder, const std::wstring& name,
                               std::unique_ptr<OpenCopy>& copy, CopySide& side) = 0;
    // The volume holding `path`, opened for whole-volume flushes. Fails
    // where the system does not allow them (without administrator rights).
    virtual ErrorCode openVolume(const std::wstring& path, std::unique_ptr<Volume>& volume) = 0;
    // Runs `work`, which must not touch the window, on a second thread and
    // returns once that has ended, the window answering meanwhile: for
    // calls that can block for seconds, such as flushes on a busy disk.
    virtual void aside(const std::function<void()>& work) = 0;
    // A clock in milliseconds from some fixed moment; it wraps.
    virtual std::uint32_t ticks() = 0;
    // Waits `ms` milliseconds, the window answering. False when it gave up
    // early because the call in progress must stop (the session ends).
    virtual bool pause(std::uint32_t ms) = 0;
    // Creates `name` (or opens it, when left over, whatever its attributes)
    // so that no other program can open it while `held` lives; it is
    // removed when released, also by a program that is killed. Fails with
    // errorSharingViolation while another program holds it.
    virtual ErrorCode lockFile(Folder& folder, const std::wstring& name,
                               std::unique_ptr<Held>& held) = 0;
    // What would make Windows refuse to move a file over `name`:
    // errorSharingViolation while another program has it open, in any
    // mode; errorFileReadOnly when it is read-only; 0 for neither (or no
    // such file); else why it could not be asked.
    virtual ErrorCode replaceBlocker(Folder& folder, const std::wstring& name) = 0;
    // Only for a plain file with one link: else errorNotPlainFile,
    // unchanged.
    virtual ErrorCode setReadOnly(Folder& folder, const std::wstring& name, bool readOnly) = 0;
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

    // Called now and then during long calls (large listings, copies, waits),
    // so a window can go on answering the system while they run. When `goOn`
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
