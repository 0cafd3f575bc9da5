// The held cache folder and the program's own files in it: the leftovers
// of a killed run, the lock and the attribute of a read-only cache file,
// each reached through the folder's handle without following a link.
#include "platform/own_files.h"

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
struct NativeName {
    USHORT length, maximumLength; // in bytes
    PWSTR buffer;
};
struct ObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    NativeName* objectName;
    ULONG attributes;
    PVOID securityDescriptor, securityQualityOfService;
};
constexpr ULONG caseInsensitive = 0x40; // OBJ_CASE_INSENSITIVE
constexpr ULONG synchronousIo = 0x20;   // FILE_SYNCHRONOUS_IO_NONALERT
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
// What SetFileAttributes lets through: no compressed, sparse, encrypted
// or other bits that only the file system sets.
constexpr DWORD settableAttributes = 0x31A7; // FILE_ATTRIBUTE_VALID_SET_FLAGS

using StatusToError = ULONG(NTAPI*)(LONG);
ErrorCode errorOf(LONG status) {
    static const auto toError =
        systemFunction<StatusToError>(L"ntdll.dll", "RtlNtStatusToDosError");
    if (status >= 0) return 0;
    return toError != nullptr ? toError(status) : ERROR_GEN_FAILURE;
}

// NtSetInformationFile: on Windows 2000 and XP the one way to rename,
// remove or change a file through its handle (SetFileInformationByHandle
// came with Vista).
ErrorCode setInformation(HANDLE file, void* data, std::size_t size, int kind) {
    using SetInformation = LONG(NTAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
    static const auto set = systemFunction<SetInformation>(L"ntdll.dll", "NtSetInformationFile");
    if (set == nullptr) return errorNotSupported;
    IoStatus io = {};
    return errorOf(set(file, &io, data, static_cast<ULONG>(size), kind));
}

ErrorCode setAttributesThroughHandle(HANDLE file, DWORD attributes) {
    BasicInformation info = {};
    attributes &= settableAttributes;
    info.attributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return setInformation(file, &info, sizeof(info), fileBasicInformation);
}

ErrorCode rename(HANDLE file, HANDLE root, const std::wstring& name) {
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    const std::size_t size = offsetof(RenameInformation, fileName) + bytes + sizeof(wchar_t);
    // Whole pointers, so that the structure is aligned as the system wants.
    const std::unique_ptr<ULONG_PTR[]> buffer(
        new ULONG_PTR[(size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR)]());
    auto* info = reinterpret_cast<RenameInformation*>(buffer.get());
    info->replaceIfExists = TRUE;
    info->rootDirectory = root;
    info->fileNameLength = static_cast<ULONG>(bytes);
    std::memcpy(info->fileName, name.data(), bytes);
    return setInformation(file, info, size, fileRenameInformation);
}

bool missing(ErrorCode error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

Win32Folder& win32(Folder& folder) {
    return static_cast<Win32Folder&>(folder);
}

// Opens what stands at `name` itself, whatever it is; `info` describes it.
// errorNotPlainFile, closed, for a folder, a reparse point or a file with
// more than one link.
ErrorCode openPlainFile(Win32Services& services, Folder& folder, const std::wstring& name,
                        ACCESS_MASK access, FileHandle& file, BY_HANDLE_FILE_INFORMATION& info) {
    using namespace open_options;
    // Shared for everything, so that a file another program holds deleted
    // is still seen as such; backup intent, so that a folder is seen as
    // one rather than refused.
    ErrorCode error = services.openOwn(folder, name, access | FILE_READ_ATTRIBUTES, shareAll, open,
                                       backupIntent, 0, file);
    if (error != 0) return error;
    if (!::GetFileInformationByHandle(file.get(), &info)) {
        error = ::GetLastError();
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

ErrorCode Win32Services::openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                                      ULONG share, ULONG disposition, ULONG options,
                                      ULONG attributes, FileHandle& file) {
    using CreateFile = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*, IoStatus*,
                                    LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    static const auto create = systemFunction<CreateFile>(L"ntdll.dll", "NtCreateFile");
    if (create == nullptr) return errorNotSupported;
    NativeName native = {static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                         static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                         const_cast<PWSTR>(name.c_str())};
    ObjectAttributes object = {sizeof(object), folder, &native, caseInsensitive, nullptr, nullptr};
    IoStatus io = {};
    HANDLE opened = nullptr;
    const LONG status = create(&opened, access, &object, &io, nullptr, attributes, share,
                               disposition, options, nullptr, 0);
    if (status < 0) return errorOf(status);
    file.reset(opened);
    return 0;
}

ErrorCode Win32Services::openOwn(Folder& folder, const std::wstring& name, ACCESS_MASK access,
                                 ULONG share, ULONG disposition, ULONG options, ULONG attributes,
                                 FileHandle& file) {
    // Only a bare name: an empty one would open the folder itself.
    if (name.empty() || name.find_first_of(L"\\/") != std::wstring::npos) return errorInvalidName;
    const RedirectionOff realSystemFolder;
    const HANDLE root = win32(folder).handle();
    access |= SYNCHRONIZE;
    options |= synchronousIo;
    ErrorCode error = openRelative(root, name, access, share, disposition,
                                   options | open_options::noFollow, attributes, file);
    // Such a file system has no links to follow.
    if (error == ERROR_INVALID_PARAMETER)
        error = openRelative(root, name, access, share, disposition, options, attributes, file);
    return error;
}

ErrorCode Win32Services::nameGone(Folder& folder, const std::wstring& name) {
    FileHandle file;
    const ErrorCode error = openOwn(folder, name, FILE_READ_ATTRIBUTES, open_options::shareAll,
                                    open_options::open, open_options::backupIntent, 0, file);
    if (missing(error)) return 0;
    // Windows refuses to open a name kept for a deleted file; Wine shows it
    // as it was.
    return error != 0 ? error : ERROR_ACCESS_DENIED;
}

ErrorCode renameThroughHandle(HANDLE file, Win32Folder& folder, const std::wstring& name) {
    // How a system or file system answers a form of rename it lacks.
    const auto lacks = [](ErrorCode e) {
        return e == ERROR_INVALID_PARAMETER || e == ERROR_INVALID_FUNCTION ||
               e == ERROR_CALL_NOT_IMPLEMENTED || e == ERROR_NOT_SUPPORTED;
    };
    if (folder.simpleRename) {
        // No folder named at all: the rename stays in the file's own folder
        // and no path of the cache is looked up.
        const ErrorCode error = rename(file, nullptr, name);
        if (error != ERROR_BAD_PATHNAME && error != ERROR_INVALID_NAME && !lacks(error))
            return error;
        folder.simpleRename = false; // Wine: only relative to the folder's handle
    }
    const ErrorCode error = rename(file, folder.handle(), name);
    return lacks(error) ? errorNotSupported : error;
}

ErrorCode deleteThroughHandle(HANDLE file) {
    DispositionInformation info = {TRUE};
    return setInformation(file, &info, sizeof(info), fileDispositionInformation);
}

ErrorCode Win32Services::removeOwnFile(Folder& folder, const std::wstring& name) {
    FileHandle file;
    BY_HANDLE_FILE_INFORMATION info;
    ErrorCode error = openPlainFile(*this, folder, name, DELETE, file, info);
    if (missing(error)) return 0;
    if (error != 0) return error;
    // The program's own files are never read-only. Such a file was put
    // there by someone else; Wine, which follows a link even where told
    // not to, would clear the mark of the file the link points to.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return errorNotPlainFile;
    error = deleteThroughHandle(file.get());
    file.reset();
    if (error != 0) return error;
    // The name goes once no other program holds the file.
    return nameGone(folder, name);
}

ErrorCode Win32Services::setReadOnly(Folder& folder, const std::wstring& name, bool readOnly) {
    FileHandle file;
    BY_HANDLE_FILE_INFORMATION info;
    // The right to change attributes alone: a file another program holds
    // without sharing it for deleting still gets its mark back.
    if (const ErrorCode error =
            openPlainFile(*this, folder, name, FILE_WRITE_ATTRIBUTES, file, info))
        return error;
    const DWORD bits = readOnly ? (info.dwFileAttributes | FILE_ATTRIBUTE_READONLY)
                                : (info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    return setAttributesThroughHandle(file.get(), bits);
}

ErrorCode Win32Services::lockFile(Folder& folder, const std::wstring& name,
                                  std::unique_ptr<Held>& held) {
    using namespace open_options;
    // Shared with no one, and removed by the system when the handle closes,
    // however the program ends. Only the right to remove it is asked for:
    // a lock is never written.
    for (int tries = 0;; ++tries) {
        FileHandle file;
        const ErrorCode error = openOwn(folder, name, DELETE, 0, openIf,
                                        nonDirectory | deleteOnClose, FILE_ATTRIBUTE_HIDDEN, file);
        if (error == 0) {
            held = std::make_unique<LockFile>(std::move(file));
            return 0;
        }
        // A leftover that is read-only refuses removal on close: nobody's
        // lock, cleared (if a plain file) and taken.
        if (error != ERROR_ACCESS_DENIED || tries > 0 || setReadOnly(folder, name, false) != 0)
            return error;
    }
}

ErrorCode Win32Services::replaceBlocker(Folder& folder, const std::wstring& name) {
    using namespace open_options;
    // Delete access shared with no one is refused while any other program
    // has the file open, whatever it shares: as a replace of it is.
    FileHandle file;
    ErrorCode error =
        openOwn(folder, name, DELETE | FILE_READ_ATTRIBUTES, 0, open, backupIntent, 0, file);
    if (missing(error)) return 0;
    if (error == ERROR_SHARING_VIOLATION) return error;
    // Without the right to delete it, its attributes can still be read.
    if (error != 0)
        error = openOwn(folder, name, FILE_READ_ATTRIBUTES, shareAll, open, backupIntent, 0, file);
    if (missing(error)) return 0;
    if (error != 0) return error;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info)) return ::GetLastError();
    return (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? errorFileReadOnly : 0;
}

ErrorCode Win32Services::holdFolder(const std::wstring& path, std::unique_ptr<Folder>& folder) {
    const RedirectionOff realSystemFolder;
    // Shared for reading and writing, not for deleting: no other program
    // can rename or remove it while it is held, and Windows refuses to
    // rename a folder above an open one.
    FileHandle held(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!held) return ::GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(held.get(), &info)) return ::GetLastError();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
    folder = std::make_unique<Win32Folder>(std::move(held), path);
    return 0;
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
