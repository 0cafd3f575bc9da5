// Changes to the program's own files made through handles, never by name:
// the cache folder may be one that other users can write into, and a name
// there may be a link they planted to a file elsewhere.
#pragma once

#include "platform/services.h"

#include <string>

#include <windows.h>

namespace platform {

// Gives the file open as `file` (opened with DELETE access) the name `to`,
// replacing a file there. errorNotSupported where the system or the file
// system cannot rename through a handle.
ErrorCode renameThroughHandle(HANDLE file, const std::wstring& to);
constexpr ErrorCode errorNotSupported = 50; // ERROR_NOT_SUPPORTED
// Removes a file of the program's own, as Services::removeOwnFile does.
ErrorCode removeLeftover(const std::wstring& path);
// Marks the file open as `file` (with DELETE access) to be removed when its
// last handle closes.
ErrorCode deleteThroughHandle(HANDLE file);

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
