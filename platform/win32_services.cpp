#include "platform/win32_services.h"

#include "platform/handles.h"
#include "platform/redirection.h"

#include <windows.h>

#include <shellapi.h>

#include <climits>
#include <cwchar>
#include <memory>

namespace platform {

namespace {

bool wideToAnsi(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX / 4) return false;
    const int length = static_cast<int>(text.size());
    // On a system whose ANSI code page is UTF-8 (Windows 10 on) the
    // substitution flag is not allowed; invalid input is refused by
    // WC_ERR_INVALID_CHARS instead, which older systems reject but never
    // see here.
    constexpr DWORD errInvalidChars = 0x80; // WC_ERR_INVALID_CHARS
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? errInvalidChars : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    // One call in the usual case: no code page takes more than three bytes
    // for a UTF-16 unit. A backup converts every name of the folder.
    out.resize(text.size() * 3);
    const int written = ::WideCharToMultiByte(CP_ACP, flags, text.data(), length, &out[0],
                                              static_cast<int>(out.size()), nullptr, used);
    if (written <= 0 || usedDefault) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(written));
    return true;
}

bool ansiToWide(const std::string& bytes, std::wstring& out) {
    out.clear();
    if (bytes.empty()) return true;
    if (bytes.size() > INT_MAX) return false;
    const int length = static_cast<int>(bytes.size());
    const int size =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (size <= 0) return false;
    out.resize(static_cast<std::size_t>(size));
    const int written =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, &out[0], size);
    if (written != size) {
        out.clear();
        return false;
    }
    return true;
}

Attributes attributesFrom(DWORD bits) {
    Attributes a;
    if (bits == INVALID_FILE_ATTRIBUTES) return a;
    a.exists = true;
    a.directory = (bits & FILE_ATTRIBUTE_DIRECTORY) != 0;
    a.hidden = (bits & FILE_ATTRIBUTE_HIDDEN) != 0;
    a.system = (bits & FILE_ATTRIBUTE_SYSTEM) != 0;
    a.readOnly = (bits & FILE_ATTRIBUTE_READONLY) != 0;
    return a;
}

std::wstring joinPattern(const std::wstring& folder) {
    std::wstring pattern = folder;
    if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
    return pattern + L'*';
}

class FileReader : public ByteReader {
  public:
    explicit FileReader(FileHandle file) : file_(std::move(file)) {}
    ErrorCode read(char* buffer, std::size_t capacity, std::size_t& got) override {
        DWORD n = 0;
        const DWORD want = capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
        if (!::ReadFile(file_.get(), buffer, want, &n, nullptr)) {
            const ErrorCode error = ::GetLastError();
            got = 0;
            return error;
        }
        got = n;
        return 0;
    }

  private:
    FileHandle file_;
};

} // namespace

// Both directory queries share the buffer-size trap: the call returns the
// characters written, or the size needed (NUL included) when the buffer is
// too small. Start with the classic 255 characters and ask again with the
// reported size, so a long directory is never cut short.
std::wstring queryDirectory(const DirectoryQuery& query, ErrorCode& error) {
    std::string buffer(255, '\0');
    for (;;) {
        const unsigned n = query(&buffer[0], static_cast<unsigned>(buffer.size()));
        if (n == 0) {
            error = ::GetLastError();
            return std::wstring();
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.assign(n, '\0');
    }
    std::wstring wide;
    if (!ansiToWide(buffer, wide)) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return std::wstring();
    }
    error = 0;
    return wide;
}

std::wstring Win32Services::systemDirectory(ErrorCode& error) {
    return queryDirectory([](char* b, unsigned n) { return ::GetSystemDirectoryA(b, n); }, error);
}

std::wstring Win32Services::windowsDirectory(ErrorCode& error) {
    return queryDirectory([](char* b, unsigned n) { return ::GetWindowsDirectoryA(b, n); }, error);
}

std::wstring Win32Services::modulePath() {
    // GetModuleFileNameW signals truncation by filling the whole buffer.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

ValueKind Win32Services::machineValue(const std::wstring& key, const std::wstring& name,
                                      std::wstring& text) {
    text.clear();
    // A 32-bit program on 64-bit Windows is shown a 32-bit copy of much of
    // the machine's registry unless it asks for the system's own; Windows
    // 2000 does not know that flag.
    constexpr REGSAM systemView = 0x0100; // KEY_WOW64_64KEY
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0,
                        KEY_QUERY_VALUE | (onWow64() ? systemView : 0), &opened) != ERROR_SUCCESS)
        return ValueKind::Missing;
    const RegistryKey open(opened);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(opened, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return ValueKind::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ValueKind::Other;
    // The value may change between the two calls: ask again while it grew.
    std::wstring buffer;
    LONG read = ERROR_MORE_DATA;
    for (int tries = 0; tries < 4 && read == ERROR_MORE_DATA; ++tries) {
        buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        read = ::RegQueryValueExW(opened, name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(&buffer[0]), &size);
    }
    if (read != ERROR_SUCCESS) return ValueKind::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ValueKind::Other;
    // Stored text need not end with a null, and may hold one early.
    buffer.resize(size / sizeof(wchar_t));
    text = buffer.substr(0, buffer.find(L'\0'));
    return ValueKind::Text;
}

Attributes Win32Services::attributes(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    return attributesFrom(::GetFileAttributesW(path.c_str()));
}

ErrorCode Win32Services::listFolder(const std::wstring& folder, bool directories,
                                    std::vector<FolderEntry>& entries) {
    RedirectionOff realSystemFolder;
    const auto beat = [this, &realSystemFolder] {
        const RedirectionOff::BackOn usual(realSystemFolder);
        return heartbeat();
    };
    return listing_.list(
        [&](Listing how) { return listFolderWith(how, folder, directories, entries, beat); });
}

std::wstring Win32Services::fullPath(const std::wstring& path) {
    // Asked again with the size it needs; as it stands where it fails.
    std::wstring buffer(MAX_PATH, L'\0');
    for (int tries = 0; tries < 4; ++tries) {
        const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                                           &buffer[0], nullptr);
        if (n == 0) break;
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(n, L'\0');
    }
    return path;
}

ErrorCode Win32Services::deleteFile(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    return removeFile(path);
}

ErrorCode Win32Services::writeNewFile(const std::wstring& path, const std::string& bytes) {
    const RedirectionOff realSystemFolder;
    // A leftover (perhaps hidden or read-only) file of that name would make
    // creation fail: say why it cannot be removed.
    if (const ErrorCode stuck = removeFile(path); stuck != 0 && stuck != ERROR_FILE_NOT_FOUND)
        return stuck;
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    ErrorCode error = 0;
    std::size_t done = 0;
    while (done < bytes.size() && error == 0) {
        const std::size_t left = bytes.size() - done;
        const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
            error = ::GetLastError();
        else if (written == 0)
            error = ERROR_WRITE_FAULT;
        done += written;
    }
    if (error == 0 && !::FlushFileBuffers(file.get())) error = ::GetLastError();
    const HANDLE raw = file.release();
    if (!::CloseHandle(raw) && error == 0) error = ::GetLastError();
    if (error != 0) ::DeleteFileW(path.c_str());
    return error;
}

ErrorCode Win32Services::replaceFile(const std::wstring& from, const std::wstring& to) {
    const RedirectionOff realSystemFolder;
    return ::MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : ::GetLastError();
}

ErrorCode Win32Services::openRead(const std::wstring& path, std::unique_ptr<ByteReader>& reader) {
    const RedirectionOff realSystemFolder;
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return ::GetLastError();
    reader = std::make_unique<FileReader>(std::move(file));
    return 0;
}

bool Win32Services::toAnsi(const std::wstring& text, std::string& out) {
    return wideToAnsi(text, out);
}

bool Win32Services::fromAnsi(const std::string& bytes, std::wstring& out) {
    return ansiToWide(bytes, out);
}

std::wstring Win32Services::caseKey(const std::wstring& name) {
    // The system's own upper-case table, as the file system compares names.
    std::wstring key = name;
    if (!key.empty()) ::CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

void Win32Services::shellOpen(const std::string& address, int showCommand) {
    // No owner, no verb, no parameters, no folder.
    ::ShellExecuteA(nullptr, nullptr, address.c_str(), nullptr, nullptr, showCommand);
}

std::wstring Win32Services::errorReason(ErrorCode error) {
    return errorMessage(error);
}

std::wstring errorMessage(ErrorCode error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message;
    if (n != 0 && text != nullptr) message.assign(text, n);
    if (text != nullptr) ::LocalFree(text);
    // One line: some texts carry line breaks of their own, and all end in one.
    for (wchar_t& c : message)
        if (c == L'\r' || c == L'\n') c = L' ';
    while (!message.empty() && message.back() == L' ')
        message.pop_back();
    return message.empty() ? L"未知错误" : message;
}

FARPROC lookUp(const wchar_t* dll, const char* name) {
    const HMODULE module = ::GetModuleHandleW(dll);
    return module == nullptr ? nullptr : ::GetProcAddress(module, name);
}

bool onWow64() {
    // Windows 2000 has no IsWow64Process: it runs only 32-bit programs.
    static const bool wow64 = [] {
        using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
        const auto isWow64 = systemFunction<IsWow64>(L"kernel32.dll", "IsWow64Process");
        BOOL answer = FALSE;
        return isWow64 != nullptr && isWow64(::GetCurrentProcess(), &answer) && answer;
    }();
    return wow64;
}

bool systemHasFastListing() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExW(&version)) return false;
    return version.dwMajorVersion > 6 ||
           (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1);
}

ErrorCode ListingChoice::list(const std::function<ErrorCode(Listing)>& lister) {
    ErrorCode error = lister(how_);
    // How a system answers a level or flag it does not know.
    const bool rejected = error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_LEVEL ||
                          error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FLAGS;
    if (how_ == Listing::Fast && rejected) {
        how_ = Listing::Compatible;
        error = lister(how_);
    }
    return error;
}

ErrorCode listFolderWith(Listing how, const std::wstring& folder, bool directories,
                         std::vector<FolderEntry>& entries, const std::function<bool()>& beat) {
    constexpr int basicInfo = 1;           // FindExInfoBasic: no short names
    constexpr DWORD largeFetch = 2;        // FIND_FIRST_EX_LARGE_FETCH: batched reads
    constexpr std::size_t beatEvery = 256; // entries between two heartbeats
    if (beat && !beat()) return errorCancelled;
    const std::wstring pattern = joinPattern(folder);
    WIN32_FIND_DATAW data;
    FindHandle find(how == Listing::Fast
                        ? ::FindFirstFileExW(pattern.c_str(),
                                             static_cast<FINDEX_INFO_LEVELS>(basicInfo), &data,
                                             FindExSearchNameMatch, nullptr, largeFetch)
                        : ::FindFirstFileW(pattern.c_str(), &data));
    if (!find) {
        const ErrorCode error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    std::size_t seen = 0;
    do {
        if (++seen % beatEvery == 0 && beat && !beat()) return errorCancelled;
        const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDirectory != directories) continue;
        const wchar_t* n = data.cFileName;
        if (isDirectory && n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
        entries.push_back({n, attributesFrom(data.dwFileAttributes)});
    } while (::FindNextFileW(find.get(), &data));
    const ErrorCode error = ::GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

} // namespace platform
