// Changes to the program's own files made through handles, never by name:
// the cache folder may be one that other users can write into, and a name
// there may be a link they planted to a file elsewhere.
#pragma once

#include "platform/handles.h"
#include "platform/services.h"

#include <string>

#include <windows.h>

namespace platform {

// The cache folder held open for a command, shared for reading and
// writing but not for deleting: no other program can rename or remove it.
class Win32Folder : public Folder {
  public:
    Win32Folder(FileHandle handle, std::wstring path)
        : handle_(std::move(handle)), path_(std::move(path)) {}
    HANDLE handle() const { return handle_.get(); }
    // The path it was opened by: only for a file system that can move a
    // file by name alone.
    std::wstring pathOf(const std::wstring& name) const {
        return path_ + (!path_.empty() && path_.back() == L'\\' ? L"" : L"\\") + name;
    }
    // Whether a rename here may give the bare new name, with no folder
    // handle: the simple rename every NT file system does. Wine takes only
    // a name relative to the folder's handle.
    bool simpleRename = true;

  private:
    FileHandle handle_;
    std::wstring path_;
};

constexpr ErrorCode errorNotSupported = 50; // ERROR_NOT_SUPPORTED
// Gives the file open as `file` (opened with DELETE access), which lies in
// `folder`, the name `name` there, replacing a file of that name.
// errorNotSupported where the system or the file system cannot rename
// through a handle.
ErrorCode renameThroughHandle(HANDLE file, Win32Folder& folder, const std::wstring& name);
// Marks the file open as `file` (with DELETE access) to be removed when its
// last handle closes.
ErrorCode deleteThroughHandle(HANDLE file);

// The native open options the program's own files are opened with.
namespace open_options {
constexpr ULONG nonDirectory = 0x40;              // FILE_NON_DIRECTORY_FILE
constexpr ULONG sequential = 0x4;                 // FILE_SEQUENTIAL_ONLY
constexpr ULONG deleteOnClose = 0x1000;           // FILE_DELETE_ON_CLOSE
constexpr ULONG backupIntent = 0x4000;            // FILE_OPEN_FOR_BACKUP_INTENT: folders too
constexpr ULONG noFollow = 0x200000;              // FILE_OPEN_REPARSE_POINT
constexpr ULONG open = 1, create = 2, openIf = 3; // dispositions
constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
} // namespace open_options

// The rights the program gives a cache folder it creates, in the form
// CreateDirectoryW takes; built with the calls Windows 2000 has.
class CacheFolderRights {
  public:
    CacheFolderRights();
    CacheFolderRights(const CacheFolderRights&) = delete;
    CacheFolderRights& operator=(const CacheFolderRights&) = delete;
    // Null, with the error, where they could not be built.
    SECURITY_ATTRIBUTES* attributes() { return built_ ? &attributes_ : nullptr; }
    ErrorCode error() const { return error_; }

  private:
    struct Sid {
        PSID sid = nullptr;
        Sid(BYTE count, DWORD first, DWORD second);
        ~Sid();
        Sid(const Sid&) = delete;
        Sid& operator=(const Sid&) = delete;
    };
    Sid admins_, system_, users_;
    DWORD acl_[64] = {};
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool built_ = false;
    ErrorCode error_ = 0;
};

} // namespace platform
