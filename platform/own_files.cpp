// The program's own files in the cache folder: the leftovers of a killed
// run, the lock, the attribute of a read-only cache file and the folder
// itself, each changed through a handle that does not follow links.
#include "platform/own_files.h"

#include "platform/handles.h"
#include "platform/redirection.h"
#include "platform/win32_services.h"

#include <cstddef>
#include <cstring>
#include <memory>

namespace platform {

namespace {

class LockFile : public Held {
  public:
    explicit LockFile(FileHandle file) : file_(std::move(file)) {}

  private:
    FileHandle file_;
};

// The structures of the native file calls, as ntdll defines them.
struct IoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
struct DispositionInformation {
    BOOLEAN deleteFile;
};
struct BasicInformation {
    LARGE_INTEGER creation, lastAccess, lastWrite, change; // 0: unchanged
    ULONG attributes;
};
constexpr int fileBasicInformation = 4;
constexpr int fileRenameInformation = 10;
constexpr int fileDispositionInformation = 13;

// NtSetInformationFile: on Windows 2000 and XP the one way to rename,
// remove or change a file through its handle (SetFileInformationByHandle
// came with Vista).
ErrorCode setInformation(HANDLE file, void* data, std::size_t size, int kind) {
    using SetInformation = LONG(NTAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
    using StatusToError = ULONG(NTAPI*)(LONG);
    static const auto set = systemFunction<SetInformation>(L"ntdll.dll", "NtSetInformationFile");
    static const auto toError =
        systemFunction<StatusToError>(L"ntdll.dll", "RtlNtStatusToDosError");
    if (set == nullptr || toError == nullptr) return errorNotSupported;
    IoStatus io = {};
    const LONG status = set(file, &io, data, static_cast<ULONG>(size), kind);
    return status >= 0 ? 0 : toError(status);
}

ErrorCode setAttributesThroughHandle(HANDLE file, DWORD attributes) {
    BasicInformation info = {};
    info.attributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return setInformation(file, &info, sizeof(info), fileBasicInformation);
}

// The native form of a full path: \??\C:\... or \??\UNC\server\share\...
std::wstring nativePath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return L"\\??\\" + path.substr(4);
    if (path.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + path.substr(2);
    return L"\\??\\" + path;
}

bool missing(ErrorCode error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Opens what stands at `path` itself; `info` describes it.
ErrorCode openOwnFile(const std::wstring& path, FileHandle& file,
                      BY_HANDLE_FILE_INFORMATION& info) {
    // Shared for everything, so that a file another program holds deleted
    // is still seen as such; backup semantics, so that a folder is seen as
    // one rather than refused.
    file.reset(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return ::GetLastError();
    if (!::GetFileInformationByHandle(file.get(), &info)) {
        const ErrorCode error = ::GetLastError();
        file.reset();
        return error;
    }
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((info.dwFileAttributes & notPlain) != 0 || info.nNumberOfLinks != 1) {
        file.reset();
        return errorNotPlainFile;
    }
    return 0;
}

} // namespace

ErrorCode renameThroughHandle(HANDLE file, const std::wstring& to) {
    const std::wstring name = nativePath(to);
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    const std::size_t size = offsetof(RenameInformation, fileName) + bytes + sizeof(wchar_t);
    // Whole pointers, so that the structure is aligned as the system wants.
    const std::unique_ptr<ULONG_PTR[]> buffer(
        new ULONG_PTR[(size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR)]());
    auto* info = reinterpret_cast<RenameInformation*>(buffer.get());
    info->replaceIfExists = TRUE;
    info->rootDirectory = nullptr;
    info->fileNameLength = static_cast<ULONG>(bytes);
    std::memcpy(info->fileName, name.data(), bytes);
    const ErrorCode error = setInformation(file, info, size, fileRenameInformation);
    // How a file system (or redirector) without it answers.
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
        error == ERROR_CALL_NOT_IMPLEMENTED)
        return errorNotSupported;
    return error;
}

ErrorCode deleteThroughHandle(HANDLE file) {
    DispositionInformation info = {TRUE};
    return setInformation(file, &info, sizeof(info), fileDispositionInformation);
}

ErrorCode Win32Services::removeOwnFile(const std::wstring& path) {
    return removeLeftover(path);
}

ErrorCode removeLeftover(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    FileHandle file;
    BY_HANDLE_FILE_INFORMATION info;
    ErrorCode error = openOwnFile(path, file, info);
    if (missing(error)) return 0;
    if (error != 0) return error;
    // The program's own files are never read-only. Such a file was put
    // there by someone else; Wine, which follows a link even where told
    // not to, would clear the mark of the file the link points to.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return errorNotPlainFile;
    error = deleteThroughHandle(file.get());
    file.reset();
    if (error != 0) return error;
    // The name goes once no other program holds the file; until then
    // Windows refuses to look at it, and Wine shows it as it was.
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return ERROR_ACCESS_DENIED;
    error = ::GetLastError();
    return missing(error) ? 0 : error;
}

ErrorCode Win32Services::setReadOnly(const std::wstring& path, bool readOnly) {
    const RedirectionOff realSystemFolder;
    FileHandle file;
    BY_HANDLE_FILE_INFORMATION info;
    if (const ErrorCode error = openOwnFile(path, file, info)) return error;
    const DWORD bits = readOnly ? (info.dwFileAttributes | FILE_ATTRIBUTE_READONLY)
                                : (info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    return setAttributesThroughHandle(file.get(), bits);
}

ErrorCode Win32Services::lockFile(const std::wstring& path, std::unique_ptr<Held>& held) {
    const RedirectionOff realSystemFolder;
    // Shared with no one, and removed by the system when the handle closes,
    // however the program ends. Only the right to remove it is asked for:
    // a lock is never written.
    for (int tries = 0;; ++tries) {
        FileHandle file(::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE |
                                          FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
        if (file) {
            held = std::make_unique<LockFile>(std::move(file));
            return 0;
        }
        const ErrorCode error = ::GetLastError();
        // A leftover that is read-only refuses removal on close: nobody's
        // lock, cleared (through a handle, if a plain file) and taken.
        if (error != ERROR_ACCESS_DENIED || tries > 0 || setReadOnly(path, false) != 0)
            return error;
    }
}

ErrorCode Win32Services::notHeld(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    // Delete access shared with no one: refused while any program has the
    // file open, as a move over it would be.
    FileHandle file(::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) return 0;
    const ErrorCode error = ::GetLastError();
    return missing(error) ? 0 : error;
}

CacheFolderRights::Sid::Sid(BYTE count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!::AllocateAndInitializeSid(&nt, count, first, second, 0, 0, 0, 0, 0, 0, &sid))
        sid = nullptr;
}

CacheFolderRights::Sid::~Sid() {
    if (sid != nullptr) ::FreeSid(sid);
}

CacheFolderRights::CacheFolderRights()
    : admins_(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS),
      system_(1, SECURITY_LOCAL_SYSTEM_RID, 0),
      users_(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS) {
    // Administrators and the system may change what is in it, users may
    // read it, and nothing comes from the folder above: at a drive root
    // that would let every user create files there.
    auto* acl = reinterpret_cast<PACL>(acl_);
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    built_ = admins_.sid != nullptr && system_.sid != nullptr && users_.sid != nullptr &&
             ::InitializeAcl(acl, sizeof(acl_), ACL_REVISION) &&
             ::AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, admins_.sid) &&
             ::AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, system_.sid) &&
             ::AddAccessAllowedAceEx(acl, ACL_REVISION, inherit,
                                     FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, users_.sid) &&
             ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!built_) error_ = ::GetLastError();
    attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
}

ErrorCode Win32Services::createFolder(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    CacheFolderRights rights;
    if (rights.attributes() == nullptr) return rights.error();
    return ::CreateDirectoryW(path.c_str(), rights.attributes()) ? 0 : ::GetLastError();
}

} // namespace platform
