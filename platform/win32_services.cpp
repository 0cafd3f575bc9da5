#include "platform/win32_services.h"

#include "platform/handles.h"

#include <windows.h>

#include <shellapi.h>

#include <climits>

namespace platform {

namespace {

bool wideToAnsi(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    if (text.size() > INT_MAX / 4) return false;
    const int length = static_cast<int>(text.size());
    // On a system whose ANSI code page is UTF-8 the substitution flag is not
    // allowed; invalid input is refused by WC_ERR_INVALID_CHARS instead.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int size =
        ::WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, used);
    if (size <= 0 || usedDefault) return false;
    out.resize(static_cast<std::size_t>(size));
    const int written =
        ::WideCharToMultiByte(CP_ACP, flags, text.data(), length, &out[0], size, nullptr, used);
    if (written != size || usedDefault) {
        out.clear();
        return false;
    }
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

// A 32-bit program on 64-bit Windows sees the 32-bit system folder in place
// of the real one. The commands work on the real system folder and its
// dllcache, so redirection is off for the span of each of their file calls
// and nowhere else. Elsewhere the calls fail and change nothing.
class RedirectionOff {
  public:
    RedirectionOff() {
        static const Functions f = load();
        revert_ = f.revert;
        active_ = f.disable != nullptr && f.disable(&old_) != FALSE;
    }
    ~RedirectionOff() {
        if (active_) revert_(old_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

  private:
    using Disable = BOOL(WINAPI*)(PVOID*);
    using Revert = BOOL(WINAPI*)(PVOID);
    struct Functions {
        Disable disable = nullptr;
        Revert revert = nullptr;
    };
    static Functions load() {
        Functions f;
        BOOL wow64 = FALSE;
        if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64) return f;
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        f.disable = reinterpret_cast<Disable>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        f.revert = reinterpret_cast<Revert>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
        if (f.revert == nullptr) f.disable = nullptr;
        return f;
    }
    Revert revert_ = nullptr;
    PVOID old_ = nullptr;
    bool active_ = false;
};

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

Attributes Win32Services::attributes(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    return attributesFrom(::GetFileAttributesW(path.c_str()));
}

ErrorCode Win32Services::listFolder(const std::wstring& folder, bool directories,
                                    std::vector<FolderEntry>& entries) {
    const RedirectionOff realSystemFolder;
    const std::wstring pattern = joinPattern(folder);
    WIN32_FIND_DATAW data;
    // Basic info and large fetch skip the short names and batch the
    // directory reads; systems older than Windows 7 reject them.
    FindHandle find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        ErrorCode error = ::GetLastError();
        if (error == ERROR_INVALID_PARAMETER) {
            find.reset(::FindFirstFileW(pattern.c_str(), &data));
            if (!find) error = ::GetLastError();
        }
        if (!find) return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    do {
        const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDirectory != directories) continue;
        const wchar_t* n = data.cFileName;
        if (isDirectory && n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
        entries.push_back({n, attributesFrom(data.dwFileAttributes)});
    } while (::FindNextFileW(find.get(), &data));
    const ErrorCode error = ::GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

ErrorCode Win32Services::createFolder(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    return ::CreateDirectoryW(path.c_str(), nullptr) ? 0 : ::GetLastError();
}

ErrorCode Win32Services::deleteFile(const std::wstring& path) {
    const RedirectionOff realSystemFolder;
    return ::DeleteFileW(path.c_str()) ? 0 : ::GetLastError();
}

ErrorCode Win32Services::copyFile(const std::wstring& from, const std::wstring& to) {
    const RedirectionOff realSystemFolder;
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) ? 0 : ::GetLastError();
}

ErrorCode Win32Services::writeNewFile(const std::wstring& path, const std::string& bytes) {
    const RedirectionOff realSystemFolder;
    // A leftover (perhaps hidden) file of that name would make creation fail.
    ::DeleteFileW(path.c_str());
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

void Win32Services::shellOpen(const std::string& address) {
    // No owner, no verb, no parameters, no folder, show state 0.
    ::ShellExecuteA(nullptr, nullptr, address.c_str(), nullptr, nullptr, 0);
}

std::wstring Win32Services::errorText(ErrorCode error) {
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
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    if (message.empty()) message = L"未知错误";
    return message + L" (错误代码 " + std::to_wstring(error) + L")";
}

} // namespace platform
