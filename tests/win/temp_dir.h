// What the Windows tests make and remove again: a throwaway folder, its
// files, and a value of the machine's registry.
#pragma once

#include <windows.h>

#include <string>

namespace testing_win {

// A folder under the user's temporary folder, removed with all its
// contents at the end of the test.
class TempDir {
  public:
    TempDir() {
        wchar_t base[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, base);
        for (unsigned n = ::GetTickCount();; ++n) {
            path_ = std::wstring(base) + L"kestrum-test-" +
                    std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(n);
            if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
        }
    }
    ~TempDir() { removeTree(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

    static void removeTree(const std::wstring& folder) {
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring path = folder + L"\\" + name;
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    removeTree(path);
                else
                    ::DeleteFileW(path.c_str());
            } while (::FindNextFileW(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(folder.c_str());
    }

  private:
    std::wstring path_;
};

inline void writeFile(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    if (attributes != 0) ::SetFileAttributesW(path.c_str(), attributes);
}

// A hard or symbolic link at `link` to `target`, as another user may plant
// one. Wine makes no symbolic links itself: there a Linux `ln -s` does.
inline bool plantLink(const std::wstring& link, const std::wstring& target, bool symbolic) {
    if (!symbolic) return ::CreateHardLinkW(link.c_str(), target.c_str(), nullptr) != FALSE;
    using UnixName = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) {
        using MakeLink = BOOLEAN(WINAPI*)(const wchar_t*, const wchar_t*, DWORD);
        const auto make = reinterpret_cast<MakeLink>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
        return make != nullptr && make(link.c_str(), target.c_str(), 0) != FALSE;
    }
    char* from = unixName(target.c_str());
    std::wstring folder = link.substr(0, link.find_last_of(L'\\'));
    char* in = unixName(folder.c_str());
    if (from == nullptr || in == nullptr) return false;
    const std::string name(link.begin() + static_cast<std::ptrdiff_t>(folder.size()) + 1,
                           link.end());
    std::string line = std::string("/bin/ln -s \"") + from + "\" \"" + in + "/" + name + "\"";
    ::HeapFree(::GetProcessHeap(), 0, from);
    ::HeapFree(::GetProcessHeap(), 0, in);
    std::wstring command(line.begin(), line.end());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        return false;
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    // 64-bit Wine reports a Linux program ended before it has.
    for (int waited = 0; waited < 10000; waited += 20) {
        if (::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        ::Sleep(20);
    }
    return false;
}

inline std::string readFile(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(h);
    return bytes;
}

// A text value under HKEY_LOCAL_MACHINE, set for the life of the object in
// the registry view `view` asks for, else in the system's own.
class MachineValue {
  public:
    MachineValue(const std::wstring& key, const std::wstring& name, DWORD type,
                 const std::wstring& text, REGSAM view = systemView())
        : key_(key), name_(name), view_(view) {
        HKEY k = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                              nullptr, &k, nullptr) != ERROR_SUCCESS)
            return;
        set_ = ::RegSetValueExW(
                   k, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        ::RegCloseKey(k);
    }
    ~MachineValue() {
        HKEY k = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE | view_, &k) !=
            ERROR_SUCCESS)
            return;
        ::RegDeleteValueW(k, name_.c_str());
        ::RegCloseKey(k);
    }
    MachineValue(const MachineValue&) = delete;
    MachineValue& operator=(const MachineValue&) = delete;
    bool set() const { return set_; }
    static REGSAM systemView() {
        BOOL wow64 = FALSE;
        return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
    }

  private:
    std::wstring key_, name_;
    REGSAM view_;
    bool set_ = false;
};

} // namespace testing_win
